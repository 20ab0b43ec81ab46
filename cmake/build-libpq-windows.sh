#!/bin/sh
# Builds PostgreSQL's client library, libpq 15, with OpenSSL 3.0 for TLS, for
# 64-bit Windows with mingw-w64, from Debian bookworm's own source packages
# with Debian's patches (no patches of ours), and installs into PREFIX what the
# program's build needs: bin/ (libpq.dll, libssl-3-x64.dll, libcrypto-3-x64.dll),
# lib/ (their import libraries), include/ (libpq's headers, OpenSSL's) and
# LICENSES/.
#   cmake/build-libpq-windows.sh PREFIX WORK
# WORK holds the sources and build trees, and is removed once PREFIX is made.
# Takes about 25 minutes on 2 cores, most of it OpenSSL. Needs
# g++-mingw-w64-x86-64-posix, make, perl and dpkg-dev.
set -eu
prefix=$(realpath -m "$1")
work=$(realpath -m "$2")
# Pinned: the Debian versions and the sha256 of their .dsc files, which hold the
# checksums of the sources that dpkg-source then checks. Superseded versions
# leave the archive; then pin the newest, with its .dsc's checksum.
openssl_version=3.0.20-1~deb12u2
openssl_dsc_sha256=a614474a2773c23b10c0d65f4eccbcf93fdac4749afb7c26d76e1b0340154d3d
postgresql_version=15.18-0+deb12u1
postgresql_dsc_sha256=d940b57dd029ef0712212164410fcb51854c883f3fc0c3a11486acdfd2ca5947
host=x86_64-w64-mingw32
rm -rf "$work"
mkdir -p "$work/lists/partial" "$work/parts"
cd "$work"

# Debian's source packages, from the archives the machine's own packages come from
# (point releases and security updates included).
if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources > parts/sources.sources
else
    sed -n 's/^deb \(.*\)/deb-src \1/p' /etc/apt/sources.list > parts/sources.list
fi
apt="-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts=$work/parts -o Dir::State::Lists=$work/lists"
# shellcheck disable=SC2086 # the options are separate words
apt-get $apt update
# shellcheck disable=SC2086
apt-get $apt source --download-only "openssl=$openssl_version" "postgresql-15=$postgresql_version"
printf '%s  %s\n%s  %s\n' "$openssl_dsc_sha256" "openssl_$openssl_version.dsc" \
    "$postgresql_dsc_sha256" "postgresql-15_$postgresql_version.dsc" | sha256sum -c --quiet
dpkg-source -x "openssl_$openssl_version.dsc" openssl
dpkg-source -x "postgresql-15_$postgresql_version.dsc" postgresql

# OpenSSL's two libraries only (no programs, tests or documents). The folders it
# compiles in, where it reads openssl.cnf and its modules, are Windows folders that
# only administrators may write; a Unix one (/usr/local/ssl) would be \usr\local\ssl
# on the current drive, which any user may make. Configure would take C:/... as
# relative to the prefix, so OPENSSLDIR goes to make.
cd "$work/openssl"
./Configure mingw64 shared no-tests --cross-compile-prefix=$host- CC=gcc-posix \
    --prefix="C:/Program Files/OpenSSL"
make -j"$(nproc)" build_libs OPENSSLDIR="C:/Program Files/Common Files/SSL"
rm -rf "$prefix"
mkdir -p "$prefix/bin" "$prefix/lib" "$prefix/include/openssl" "$prefix/LICENSES"
cp libcrypto-3-x64.dll libssl-3-x64.dll "$prefix/bin/"
cp libcrypto.dll.a libssl.dll.a "$prefix/lib/"
cp include/openssl/*.h "$prefix/include/openssl/"
cp LICENSE.txt "$prefix/LICENSES/OpenSSL-LICENSE.txt"
cp debian/copyright "$prefix/LICENSES/openssl-debian-copyright.txt"

# libpq alone, with TLS; no Kerberos or LDAP (Windows' own SSPI stays), no readline,
# ICU or zlib, which a client library does without.
cd "$work/postgresql"
./configure --host=$host CC=$host-gcc-posix --with-ssl=openssl \
    --without-readline --without-icu --without-zlib --without-gssapi --without-ldap \
    CPPFLAGS="-I$prefix/include" LDFLAGS="-L$prefix/lib"
make -j"$(nproc)" -C src/interfaces/libpq
cp src/interfaces/libpq/libpq.dll "$prefix/bin/"
cp src/interfaces/libpq/libpq.a "$prefix/lib/libpq.dll.a" # the import library, as PostgreSQL names it
cp src/interfaces/libpq/libpq-fe.h src/interfaces/libpq/libpq-events.h src/include/postgres_ext.h \
    src/include/pg_config_ext.h "$prefix/include/"
cp COPYRIGHT "$prefix/LICENSES/PostgreSQL-COPYRIGHT.txt"
cp debian/copyright "$prefix/LICENSES/postgresql-15-debian-copyright.txt"
$host-strip --strip-unneeded "$prefix/bin/"*.dll
printf 'libpq from Debian source package postgresql-15 %s\nOpenSSL from Debian source package openssl %s\n' \
    "$postgresql_version" "$openssl_version" > "$prefix/BUILDINFO.txt"

cd /
rm -rf "$work"
