#!/usr/bin/env bash
# Builds a small test set from generated sources: two raw clips and one Y4M
# clip of flat grey frames, an edit list of four splices, one run of the
# tool into a raw output and one into a Y4M output, and a check that both
# hold the same splices cut out with dd. Then a 10-bit 4:2:2 set of 416x240
# frames, named by the options, from a clip whose name has a blank, with a
# commented list, written to standard output.
set -euo pipefail

build=${1:-build}
tool="$build/testset-assembler"
[ -x "$tool" ] || { echo "No tool at $tool; build it first." >&2; exit 1; }
width=$(sed -n 's/^TSA_FRAME_WIDTH:STRING=//p' "$build/CMakeCache.txt")
height=$(sed -n 's/^TSA_FRAME_HEIGHT:STRING=//p' "$build/CMakeCache.txt")
frame=$((width * height * 3 / 2))

demo="$build/demo"
rm -rf "$demo"
mkdir -p "$demo"
cd "$demo"

# clip-a.yuv gets the grey levels 16, 22, 28, ... and clip-b.yuv 130, 136, ...,
# one level a frame, so every frame can be told apart. clip-c.y4m holds
# 40, 45, ... each behind a FRAME line, after a Y4M stream header.
grey() {  # level
  head -c "$frame" /dev/zero | tr '\0' "\\$(printf '%03o' "$1")"
}
make_clip() {  # name, first grey level, step, frames
  for ((i = 0; i < $4; i++)); do
    [[ $1 == *.y4m ]] && printf 'FRAME\n'
    grey $(($2 + $3 * i))
  done
}
make_clip clip-a.yuv 16 6 16 >clip-a.yuv
make_clip clip-b.yuv 130 6 16 >clip-b.yuv
y4mHeader="YUV4MPEG2 W$width H$height F50:1 Ip A1:1 C420jpeg"
{ printf '%s\n' "$y4mHeader"; make_clip clip-c.y4m 40 5 8; } >clip-c.y4m

cat >edit-list.txt <<'LIST'
clip-a.yuv 4 6
clip-c.y4m 2 3
clip-b.yuv 0 5
clip-a.yuv 12 3
LIST

echo "Edit list ($demo/edit-list.txt):"
sed 's/^/  /' edit-list.txt
echo
"../testset-assembler" edit-list.txt test-set.yuv </dev/null
"../testset-assembler" edit-list.txt test-set.y4m </dev/null >/dev/null
echo

# The same splices, cut out one by one: a Y4M frame k lies behind the
# header and k frames with their FRAME lines.
cut_out() {  # name, first, count, marker before each frame
  for ((i = $2; i < $2 + $3; i++)); do
    printf '%s' "$4"
    if [[ $1 == *.y4m ]]; then
      dd if="$1" iflag=skip_bytes,count_bytes skip=$((${#y4mHeader} + 1 + i * (6 + frame) + 6)) \
        count="$frame" status=none
    else
      dd if="$1" bs="$frame" skip="$i" count=1 status=none
    fi
  done
}
while read -r name first count; do cut_out "$name" "$first" "$count" ""; done <edit-list.txt >expected.yuv
{
  printf '%s\n' "$y4mHeader"
  while read -r name first count; do cut_out "$name" "$first" "$count" $'FRAME\n'; done <edit-list.txt
} >expected.y4m
for out in test-set.yuv test-set.y4m; do
  if cmp -s "$out" "expected.${out##*.}"; then
    echo "$demo/$out: 17 frames, identical to the splices cut out with dd."
  else
    echo "$demo/$out differs from the splices cut out with dd." >&2
    exit 1
  fi
done

# Any format, named on the command line: 416x240 yuv422p10le frames take
# 416*240*2 bytes of luma and two 208x240 chroma planes of 2-byte samples.
frame10=$((416 * 240 * 2 + 2 * 208 * 240 * 2))
for ((i = 0; i < 10; i++)); do
  head -c "$frame10" /dev/zero | tr '\0' "\\$(printf '%03o' $((20 + 9 * i)))"
done >"clip d.yuv"
cat >edit-list-10bit.txt <<'LIST'
# class D, 10-bit 4:2:2: names with blanks go in quotes
"clip d.yuv" 7 2
"clip d.yuv" 1 3
LIST
echo
echo "Edit list ($demo/edit-list-10bit.txt):"
sed 's/^/  /' edit-list-10bit.txt
"../testset-assembler" --size=416x240 --pix-fmt=yuv422p10le edit-list-10bit.txt - \
  >test-set-10bit.yuv 2>messages.txt
{
  dd if="clip d.yuv" bs="$frame10" skip=7 count=2 status=none
  dd if="clip d.yuv" bs="$frame10" skip=1 count=3 status=none
} >expected-10bit.yuv
if cmp -s test-set-10bit.yuv expected-10bit.yuv; then
  echo "$demo/test-set-10bit.yuv: 5 frames of 416x240 yuv422p10le from standard output,"
  echo "identical to the splices cut out with dd (the run's messages went to standard error)."
else
  echo "$demo/test-set-10bit.yuv differs from the splices cut out with dd." >&2
  exit 1
fi
