#!/usr/bin/env bash
# The exit statuses in the README's table, in the man page and in the code
# are the same list, with the same words in both documents; and the man
# page names the project's version.
set -eu
root=$1
readme=$(sed -n '/^## Exit status/,/^On every/p' "$root/README.md" |
  sed -n 's/^| \([0-9]*\) | \(.*\) |$/\1 \2/p')
manpage=$(sed -n '/^\.SH EXIT STATUS/,/^\.SH EXAMPLE/p' "$root/docs/testset-assembler.1" |
  awk '/^\.B [0-9]+$/ { status = $2; getline; print status " " $0 }')
code=$(sed -n 's/^ *[A-Za-z]* = \([0-9]*\),.*/\1/p' "$root/src/engine/frame.h")

if [ "$readme" != "$manpage" ]; then
  echo "README and man page exit statuses differ:"
  diff <(echo "$readme") <(echo "$manpage") || true
  exit 1
fi
if [ "$(cut -d' ' -f1 <<<"$readme")" != "$code" ]; then
  echo "Documented exit statuses differ from the code's:"
  diff <(cut -d' ' -f1 <<<"$readme") <(echo "$code") || true
  exit 1
fi
# The man page names the version the build is (and --version prints).
version=$(sed -n 's/^project(testset-assembler VERSION \([0-9.]*\) .*/\1/p' "$root/CMakeLists.txt")
head -1 "$root/docs/testset-assembler.1" | grep -q "\"testset-assembler $version\"" ||
  { echo "The man page does not name version $version"; exit 1; }
echo "$(wc -l <<<"$code") exit statuses agree in the README, the man page and the code;" \
  "the man page names version $version."
