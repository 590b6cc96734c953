#!/usr/bin/env bash
# Times testset-assembler reading frames inside archives against what
# users do today: unpack the archive with 7z, then run the tool on the
# unpacked clip. Checks that every output is byte-identical first, and
# reports medians, their ratios and the tool's peak memory.
#
#   bench/archives.sh [--smoke] [--runs N] [--tool PATH] SCRATCH_DIR
#
# SCRATCH_DIR gets a 200-frame 1080p clip (622 MB), the clip in a .7z (7-Zip's default level: LZMA2, a 16 MiB
# dictionary) and in a zip stored without compression (zip -0), and the
# outputs. The ways: the first 30 frames of the .7z, and the last 30,
# each against 7z x followed by the run on the unpacked clip; all frames
# of the stored zip against the same plain file. --smoke shrinks the clip
# to 20 frames to prove the script works in seconds.
set -euo pipefail

runs=5
smoke=0
tool=""
candidate=""
source "$(dirname "$0")/common.sh"
read_bench_options "$@"
frames=200
[ "$smoke" = 1 ] && frames=20
take=$((frames * 3 / 20))
frame=$((1920 * 1080 * 3 / 2))

mkdir -p "$scratch"
cd "$scratch"
clip=clip_1920x1080.yuv
if [ "$(stat -c %s $clip 2>/dev/null || echo 0)" != $((frames * frame)) ]; then
  rm -f $clip clip.7z stored.zip
  # Random bytes of fewer than five bits: LZMA2 takes them to about half,
  # as it does camera clips (ffmpeg's noise repeats, and packs to 5%).
  head -c $((frames * frame)) /dev/urandom | tr '\020-\377' '\000-\017' >$clip
fi
[ -e clip.7z ] || 7z a -bd -bso0 -bsp0 clip.7z $clip
[ -e stored.zip ] || zip -q -0 stored.zip $clip
echo "clip.7z $((frames - take)) $take" >last-7z.txt
echo "clip.7z 0 $take" >first-7z.txt
echo "unpacked/$clip $((frames - take)) $take" >last-unpacked.txt
echo "unpacked/$clip 0 $take" >first-unpacked.txt
echo "stored.zip 0 $frames" >zip.txt
echo "$clip 0 $frames" >plain.txt

run_list() { "$tool" --yes "$1" "$2" </dev/null >/dev/null; }
unpack_then() {
  rm -rf unpacked
  7z x -bd -bso0 -bsp0 -ounpacked clip.7z $clip
  run_list "$1" "$2"
}
run_first_7z() { run_list first-7z.txt "$1"; }
run_last_7z() { run_list last-7z.txt "$1"; }
run_unpack_first() { unpack_then first-unpacked.txt "$1"; }
run_unpack_last() { unpack_then last-unpacked.txt "$1"; }
run_zip() { run_list zip.txt "$1"; }
run_plain() { run_list plain.txt "$1"; }
ways=(first_7z unpack_first last_7z unpack_last zip plain)

# The check, which is also the warm-up.
for way in "${ways[@]}"; do "run_$way" "out-$way.yuv"; done
cmp out-first_7z.yuv out-unpack_first.yuv
cmp out-last_7z.yuv out-unpack_last.yuv
cmp out-zip.yuv out-plain.yuv
cmp out-last_7z.yuv <(tail -c $((take * frame)) $clip)
echo "All outputs identical: $take frames from the .7z's start and end, $frames from the zip."

declare -A times
for ((round = 0; round < runs; round++)); do
  round_order "$round"
  for way in "${order[@]}"; do
    rm -f "out-$way.yuv"
    sync
    start=$EPOCHREALTIME
    "run_$way" "out-$way.yuv"
    times[$way]+="$(seconds_since "$start") "
  done
done
rm -rf unpacked out-*.yuv

declare -A med
[ "$smoke" = 1 ] && printf '\nSmoke run: a small clip, one round; the figures below mean nothing.\n'
printf '\n%-14s %8s   (%d rounds, medians in seconds)\n' way seconds "$runs"
for way in "${ways[@]}"; do
  med[$way]=$(median "${times[$way]}")
  printf '%-14s %8.3f\n' "$way" "${med[$way]}"
done
ratio() { awk -v a="${med[$1]}" -v b="${med[$2]}" 'BEGIN {printf "%.3f", a / b}'; }
echo
echo "first $take of the .7z / 7z x, then the run   $(ratio first_7z unpack_first)   target <= 0.25"
echo "last $take of the .7z / 7z x, then the run    $(ratio last_7z unpack_last)   target <= 1.00"
echo "the stored zip / the plain file          $(ratio zip plain)   target <= 1.10"
peak=$( { /usr/bin/time -f %M "$tool" --yes last-7z.txt out.yuv </dev/null >/dev/null; } 2>&1 | tail -1)
rm -f out.yuv
echo "peak resident memory, the last $take of the .7z: $peak KiB   target <= 65536"
