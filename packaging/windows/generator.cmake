# Read by CPack for each generator: the zip holds the release folder as it is, the
# installer the folder that packaging/package.sh makes of it with the installed
# program in place of the portable one.
if(CPACK_GENERATOR STREQUAL "ZIP")
    set(CPACK_INSTALLED_DIRECTORIES "${CPACK_WINDOWS_RELEASE_FOLDER};.")
    set(CPACK_PACKAGE_FILE_NAME quillmarch-${CPACK_PACKAGE_VERSION}-windows-x64)
elseif(CPACK_GENERATOR STREQUAL "NSIS")
    set(CPACK_INSTALLED_DIRECTORIES "${CPACK_WINDOWS_INSTALLER_FOLDER};.")
    set(CPACK_PACKAGE_FILE_NAME quillmarch-${CPACK_PACKAGE_VERSION}-windows-x64-setup)
endif()
