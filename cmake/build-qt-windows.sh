#!/bin/sh
# Builds Qt 6.4 for 64-bit Windows (Core, Gui, Widgets, Test and Multimedia's
# audio) with mingw-w64 from Debian's own qt6-base and qt6-multimedia source
# packages and the patches in qt-patches/, and installs it into PREFIX.
#   cmake/build-qt-windows.sh PREFIX WORK
# WORK holds the sources and build trees, and is removed once Qt is installed.
# Takes about 40 minutes on 2 cores. Needs g++-mingw-w64-x86-64-posix,
# ninja-build, cmake, dpkg-dev, perl, and the host's Qt 6.4 (qt6-base-dev,
# qt6-base-dev-tools) for the tools that run during the build.
set -eu
prefix=$(realpath -m "$1")
work=$(realpath -m "$2")
here=$(cd "$(dirname "$0")" && pwd)
toolchain="$here/mingw-w64-x86_64.cmake"
mkdir -p "$work"
cd "$work"

# Debian's source packages, from the mirror that the machine's own packages come from.
mirror=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
[ -n "$mirror" ] || mirror=$(sed -n 's/^deb \(\[[^]]*\] \)\{0,1\}\([^ ]*\) bookworm main.*/\2/p' /etc/apt/sources.list 2>/dev/null | head -n 1)
[ -n "$mirror" ] || mirror=http://deb.debian.org/debian
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror bookworm main" > sources.list
apt="-o Dir::Etc::SourceList=$work/sources.list -o Dir::Etc::SourceParts=/dev/null -o Dir::State::Lists=$work/lists"
mkdir -p lists/partial
# shellcheck disable=SC2086 # the options are separate words
apt-get $apt update
# shellcheck disable=SC2086
apt-get $apt source --download-only qt6-base qt6-multimedia

rm -rf qtbase qtmultimedia
dpkg-source -x qt6-base_*.dsc qtbase
dpkg-source -x qt6-multimedia_*.dsc qtmultimedia
(cd qtbase && patch -p1 < "$here/qt-patches/directwrite3-without-direct2d.patch")
(cd qtmultimedia && patch -p1 < "$here/qt-patches/qtmultimedia-mingw-crossbuild.patch")

# Debian's +dfsg source lacks the tablet (wintab) headers, so tablet events and
# direct2d are off; a Debian patch ties zstd to the host's library, so it is off;
# pkg-config off keeps the host's libraries out.
cmake -G Ninja -S qtbase -B build-qtbase -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DQT_WINDOWS_PREFIX="$prefix" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=ON \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF \
    -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
    -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_vulkan=OFF \
    -DFEATURE_icu=OFF -DFEATURE_zstd=OFF -DFEATURE_pkg_config=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF \
    -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_pcre2=OFF \
    -DFEATURE_freetype=ON -DFEATURE_harfbuzz=ON -DFEATURE_png=ON -DFEATURE_jpeg=OFF \
    -DFEATURE_tabletevent=OFF -DFEATURE_direct2d=OFF \
    -DFEATURE_androiddeployqt=OFF -DFEATURE_windeployqt=OFF \
    -DFEATURE_gui=ON -DFEATURE_widgets=ON -DFEATURE_testlib=ON
ninja -C build-qtbase
cmake --install build-qtbase --strip

# The audio part of Qt Multimedia over Windows' own backend. Qt looks for the
# Media Foundation libraries by mixed-case names that mingw ships in lower case;
# without these paths the Windows backend would silently be left out.
lib=/usr/x86_64-w64-mingw32/lib
cmake -G Ninja -S qtmultimedia -B build-qtmultimedia -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DQT_WINDOWS_PREFIX="$prefix" -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DINPUT_ffmpeg=no -DFEATURE_ffmpeg=OFF -DFEATURE_gstreamer=OFF \
    -DFEATURE_spatialaudio=OFF -DFEATURE_spatialaudio_quick3d=OFF \
    -DWMF_MF_LIBRARY=$lib/libmf.a -DWMF_MFUUID_LIBRARY=$lib/libmfuuid.a -DWMF_MFPLAT_LIBRARY=$lib/libmfplat.a \
    -DWMF_MFCORE_LIBRARY=$lib/libmfcore.a -DWMF_PROPSYS_LIBRARY=$lib/libpropsys.a
ninja -C build-qtmultimedia
cmake --install build-qtmultimedia --strip

cd /
rm -rf "$work"
