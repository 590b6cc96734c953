#!/usr/bin/env bash
# Cross-builds, for the Windows build, libraries that Debian builds only for
# Linux, from Debian's own source packages, as static MinGW-w64 libraries:
#   scripts/cross-libs.sh PREFIX PACKAGE...
# (packages: curl; xz-utils, libzstd, bzip2, then libarchive, which uses them)
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
# folder. The newest version that can be fetched: a security update's
# sources may be missing from a mirror.
unpack() {
  local package=$1 version folder
  for version in $(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -rV); do
    folder="$work/$package-$version"
    if [ -d "$folder" ]; then
      echo "$folder"
      return
    fi
    if (cd "$work" && apt-get source --download-only "$package=$version" >/dev/null 2>&1); then
      # apt checked the files against the archive's signed index.
      dpkg-source --no-check -x "$work/${package}_${version#*:}.dsc" "$folder" >/dev/null
      echo "$folder"
      return
    fi
  done
  echo "No source of $package can be fetched" >&2
  return 1
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

# A CMake project of `source` (its CMakeLists.txt in `dir` there), static,
# with the options given, installed into PREFIX.
build_with_cmake() {
  local source=$1 dir=$2
  shift 2
  cmake -S "$source/$dir" -B "$source/build-mingw" --toolchain "$here/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" \
    -DBUILD_SHARED_LIBS=OFF "$@" >/dev/null
  cmake --build "$source/build-mingw" -j2 >/dev/null
  cmake --install "$source/build-mingw" >/dev/null
}

# liblzma alone, for .xz and .7z.
build_xz-utils() { build_with_cmake "$1" . -DBUILD_TESTING=OFF; }

# libzstd alone, for .zst.
build_libzstd() {
  build_with_cmake "$1" build/cmake -DZSTD_BUILD_SHARED=OFF -DZSTD_BUILD_PROGRAMS=OFF \
    -DZSTD_BUILD_TESTS=OFF -DZSTD_LEGACY_SUPPORT=OFF
}

# libbz2, for .bz2: bzip2 has a Makefile only.
build_bzip2() {
  local source=$1
  make -C "$source" -s CC=x86_64-w64-mingw32-gcc-posix AR=x86_64-w64-mingw32-ar \
    RANLIB=x86_64-w64-mingw32-ranlib CFLAGS="-O2 -D_FILE_OFFSET_BITS=64" libbz2.a >/dev/null
  mkdir -p "$prefix/lib" "$prefix/include"
  cp "$source/libbz2.a" "$prefix/lib/"
  cp "$source/bzlib.h" "$prefix/include/"
}

# libarchive with the codecs above (named: the cross build finds libraries
# under MinGW-w64's root only) and zlib (MinGW-w64's static one, from
# Debian, not its DLL), for reading only: no tools, no crypto, no XML, no
# ACLs.
build_libarchive() {
  build_with_cmake "$1" . -DENABLE_TEST=OFF -DENABLE_TAR=OFF -DENABLE_CPIO=OFF -DENABLE_CAT=OFF \
    -DENABLE_OPENSSL=OFF -DENABLE_MBEDTLS=OFF -DENABLE_NETTLE=OFF -DENABLE_CNG=OFF \
    -DENABLE_LIBXML2=OFF -DENABLE_EXPAT=OFF -DENABLE_LIBB2=OFF -DENABLE_LZ4=OFF -DENABLE_LZO=OFF \
    -DENABLE_ICONV=OFF -DENABLE_ACL=OFF -DENABLE_XATTR=OFF -DENABLE_ZLIB=ON -DENABLE_LZMA=ON \
    -DENABLE_ZSTD=ON -DENABLE_BZip2=ON -DENABLE_WERROR=OFF \
    -DZLIB_LIBRARY=/usr/x86_64-w64-mingw32/lib/libz.a \
    -DLIBLZMA_INCLUDE_DIR="$prefix/include" -DLIBLZMA_LIBRARY_RELEASE="$prefix/lib/liblzma.a" \
    -DLIBLZMA_LIBRARY="$prefix/lib/liblzma.a" \
    -DZSTD_INCLUDE_DIR="$prefix/include" -DZSTD_LIBRARY="$prefix/lib/libzstd.a" \
    -DBZIP2_INCLUDE_DIR="$prefix/include" -DBZIP2_LIBRARY_RELEASE="$prefix/lib/libbz2.a"
}

add_source_entries
for package in "$@"; do
  folder=$(unpack "$package")
  [ -n "$folder" ] || exit 1
  stamp="$prefix/.built-$(basename "$folder")"
  if [ -e "$stamp" ]; then
    continue
  fi
  echo "Cross-building $(basename "$folder") into $prefix"
  "build_$package" "$folder"
  touch "$stamp"
done
