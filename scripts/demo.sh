#!/usr/bin/env bash
# Builds a small test set from generated sources: two clips of flat grey
# frames, an edit list of three splices, one run of the tool, and a check
# that the result matches the same splices cut out with dd.
set -euo pipefail

build=${1:-build}
tool="$build/testset-assembler"
[ -x "$tool" ] || { echo "No tool at $tool; build it first." >&2; exit 1; }
frame=$(("$(sed -n 's/^TSA_FRAME_WIDTH:STRING=//p' "$build/CMakeCache.txt")" *
         "$(sed -n 's/^TSA_FRAME_HEIGHT:STRING=//p' "$build/CMakeCache.txt")" * 3 / 2))

demo="$build/demo"
rm -rf "$demo"
mkdir -p "$demo"
cd "$demo"

# clip-a.yuv gets the grey levels 16, 22, 28, ... and clip-b.yuv 130, 136, ...,
# one level a frame, so every frame can be told apart.
make_clip() {  # name, first grey level, frames
  local level
  for ((i = 0; i < $3; i++)); do
    level=$(($2 + 6 * i))
    head -c "$frame" /dev/zero | tr '\0' "\\$(printf '%03o' "$level")"
  done >"$1"
}
make_clip clip-a.yuv 16 16
make_clip clip-b.yuv 130 16

cat >edit-list.txt <<'LIST'
clip-a.yuv 4 6
clip-b.yuv 0 5
clip-a.yuv 12 3
LIST

echo "Edit list ($demo/edit-list.txt):"
sed 's/^/  /' edit-list.txt
echo
"../testset-assembler" edit-list.txt test-set.yuv </dev/null
echo

# The same splices, cut out one by one.
while read -r name first count; do
  dd if="$name" bs="$frame" skip="$first" count="$count" status=none
done <edit-list.txt >expected.yuv
if cmp -s test-set.yuv expected.yuv; then
  echo "$demo/test-set.yuv: $(($(stat -c %s test-set.yuv) / frame)) frames, identical to the splices cut out with dd."
else
  echo "$demo/test-set.yuv differs from the splices cut out with dd." >&2
  exit 1
fi
