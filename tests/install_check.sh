#!/usr/bin/env bash
# Installs the build into a scratch prefix and runs the installed tool once.
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
test -f "$prefix/share/man/man1/testset-assembler.1"
status=0
out=$("$prefix/bin/testset-assembler") || status=$?
expected='Creates a Test Set file given an edit list
Parameter 1: name of edit list file
Parameter 2: names of output file (.yuv)'
if [ "$status" != 1 ] || [ "$out" != "$expected" ]; then
  echo "installed tool: status $status, output:"
  echo "$out"
  exit 1
fi
echo "installed into $prefix: bin/testset-assembler runs, man page in place."
