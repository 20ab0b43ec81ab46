# Cross-compiles for 64-bit Windows from Debian with mingw-w64 (package
# g++-mingw-w64-x86-64-posix): the posix thread model, which Qt's mingw builds use.
# Quillmarch's build passes Qt for Windows' qt.toolchain.cmake as CMAKE_TOOLCHAIN_FILE
# and this file as its QT_CHAINLOAD_TOOLCHAIN_FILE; building Qt itself passes this
# file with QT_WINDOWS_PREFIX, the folder Qt is installed to (build.sh does both).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(triplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER /usr/bin/${triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER /usr/bin/${triplet}-g++-posix)
set(CMAKE_RC_COMPILER /usr/bin/${triplet}-windres)
set(CMAKE_AR /usr/bin/${triplet}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB /usr/bin/${triplet}-ranlib CACHE FILEPATH "")

# Headers, libraries and packages from the Windows side only; programs from the host.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${triplet} ${QT_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
