#!/bin/sh
# Makes the Windows release folder, build-windows/release: quillmarch.exe with
# the DLLs and plugins it needs, cross-built with mingw-w64 (./build.sh windows
# installs the packages first). The tests are built beside it; `ctest` in
# build-windows runs them under Wine.
#
# Qt for Windows: the prebuilt tree in ../shared/qt6-windows/ where it is at
# hand, else built once from Debian's source by build-qt-windows.sh (about 40
# minutes); either way kept in build-windows/qt. SQLite: the amalgamation that
# the npm package sqlite3 ships unmodified, as sqlite.org publishes it.
set -eu
cd "$(dirname "$0")/.."
build=$PWD/build-windows
mkdir -p "$build"

qt=$build/qt
if [ ! -f "$qt/made" ]; then
    rm -rf "$qt"
    prebuilt=../shared/qt6-windows/qt6.4.2-mingw64.tar.gz
    if [ -f "$prebuilt" ]; then
        echo "Qt for Windows: unpacking $prebuilt"
        mkdir -p "$qt"
        tar xzf "$prebuilt" -C "$qt" --strip-components=1
        echo "unpacked from $prebuilt" > "$qt/made"
    else
        echo "Qt for Windows: building it from Debian's source (about 40 minutes, once)"
        cmake/build-qt-windows.sh "$qt" "$build/qt-work"
        echo "built by cmake/build-qt-windows.sh" > "$qt/made"
    fi
fi

# Pinned: the package's version and the sha256 of the sqlite.org tarball inside it.
# The preset windows (CMakePresets.json) names the folder it unpacks to.
sqlite_package=sqlite3@5.1.7
sqlite_tarball=sqlite-autoconf-3440200
sqlite_sha256=1c6719a148bc41cf0f2bbbe3926d7ce3f5ca09d878f1246fcc20767b175bb407
sqlite=$build/$sqlite_tarball
if [ ! -f "$sqlite/sqlite3.c" ]; then
    download=$(mktemp -d)
    (cd "$download" && npm pack --silent "$sqlite_package" > /dev/null && tar xzf ./*.tgz)
    echo "$sqlite_sha256  $download/package/deps/$sqlite_tarball.tar.gz" | sha256sum -c --quiet
    tar xzf "$download/package/deps/$sqlite_tarball.tar.gz" -C "$build"
    rm -rf "$download"
fi

# The toolchain from that Qt, SQLite from that folder: the preset windows.
cmake --preset windows
cmake --build --preset windows --parallel "$(nproc)"
rm -rf "$build/release"
cmake --install "$build" --prefix "$build/release" --strip
# Debian's runtime DLLs carry their debugging symbols; the release does without them.
x86_64-w64-mingw32-strip --strip-unneeded "$build"/release/lib*.dll
echo "The release folder: $build/release"
