#!/usr/bin/env bash
# Times testset-assembler against the copies people script by hand (dd with
# a frame-sized block, a plain cat, ffmpeg when installed) on the same
# splices, checks that every output is byte-identical first, and reports
# medians, their ratios and the tool's peak memory.
#
#   bench/compare.sh [--smoke] [--runs N] [--tool PATH] [--candidate PATH] SCRATCH_DIR
#   bench/compare.sh --scale [--runs N] [--tool PATH] [--candidate PATH] SCRATCH_DIR
#
# --scale runs the large-test-set regime instead (bench/scale.sh: 8.4 GB
# out of sources evicted from the page cache; about 22 GB of scratch).
# --candidate adds a second build of the tool (stdout to a file) to every
# round, to measure a change against the current tool in the same run.
# SCRATCH_DIR gets two 200-frame sources of random bytes (1.2 GB) and the
# outputs (about 1.15 GB each); --smoke shrinks everything to prove the
# script works in seconds. The CIF ways copy small frames (352x288
# yuv420p, 11,400 of them out of two 3,000-frame sources, 1.7 GB) with the
# tool given --size and with dd given the frame's size as its block.
set -euo pipefail

if [ "${1:-}" = --scale ]; then
  shift
  exec "$(dirname "$0")/scale.sh" "$@"
fi

runs=15
smoke=0
tool=""
candidate=""
source "$(dirname "$0")/common.sh"
read_bench_options "$@"
frame=$((1920 * 1080 * 3 / 2))
cifFrame=$((352 * 288 * 3 / 2))

mkdir -p "$scratch"
cd "$scratch"

if [ "$smoke" = 1 ]; then
  sourceFrames=20
  splices=("A.yuv 1 15" "B.yuv 0 12" "A.yuv 10 10")
  cifSourceFrames=30
  cifSplices=("C.yuv 0 30" "D.yuv 5 20")
else
  sourceFrames=200
  splices=("A.yuv 10 150" "B.yuv 0 120" "A.yuv 100 100")
  cifSourceFrames=3000
  cifSplices=("C.yuv 0 3000" "D.yuv 0 3000" "C.yuv 500 2500" "D.yuv 100 2900")
fi
# Makes $1 of $2 random bytes, unless it is there already.
make_source() {
  if [ "$(stat -c %s "$1" 2>/dev/null || echo 0)" != "$2" ]; then
    head -c "$2" /dev/urandom >"$1"
  fi
}
for name in A B; do make_source "$name.yuv" $((sourceFrames * frame)); done
for name in C D; do make_source "$name.yuv" $((cifSourceFrames * cifFrame)); done
printf '%s\n' "${splices[@]}" >list.txt
printf '%s\n' "${cifSplices[@]}" >list-cif.txt
for i in $(seq 10); do cat list.txt; done >list10.txt
outFrames=0
for line in "${splices[@]}"; do
  read -r _ _ count <<<"$line"
  outFrames=$((outFrames + count))
done

# One command per way of making the output $1.
run_tool_file() { "$tool" list.txt "$1" </dev/null >tool-stdout.txt; }
run_candidate() { "$candidate" list.txt "$1" </dev/null >tool-stdout.txt; }
# On a terminal every progress line is flushed as it is printed. script(1)
# provides the terminal and costs about 20 ms to start, so the terminal run
# is compared with the same wrapper sending the tool's output to a file.
run_tool_pty() { script -qfec "'$tool' list.txt '$1'" /dev/null </dev/null >/dev/null; }
run_tool_pty_file() {
  script -qfec "'$tool' list.txt '$1' >tool-stdout.txt" /dev/null </dev/null >/dev/null
}
run_tool_cif() { "$tool" --size=352x288 list-cif.txt "$1" </dev/null >tool-stdout.txt; }
# dd over list $2 with blocks of $3 bytes.
dd_list() {
  while read -r name first count; do
    dd if="$name" bs="$3" skip="$first" count="$count" status=none
  done <"$2" >"$1"
}
run_dd() { dd_list "$1" list.txt "$frame"; }
run_dd_cif() { dd_list "$1" list-cif.txt "$cifFrame"; }
run_cat() { cat floor.yuv >"$1"; }
run_ffmpeg() {
  local args=() filters="" i=0
  while read -r name first count; do
    args+=(-f rawvideo -pix_fmt yuv420p -s 1920x1080 -i "$name")
    filters+="[$i:v]trim=start_frame=$first:end_frame=$((first + count)),setpts=PTS-STARTPTS[v$i];"
    i=$((i + 1))
  done <list.txt
  for ((j = 0; j < i; j++)); do filters+="[v$j]"; done
  ffmpeg -loglevel error -y "${args[@]}" -filter_complex "${filters}concat=n=$i:v=1[out]" \
    -map "[out]" -f rawvideo -pix_fmt yuv420p "$1"
}

ways=(tool_file tool_pty tool_pty_file dd cat tool_cif dd_cif)
command -v ffmpeg >/dev/null && ways+=(ffmpeg)
[ -n "$candidate" ] && ways+=(candidate)

# The floor copies a file of exactly the output's bytes.
run_dd floor.yuv
run_dd_cif floor-cif.yuv
for way in "${ways[@]}"; do
  rm -f "out-$way.yuv"
  "run_$way" "out-$way.yuv"
  floor=floor.yuv
  [[ $way == *cif ]] && floor=floor-cif.yuv
  cmp "out-$way.yuv" "$floor" || { echo "$way made a different file" >&2; exit 1; }
  rm -f "out-$way.yuv"
done
echo "All outputs identical: $outFrames frames, $((outFrames * frame)) bytes."

# Timed rounds, after the check above served as the warm-up. The order of
# the ways flips every round so that none always runs after the same one.
declare -A times
for ((round = 0; round < runs; round++)); do
  round_order "$round"
  for way in "${order[@]}"; do
    rm -f "out-$way.yuv"
    sync
    start=$EPOCHREALTIME
    "run_$way" "out-$way.yuv"
    end=$EPOCHREALTIME
    times[$way]+="$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.4f", b - a}') "
    rm -f "out-$way.yuv"
  done
done

declare -A med
[ "$smoke" = 1 ] && printf '\nSmoke run: tiny sources, one round; the figures below mean nothing.\n'
printf '\n%-13s %8s   (%d runs; all times in seconds)\n' way median "$runs"
for way in "${ways[@]}"; do
  med[$way]=$(median "${times[$way]}")
  printf '%-13s %8.3f   %s\n' "$way" "${med[$way]}" "${times[$way]}"
done
ratio() { awk -v a="${med[$1]}" -v b="${med[$2]}" 'BEGIN {printf "%.3f", a / b}'; }
echo
echo "tool (stdout to a file) / dd      $(ratio tool_file dd)   target <= 0.80"
echo "tool (stdout to a file) / cat     $(ratio tool_file cat)   target <= 1.10"
echo "tool / dd, CIF frames             $(ratio tool_cif dd_cif)   target <= 0.80"
echo "tool on a terminal / tool to file $(ratio tool_pty tool_pty_file)   target <= 1.03 (both under script)"
if [ -n "${med[ffmpeg]:-}" ]; then
  echo "tool (stdout to a file) / ffmpeg  $(ratio tool_file ffmpeg)"
fi
if [ -n "$candidate" ]; then
  echo "candidate / tool (both to a file) $(ratio candidate tool_file)"
fi

peak() {
  rm -f out-rss.yuv
  /usr/bin/time -f %M "$tool" "$1" out-rss.yuv </dev/null 2>&1 >/dev/null | tail -1
  rm -f out-rss.yuv
}
echo
echo "peak resident memory: $(peak list.txt) KiB for list.txt, $(peak list10.txt) KiB for a list ten times as long   target: flat"
rm -f floor.yuv floor-cif.yuv tool-stdout.txt
