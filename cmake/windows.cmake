# The Windows build's own parts: the release folder, and, when the build is made
# on Linux, its tests run under Wine.

# The compiler's runtime DLLs, which the program and Qt's DLLs load.
set(quillmarch_runtime_dlls)
if(MINGW)
    foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                        OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
        file(REAL_PATH ${path} path)
        list(APPEND quillmarch_runtime_dlls ${path})
    endforeach()
endif()

# The release folder, made by `cmake --install <build> --prefix <folder> --strip`:
# the program, and every DLL and plugin it loads where Windows and Qt look for
# them, beside it. The sounds' backend is part of Qt6Multimedia.dll.
set(qt_dlls Qt6::Core Qt6::Gui Qt6::Widgets)
if(TARGET Qt6::Multimedia)
    list(APPEND qt_dlls Qt6::Multimedia)
endif()
foreach(target ${qt_dlls})
    install(FILES $<TARGET_FILE:${target}> DESTINATION .)
endforeach()
install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION platforms)
install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION styles)
install(FILES ${quillmarch_runtime_dlls} DESTINATION .)
# The team store's client library with the OpenSSL it loads, and their licences. The
# program loads libpq.dll when a station first connects to a server.
set(libpq_dlls)
if(PostgreSQL_FOUND)
    get_filename_component(libpq_prefix ${PostgreSQL_INCLUDE_DIR} DIRECTORY)
    file(GLOB libpq_dlls ${libpq_prefix}/bin/*.dll)
    install(FILES ${libpq_dlls} DESTINATION .)
    install(DIRECTORY ${libpq_prefix}/LICENSES/ DESTINATION LICENSES)
endif()
# The program's target is made later, in src/.
cmake_language(DEFER CALL install TARGETS quillmarch RUNTIME DESTINATION .)

# Each test runs under Wine through wine-test.sh, with Qt's and the runtime's DLLs
# on its path and Wine's files in the build folder.
if(CMAKE_CROSSCOMPILING AND CMAKE_HOST_UNIX)
    set(dll_folders ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS})
    foreach(dll ${quillmarch_runtime_dlls} ${libpq_dlls})
        get_filename_component(folder ${dll} DIRECTORY)
        list(APPEND dll_folders ${folder})
    endforeach()
    list(REMOVE_DUPLICATES dll_folders)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/cmake/wine-test.sh ${CMAKE_BINARY_DIR}/wine ${dll_folders} --)
endif()
