#!/usr/bin/env bash
# Installs what building and testing the tool needs on Debian or Ubuntu,
# and only what is missing: cmake, g++, make, GoogleTest, OpenSSL's
# libcrypto (the checksums), libcurl (sources on web servers), libarchive
# (sources in archives) and the certificate authorities https is checked
# against (ca-certificates, which libcurl only recommends: a minimal system
# goes without it); with --tests the web servers the HTTP tests start
# (nginx-light, openssl, python3, python3-pyftpdlib, and python3-botocore
# to check the test object store against) and the archivers the archive tests make
# their archives with (p7zip-full, zip, xz-utils, zstd, bzip2). With --windows
# it adds the MinGW-w64 cross compiler, Wine and GoogleTest's sources for
# the Windows build. Run as root, or as a user who may use sudo.
set -eu

missing=()
need_command() { command -v "$1" >/dev/null || missing+=("$2"); }
need_file() { [ -e "$1" ] || missing+=("$2"); }
need_command cmake cmake
need_command g++ g++
need_command make make
need_file /usr/include/gtest/gtest.h libgtest-dev
need_file /usr/include/openssl/evp.h libssl-dev
need_file /usr/include/x86_64-linux-gnu/curl/curl.h libcurl4-openssl-dev
need_file /usr/include/archive.h libarchive-dev
need_file /etc/ssl/certs/ca-certificates.crt ca-certificates
need_command pkg-config pkg-config
if [ "${1:-}" = --tests ]; then
  need_command nginx nginx-light
  need_command openssl openssl
  need_command python3 python3
  need_file /usr/lib/python3/dist-packages/pyftpdlib python3-pyftpdlib
  need_file /usr/lib/python3/dist-packages/botocore python3-botocore
  need_command 7z p7zip-full
  need_command zip zip
  need_command xz xz-utils
  need_command zstd zstd
  need_command bzip2 bzip2
fi
if [ "${1:-}" = --windows ]; then
  need_command x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix
  need_file /usr/x86_64-w64-mingw32/lib/libz.a libz-mingw-w64-dev
  need_file /usr/lib/wine/wine64 wine64
  need_file /usr/src/googletest/CMakeLists.txt googletest
  need_command nroff groff-base
  # Debian's source packages of the libraries built for Windows.
  need_command dpkg-source dpkg-dev
fi
[ "${#missing[@]}" -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
[ "$(id -u)" = 0 ] || as_root=(sudo)
"${as_root[@]}" apt-get update -q
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
  "${missing[@]}"
