#!/bin/sh
# The set-up commands on a fresh Debian machine:
#   ./build.sh run      install what is missing, build the program alone, start it
#   ./build.sh test     install what is missing, build the program, its tests and
#                       benchmarks, run every test
#   ./build.sh windows  install what is missing, make the Windows release folder
#                       build-windows/release (cmake/build-windows.sh)
#   ./build.sh package  install what is missing, make the Debian package, the Windows
#                       zip and installer in build-packages/ (packaging/package.sh)
# Each builds in build/ (build-windows/) through the CMake preset of its name
# (CMakePresets.json); package makes the run and windows builds and packs them
# with CPack through its package presets.
# Needs nothing but a shell and apt-get; the packages below are installed with
# sudo when not run as root.
set -eu
cd "$(dirname "$0")"

packages="cmake g++ make qt6-base-dev qt6-multimedia-dev libsqlite3-dev libpq-dev postgresql fonts-wine xvfb xdotool
    xauth pulseaudio pulseaudio-utils dbus-daemon at-spi2-core orca speech-dispatcher procps"
# The Windows build: mingw-w64, Wine to run its tests, the host's Qt tools (moc,
# uic, rcc, and Qt's own build when it is made from source), Debian's source tools
# (for Qt, libpq and OpenSSL when they are made from source), the PostgreSQL server
# its tests count into, and what CI's check of the release folder drives it with.
windows_packages="cmake ninja-build g++-mingw-w64-x86-64-posix qt6-base-dev qt6-base-dev-tools wine64 wine make
    fonts-wine dpkg-dev perl xz-utils patch xvfb xdotool sqlite3 postgresql postgresql-client openssl pulseaudio
    pulseaudio-utils"

install_missing() {
    missing=""
    for package in $packages; do
        dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q 'install ok installed' \
            || missing="$missing $package"
    done
    [ -z "$missing" ] && return
    echo "Installing:$missing"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update
    # shellcheck disable=SC2086 # one word a package
    $sudo apt-get install -y --no-install-recommends $missing
}

build() {
    cmake --preset "$1"
    cmake --build --preset "$1" --parallel "$(nproc)"
}

case "${1:-}" in
run)
    install_missing
    build run
    exec ./build/quillmarch
    ;;
test)
    install_missing
    build test
    exec ctest --preset test
    ;;
windows)
    packages=$windows_packages
    # SQLite's amalgamation comes from npm; NodeSource's nodejs brings its own npm.
    command -v npm > /dev/null || packages="$packages npm"
    install_missing
    exec cmake/build-windows.sh
    ;;
package)
    # Both builds, NSIS for the installer, and the checks of the menu entry and the
    # AppStream metainfo.
    packages="$packages $windows_packages nsis desktop-file-utils appstream"
    command -v npm > /dev/null || packages="$packages npm"
    install_missing
    build run
    exec packaging/package.sh
    ;;
*)
    echo "usage: $0 run|test|windows|package" >&2
    exit 2
    ;;
esac
