#!/bin/sh
# Makes the installable forms of the program in build-packages/, with CPack's
# package presets (./build.sh package installs what is missing and makes the
# Linux build first):
#   quillmarch_VERSION_amd64.deb              the Debian package, from build/
#   quillmarch-VERSION-windows-x64.zip        the Windows release folder, portable
#   quillmarch-VERSION-windows-x64-setup.exe  its installer, for one user
set -eu
cd "$(dirname "$0")/.."
rm -rf build-packages

cpack --preset debian

cmake/build-windows.sh
# The installer's folder: the release folder, with the program built to be installed
# in place of the portable one.
rm -rf build-windows/installer
cp -r build-windows/release build-windows/installer
rm build-windows/installer/quillmarch.exe
cmake --install build-windows --component installed --prefix build-windows/installer --strip
cpack --preset windows
ls -l build-packages
