#!/usr/bin/env bash
# Cross-builds the Windows tool with MinGW-w64, runs the test suite under
# Wine and makes the .zip:
#   scripts/windows.sh [BUILD_DIR]      (default build-win)
# Installs what is missing first (scripts/setup.sh --windows), and
# cross-builds libcurl and libarchive with its codecs from Debian's sources
# (scripts/cross-libs.sh) into
# a cache kept between runs ($TSA_CROSS_CACHE, else
# ~/.cache/testset-assembler/mingw-w64). Wine runs in a prefix of its own
# inside the build folder.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-build-win}")
"$here/scripts/setup.sh" --windows

export WINEDEBUG=-all
export WINEPREFIX="$build/wine-prefix"
mkdir -p "$WINEPREFIX"
# Wine's background services outlive the programs that start them and keep
# whatever streams they inherited. Started once here, with their streams on
# a file, they leave the pipes of the build and of ctest alone.
/usr/lib/wine/wineserver64 -p >"$build/wine.log" 2>&1 </dev/null || true  # one may be running
# The web servers the HTTP tests read from run on this side of Wine; the
# tests are told where (a Windows path to the folder they serve).
servers="$build/web-servers"
rm -rf "$servers"
if command -v nginx >/dev/null && command -v python3 >/dev/null; then
  "$here/tests/web_servers.sh" start "$servers" >/dev/null
  export TSA_TEST_SERVERS="Z:${servers//\//\\}"
fi
# So are the archives the archive tests read: Wine has no archivers.
if command -v 7z >/dev/null && command -v zstd >/dev/null; then
  "$here/tests/make_archives.sh" "$build/test-archives" >/dev/null
  export TSA_TEST_ARCHIVES="Z:${build//\//\\}\\test-archives"
fi
trap '/usr/lib/wine/wineserver64 -k >/dev/null 2>&1 || true; "$here/tests/web_servers.sh" stop "$servers" 2>/dev/null || true' EXIT
/usr/lib/wine/wine64 cmd /c exit >>"$build/wine.log" 2>&1 </dev/null

# libcurl and libarchive for Windows, from Debian's sources, kept between runs.
cross_libs="${TSA_CROSS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/testset-assembler/mingw-w64}"
"$here/scripts/cross-libs.sh" "$cross_libs" curl xz-utils libzstd bzip2 libarchive

cmake -S "$here" -B "$build" --toolchain "$here/cmake/mingw-w64.cmake" -DTSA_CROSS_LIBS="$cross_libs"
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure -j2
(cd "$build" && cpack -G ZIP)
ls -l "$build/testset-assembler.exe" "$build"/testset-assembler-*-win64.zip
