#!/usr/bin/env bash
# Installs the build into a scratch prefix and runs each installed tool once.
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
expected='Creates a Test Set file given an edit list
Parameter 1: name of edit list file
Parameter 2: names of output file (.yuv)'
tools=$(ls "$prefix/bin")
for tool in $tools; do
  test -f "$prefix/share/man/man1/$tool.1"
  status=0
  out=$("$prefix/bin/$tool") || status=$?
  if [ "$status" != 1 ] || [ "$out" != "$expected" ]; then
    echo "installed $tool: status $status, output:"
    echo "$out"
    exit 1
  fi
done
echo "installed into $prefix:" $tools "run, with their man pages."
