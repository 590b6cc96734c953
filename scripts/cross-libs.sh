#!/usr/bin/env bash
# Cross-builds, for the Windows build, libraries that Debian builds only for
# Linux, from Debian's own source packages, as static MinGW-w64 libraries:
#   scripts/cross-libs.sh PREFIX PACKAGE...     (packages: curl)
# Each package's source comes from `apt-get source` (a deb-src entry for the
# archives this machine already uses is added where there is none), is
# built with the MinGW-w64 cross compiler and installed into PREFIX. A
# package already built there at the same version is kept.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
prefix=$(realpath -m "$1")
shift
work="$prefix/src"
mkdir -p "$work"
as_root=()
[ "$(id -u)" = 0 ] || as_root=(sudo)

# Source entries beside the binary ones, for the same archives and suites.
add_source_entries() {
  if apt-get source --print-uris curl >/dev/null 2>&1; then
    return
  fi
  local entries=/etc/apt/sources.list.d/testset-assembler-src.sources
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      "${as_root[@]}" tee "$entries" >/dev/null
  else
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list |
      "${as_root[@]}" tee "${entries%.sources}.list" >/dev/null
  fi
  "${as_root[@]}" apt-get update -q
}

# Unpacks the source of `package` into $work/$package-VERSION; prints that
# folder.
unpack() {
  local package=$1 version folder
  version=$(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -V | tail -1)
  folder="$work/$package-$version"
  if [ ! -d "$folder" ]; then
    (cd "$work" && apt-get source --download-only "$package=$version" >/dev/null 2>&1)
    # apt checked the files against the archive's signed index.
    dpkg-source --no-check -x "$work/${package}_${version#*:}.dsc" "$folder" >/dev/null
  fi
  echo "$folder"
}

# libcurl with Schannel (Windows' own TLS and certificate store) and
# nothing else beside: HTTP(S) and FTP(S), no LDAP, no compression
# libraries, no IDN.
build_curl() {
  local source=$1
  cmake -S "$source" -B "$source/build-mingw" --toolchain "$here/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF \
    -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_DISABLE_LDAP=ON \
    -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF \
    -DCURL_USE_LIBPSL=OFF -DCURL_USE_LIBSSH2=OFF -DENABLE_UNICODE=ON >/dev/null
  cmake --build "$source/build-mingw" -j2 >/dev/null
  cmake --install "$source/build-mingw" >/dev/null
}

add_source_entries
for package in "$@"; do
  folder=$(unpack "$package")
  stamp="$prefix/.built-$(basename "$folder")"
  if [ -e "$stamp" ]; then
    continue
  fi
  echo "Cross-building $(basename "$folder") into $prefix"
  "build_$package" "$folder"
  touch "$stamp"
done
