#!/bin/sh
# Makes the Windows release folder, build-windows/release: quillmarch.exe with
# the DLLs and plugins it needs, cross-built with mingw-w64 (./build.sh windows
# installs the packages first). The tests are built beside it; `ctest` in
# build-windows runs them under Wine.
#
# Qt for Windows: the prebuilt tree in ../shared/qt6-windows/ where it is at
# hand, else built once from Debian's source by build-qt-windows.sh (about 40
# minutes); either way kept in build-windows/qt. PostgreSQL's client library
# (libpq, with the OpenSSL it needs for TLS) likewise: the prebuilt tree in
# ../shared/libpq-windows/, else built once from Debian's source by
# build-libpq-windows.sh (about 25 minutes); kept in build-windows/libpq.
# SQLite: the amalgamation that the npm package sqlite3 ships unmodified, as
# sqlite.org publishes it.
set -eu
cd "$(dirname "$0")/.."
build=$PWD/build-windows
mkdir -p "$build"

# Takes a tree for Windows into FOLDER once: unpacked from the prebuilt TARBALL
# where it is at hand (its sha256 checked where one is given), else made by RECIPE.
#   take NAME FOLDER TARBALL SHA256 RECIPE MINUTES
take() {
    [ -f "$2/made" ] && return
    rm -rf "$2"
    if [ -f "$3" ]; then
        echo "$1: unpacking $3"
        [ -z "$4" ] || echo "$4  $3" | sha256sum -c --quiet
        mkdir -p "$2"
        tar xzf "$3" -C "$2" --strip-components=1
        echo "unpacked from $3" > "$2/made"
    else
        echo "$1: building it from Debian's source (about $6 minutes, once)"
        "$5" "$2" "$2-work"
        echo "built by $5" > "$2/made"
    fi
}
qt=$build/qt
take "Qt for Windows" "$qt" ../shared/qt6-windows/qt6.4.2-mingw64.tar.gz "" cmake/build-qt-windows.sh 40
# The tree that build-libpq-windows.sh makes, packed: libpq 15.18, OpenSSL 3.0.20.
libpq=$build/libpq
take "libpq and OpenSSL for Windows" "$libpq" ../shared/libpq-windows/libpq-windows-x64.tar.gz \
    9268ff66ccf00535d00679c5e50b9f040ae5da5925dc97ddbe0d655dd16df0fc cmake/build-libpq-windows.sh 25

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
# Debian's runtime DLLs and Qt's carry their debugging sections; the release does without them.
find "$build/release" -name '*.dll' -exec x86_64-w64-mingw32-strip --strip-unneeded {} +
echo "The release folder: $build/release"
