#!/usr/bin/env bash
# Times testset-assembler against the copies people script by hand (dd with
# a frame-sized block, a plain cat, ffmpeg when installed) on the same
# splices, checks that every output is byte-identical first, and reports
# medians, their ratios and the tool's peak memory. Every way is timed twice
# a round: writing a new output, then replacing that output (the tool with
# --yes; dd as a script does it, the first dd cutting the file and the rest
# appending; cat and ffmpeg through the shell's > and -y).
#
#   bench/compare.sh [--smoke] [--runs N] [--tool PATH] [--candidate PATH] SCRATCH_DIR
#   bench/compare.sh --scale [--runs N] [--tool PATH] [--candidate PATH] SCRATCH_DIR
#
# --scale runs the large-test-set regime instead (bench/scale.sh: 8.4 GB
# out of sources evicted from the page cache; about 32 GB of scratch).
# --candidate adds a second build of the tool (stdout to a file) to every
# round, on every list, to measure a change against the current tool in the
# same run.
# SCRATCH_DIR gets two 200-frame sources of random bytes (1.2 GB) and the
# outputs (about 1.15 GB each); --smoke shrinks everything to prove the
# script works in seconds. The CIF ways copy small frames (352x288
# yuv420p, 11,400 of them out of two 3,000-frame sources, 1.7 GB) with the
# tool given --size and with dd given the frame's size as its block. The
# single ways copy 1,000 splices of one 1080p frame each, taken from the
# two 200-frame sources in turn (3.1 GB, written past the page cache).
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
  singleSplices=10
else
  sourceFrames=200
  splices=("A.yuv 10 150" "B.yuv 0 120" "A.yuv 100 100")
  cifSourceFrames=3000
  cifSplices=("C.yuv 0 3000" "D.yuv 0 3000" "C.yuv 500 2500" "D.yuv 100 2900")
  singleSplices=1000
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
for ((i = 0; i < singleSplices; i++)); do
  printf '%s.yuv %d 1\n' "$( ((i % 2)) && echo B || echo A)" $((i * 37 % sourceFrames))
done >list-single.txt
for i in $(seq 10); do cat list.txt; done >list10.txt
outFrames=0
for line in "${splices[@]}"; do
  read -r _ _ count <<<"$line"
  outFrames=$((outFrames + count))
done

# One command per way of making the output $1, new or replaced: the tool
# is told to replace without asking.
run_tool_file() { "$tool" --yes list.txt "$1" </dev/null >tool-stdout.txt; }
run_candidate() { "$candidate" --yes list.txt "$1" </dev/null >tool-stdout.txt; }
# On a terminal every progress line is flushed as it is printed. script(1)
# provides the terminal and costs about 20 ms to start, so the terminal run
# is compared with the same wrapper sending the tool's output to a file.
run_tool_pty() { script -qfec "'$tool' --yes list.txt '$1'" /dev/null </dev/null >/dev/null; }
run_tool_pty_file() {
  script -qfec "'$tool' --yes list.txt '$1' >tool-stdout.txt" /dev/null </dev/null >/dev/null
}
run_tool_cif() { "$tool" --yes --size=352x288 list-cif.txt "$1" </dev/null >tool-stdout.txt; }
run_candidate_cif() {
  "$candidate" --yes --size=352x288 list-cif.txt "$1" </dev/null >tool-stdout.txt
}
# The checksums in the same pass, against the run followed by ffmpeg's
# framemd5 of its output, as users make them today.
run_tool_md5() { "$tool" --yes --framemd5=sums.md5 list.txt "$1" </dev/null >tool-stdout.txt; }
run_tool_then_ffmpeg_md5() {
  run_tool_file "$1"
  ffmpeg -loglevel error -y -f rawvideo -video_size 1920x1080 -pix_fmt yuv420p -framerate 25 -i "$1" \
    -fflags +bitexact -f framemd5 ffmpeg.md5 </dev/null
}
# The same with ffmpeg's framehash and its default hash, SHA-256.
run_tool_sha() { "$tool" --yes --framehash=sums.sha list.txt "$1" </dev/null >tool-stdout.txt; }
run_tool_then_ffmpeg_sha() {
  run_tool_file "$1"
  ffmpeg -loglevel error -y -f rawvideo -video_size 1920x1080 -pix_fmt yuv420p -framerate 25 -i "$1" \
    -fflags +bitexact -f framehash ffmpeg.sha </dev/null
}
run_tool_single() { "$tool" --yes list-single.txt "$1" </dev/null >tool-stdout.txt; }
run_candidate_single() { "$candidate" --yes list-single.txt "$1" </dev/null >tool-stdout.txt; }
# dd over list $2 with blocks of $3 bytes, one per splice, as a script
# writes it: the first dd cuts the output, the others append to it.
dd_list() {
  local append=()
  while read -r name first count; do
    dd if="$name" of="$1" bs="$3" skip="$first" count="$count" "${append[@]}" status=none
    append=(oflag=append conv=notrunc)
  done <"$2"
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

ways=(tool_file tool_pty tool_pty_file dd cat tool_cif dd_cif tool_single tool_md5 tool_sha)
command -v ffmpeg >/dev/null && ways+=(ffmpeg tool_then_ffmpeg_md5 tool_then_ffmpeg_sha)
[ -n "$candidate" ] && ways+=(candidate candidate_cif candidate_single)

# The floor copies a file of exactly the output's bytes; the single list's
# output is checked against dd's stream instead of a third large file.
run_dd floor.yuv
run_dd_cif floor-cif.yuv
expected_single() {
  while read -r name first count; do
    dd if="$name" bs="$frame" skip="$first" count="$count" status=none
  done <list-single.txt
}
for way in "${ways[@]}"; do
  rm -f "out-$way.yuv"
  "run_$way" "out-$way.yuv"
  "run_$way" "out-$way.yuv"  # over the first one
  case $way in
    *cif) cmp "out-$way.yuv" floor-cif.yuv ;;
    *single) cmp "out-$way.yuv" <(expected_single) ;;
    *) cmp "out-$way.yuv" floor.yuv ;;
  esac || { echo "$way made a different file" >&2; exit 1; }
  rm -f "out-$way.yuv"
done
if command -v ffmpeg >/dev/null; then
  cmp sums.md5 ffmpeg.md5 || { echo "the tool's checksums differ from ffmpeg's" >&2; exit 1; }
  cmp sums.sha ffmpeg.sha || { echo "the tool's framehash differs from ffmpeg's" >&2; exit 1; }
  echo "The tool's checksums are ffmpeg's framemd5 and framehash of the output, byte for byte."
fi
echo "All outputs identical, new and replaced: $outFrames frames, $((outFrames * frame)) bytes."

# Timed rounds, after the check above served as the warm-up. The order of
# the ways flips every round so that none always runs after the same one;
# each way makes a new output, then replaces it.
declare -A times
for ((round = 0; round < runs; round++)); do
  round_order "$round"
  for way in "${order[@]}"; do
    rm -f "out-$way.yuv"
    for column in new replace; do
      sync
      start=$EPOCHREALTIME
      "run_$way" "out-$way.yuv"
      times[$way.$column]+="$(seconds_since "$start") "
    done
    rm -f "out-$way.yuv"
  done
done

declare -A med
[ "$smoke" = 1 ] && printf '\nSmoke run: tiny sources, one round; the figures below mean nothing.\n'
printf '\n%-17s %8s %8s   (%d rounds, medians in seconds; each round new, then replace)\n' \
  way new replace "$runs"
for way in "${ways[@]}"; do
  for column in new replace; do med[$way.$column]=$(median "${times[$way.$column]}"); done
  printf '%-17s %8.3f %8.3f\n' "$way" "${med[$way.new]}" "${med[$way.replace]}"
done
# The ratio of two ways' medians in both columns.
ratio() {
  awk -v a="${med[$1.new]}" -v b="${med[$2.new]}" -v c="${med[$1.replace]}" \
    -v d="${med[$2.replace]}" 'BEGIN {printf "%.3f %8.3f", a / b, c / d}'
}
echo
printf '%-34s %5s %8s\n' "" new replace
echo "tool (stdout to a file) / dd       $(ratio tool_file dd)   target <= 0.80"
echo "tool (stdout to a file) / cat      $(ratio tool_file cat)   target <= 1.10"
echo "tool / dd, CIF frames              $(ratio tool_cif dd_cif)   target <= 0.80"
echo "tool on a terminal / tool to file  $(ratio tool_pty tool_pty_file)   target <= 1.03 (both under script)"
if [ -n "${med[ffmpeg.new]:-}" ]; then
  echo "tool (stdout to a file) / ffmpeg   $(ratio tool_file ffmpeg)"
  echo "tool --framemd5 / tool, then ffmpeg framemd5  $(ratio tool_md5 tool_then_ffmpeg_md5)   target <= 0.50"
  echo "tool --framehash / tool, then ffmpeg framehash  $(ratio tool_sha tool_then_ffmpeg_sha)   target <= 0.20"
fi
echo "tool --framemd5 / tool             $(ratio tool_md5 tool_file)   (the checksums' cost)"
echo "tool --framehash / tool            $(ratio tool_sha tool_file)   (SHA-256's cost)"
if [ -n "$candidate" ]; then
  echo "candidate / tool                   $(ratio candidate tool_file)"
  echo "candidate / tool, CIF frames       $(ratio candidate_cif tool_cif)"
  echo "candidate / tool, one-frame splices $(ratio candidate_single tool_single)"
fi
for way in tool_single ${candidate:+candidate_single}; do
  awk -v n="${med[$way.new]}" -v r="${med[$way.replace]}" -v k="$singleSplices" -v w="$way" \
    'BEGIN {printf "%s: %.2f ms a one-frame splice new, %.2f ms replacing\n", w, 1000 * n / k, 1000 * r / k}'
done

echo
echo "Every round, in seconds (new, then replace):"
for way in "${ways[@]}"; do
  printf '%-17s %s\n%-17s %s\n' "$way" "${times[$way.new]}" "" "${times[$way.replace]}"
done

peak() {
  rm -f out-rss.yuv
  /usr/bin/time -f %M "$tool" "$@" out-rss.yuv </dev/null 2>&1 >/dev/null | tail -1
  rm -f out-rss.yuv
}
echo
echo "peak resident memory: $(peak list.txt) KiB for list.txt, $(peak list10.txt) KiB for a list ten times as long   target: flat"
echo "with --framemd5: $(peak --framemd5=sums.md5 list.txt) KiB for list.txt, $(peak --framemd5=sums.md5 list10.txt) KiB ten times as long   target: a few frames more, flat"
rm -f floor.yuv floor-cif.yuv tool-stdout.txt sums.md5 ffmpeg.md5 sums.sha ffmpeg.sha
