#!/usr/bin/env bash
# The large-test-set regime: an 8.4 GB output from sources that are not in
# memory, next to 4 GB of other data that the machine keeps cached. Times
# the tool against buffered dd (with and without waiting for its data to
# reach the disk), dd with direct output, and the device's own limits, after
# checking every way's output with cmp. The same list from Y4M copies of the
# sources into a .y4m output is one more way. Every way is timed twice a
# round: making a new output, then replacing it (the tool with --yes, dd as
# a script writes it: the first dd cuts the output, the rest append).
#
#   bench/scale.sh [--shared-only] [--runs N] [--tool PATH] [--candidate PATH] SCRATCH_DIR
#
# Then, as root, the shared-blocks way: on an XFS file system made on a
# loop device in SCRATCH_DIR (about 10 GB, sparse; btrfs too where
# mkfs.btrfs is there), a 4.2 GB test set of 3840x2160 yuv420p10le frames
# from cold sources, the tool (which shares the sources' blocks) against
# dd until synced and the device's copy limit, with the new space each
# takes. --shared-only runs that way alone.
#
# SCRATCH_DIR needs about 32 GB: two 1,500-frame sources (9.3 GB), their
# Y4M copies (9.3 GB), the cached 4 GB file and one output at a time
# (8.4 GB). Before every run both
# sources are evicted from the page cache (posix_fadvise DONTNEED, through
# dd's nocache flag) and the 4 GB file is read back into it.
set -euo pipefail

runs=5
tool=""
candidate=""
sharedOnly=0
if [ "${1:-}" = --shared-only ]; then
  sharedOnly=1
  shift
fi
source "$(dirname "$0")/common.sh"
read_bench_options "$@"

# The shared-blocks way, on a file system of type $1 made for it.
shared_blocks_way() {
  local fs=$1 mnt="$scratch/$1-mount" img="$scratch/$1.img"
  local frame10=$((3840 * 2160 * 3 / 2 * 2)) ways10=(tool dd_sync device_copy)
  if [ "$(id -u)" != 0 ] || ! command -v "mkfs.$fs" >/dev/null; then
    echo "Shared blocks on $fs: skipped (needs root and mkfs.$fs)."
    return
  fi
  mkdir -p "$mnt"
  truncate -s 12G "$img"
  "mkfs.$fs" -q -f "$img" >/dev/null
  if ! mount -o loop "$img" "$mnt"; then
    echo "Shared blocks on $fs: skipped (no loop device)."
    rm -f "$img"
    return
  fi
  (
    cd "$mnt"
    echo "Shared blocks on $fs: making two 100-frame 2160p 10-bit sources (5 GB)..."
    for name in E F; do head -c $((100 * frame10)) /dev/urandom >"$name.yuv"; done
    printf 'E.yuv 0 90\nF.yuv 10 50\nE.yuv 60 30\n' >list10.txt
    local bytes=$((170 * frame10))
    expected10() {
      while read -r name first count; do
        dd if="$name" bs="$frame10" skip="$first" count="$count" status=none
      done <list10.txt
    }
    run10_tool() {
      "$tool" --yes --size=3840x2160 --pix-fmt=yuv420p10le list10.txt out.yuv >/dev/null
    }
    run10_dd_sync() { expected10 >out.yuv && sync out.yuv; }
    # A direct read of the output's size from a source while a direct write of
    # that size goes on, in blocks of eight frames.
    run10_device_copy() {
      dd if=E.yuv of=/dev/null bs=$((8 * frame10)) count=12 iflag=direct status=none &
      dd if=/dev/zero of=out.yuv bs=$((8 * frame10)) count=22 oflag=direct status=none
      wait
    }
    # Before a new output ($1 = new) the last one is removed; before a
    # replacing run it stays.
    prepare10() {
      [ "$1" = replace ] || rm -f out.yuv
      sync
      for name in E.yuv F.yuv; do dd if="$name" iflag=nocache count=0 status=none; done
    }
    used() { df --output=used -B1 . | tail -1; }
    run10_tool
    cmp out.yuv <(expected10) || { echo "the tool made a wrong file on $fs" >&2; exit 1; }
    echo "Shared blocks on $fs: the tool's output is identical to dd's ($bytes bytes)."
    declare -A wall10 space10
    for ((round = 0; round < runs; round++)); do
      for way in "${ways10[@]}"; do
        for column in new replace; do
          prepare10 "$column"
          local before start end
          before=$(used)
          start=$EPOCHREALTIME
          "run10_$way"
          sync
          end=$EPOCHREALTIME
          wall10[$way.$column]+="$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.4f", b - a}') "
          space10[$way.$column]+="$(($(used) - before)) "
        done
      done
    done
    rm -f out.yuv
    for column in new replace; do
      printf '\n%-13s %10s %14s   (%s, %s output, %d rounds, seconds until synced)\n' way median \
        "new bytes" "$fs" "$column" "$runs"
      for way in "${ways10[@]}"; do
        printf '%-13s %10.4f %14s   %s\n' "$way" "$(median "${wall10[$way.$column]}")" \
          "$(median "${space10[$way.$column]}")" "${wall10[$way.$column]}"
      done
      awk -v t="$(median "${wall10[tool.$column]}")" -v d="$(median "${wall10[dd_sync.$column]}")" \
        -v s="$(median "${space10[tool.$column]}")" -v b="$bytes" 'BEGIN {
          printf "tool / dd until synced (%s)    %.5f   target <= 0.01\n", "'"$fs"'", t / d
          printf "tool new space / output size   %.5f   target < 0.01\n", s / b
        }'
    done
  )
  umount "$mnt"
  rm -rf "$img" "$mnt"
}

mkdir -p "$scratch"
if [ "$sharedOnly" = 1 ]; then
  shared_blocks_way xfs
  shared_blocks_way btrfs
  exit 0
fi
frame=$((1920 * 1080 * 3 / 2))
sourceFrames=1500
outFrames=2700
mkdir -p "$scratch"
cd "$scratch"

for name in C D; do
  if [ "$(stat -c %s "$name.yuv" 2>/dev/null || echo 0)" != $((sourceFrames * frame)) ]; then
    echo "Making $name.yuv ($((sourceFrames * frame)) bytes of random frames)..."
    head -c $((sourceFrames * frame)) /dev/urandom >"$name.yuv"
  fi
done
if [ "$(stat -c %s other.bin 2>/dev/null || echo 0)" != $((4 << 30)) ]; then
  echo "Making other.bin (4 GiB standing for the machine's other cached data)..."
  head -c $((4 << 30)) /dev/urandom >other.bin
fi
y4mHeader='YUV4MPEG2 W1920 H1080 F50:1 Ip A1:1 C420jpeg'
for name in C D; do
  if [ "$(stat -c %s "$name.y4m" 2>/dev/null || echo 0)" != $((${#y4mHeader} + 1 + sourceFrames * (6 + frame))) ]; then
    echo "Making $name.y4m (the frames of $name.yuv, each behind a FRAME line)..."
    {
      printf '%s\n' "$y4mHeader"
      for ((i = 0; i < sourceFrames; i++)); do
        printf 'FRAME\n'
        dd if="$name.yuv" bs="$frame" skip="$i" count=1 status=none
      done
    } >"$name.y4m"
  fi
done
printf 'C.yuv 0 1400\nD.yuv 100 1300\n' >list.txt
sed 's/\.yuv/.y4m/' list.txt >list-y4m.txt

# The expected output as a stream, so that checking an output needs no
# second 8.4 GB file.
expected() {
  while read -r name first count; do
    dd if="$name" bs="$frame" skip="$first" count="$count" status=none
  done <list.txt
}

run_tool() { "$tool" --yes list.txt out.yuv </dev/null >tool-stdout.txt; }
run_tool_y4m() { "$tool" --yes list-y4m.txt out.y4m </dev/null >tool-stdout.txt; }
# The expected Y4M output as a stream.
expected_y4m() {
  printf '%s\n' "$y4mHeader"
  while read -r name first count; do
    for ((i = first; i < first + count; i++)); do
      printf 'FRAME\n'
      dd if="$name" bs="$frame" skip="$i" count=1 status=none
    done
  done <list.txt
}
run_candidate() { "$candidate" --yes list.txt out.yuv </dev/null >tool-stdout.txt; }
# dd as a script writes it: one per splice, the first cutting the output,
# the others appending to it.
run_dd() {
  local append=()
  while read -r name first count; do
    dd if="$name" of=out.yuv bs="$frame" skip="$first" count="$count" "${append[@]}" status=none
    append=(oflag=append conv=notrunc)
  done <list.txt
}
# A buffered copy is not done until its data is on the disk.
run_dd_sync() { run_dd && sync out.yuv; }
run_dd_direct() {
  while read -r name first count; do
    dd if="$name" bs="$frame" skip="$first" count="$count" status=none
  done <list.txt | dd of=out.yuv bs="$frame" iflag=fullblock oflag=direct status=none
}
# The device alone: a direct write of the output's size, a direct read of
# one source.
run_device_write() {
  dd if=/dev/zero of=out.yuv bs="$frame" count="$outFrames" oflag=direct status=none
}
run_device_read() { dd if=C.yuv of=/dev/null bs="$frame" iflag=direct status=none; }
# The device's copy limit: a direct read of the output's size from the
# sources and a direct write of the same size, started together, in blocks
# of eight frames (the output's 2,700 frames rounded up to 2,704). D is
# read from frame 96, the block boundary below frame 100.
run_device_copy() {
  local block=$((8 * frame))
  {
    dd if=C.yuv of=/dev/null bs="$block" count=175 iflag=direct status=none
    dd if=D.yuv of=/dev/null bs="$block" skip=12 count=163 iflag=direct status=none
  } &
  dd if=/dev/zero of=out.yuv bs="$block" count=338 oflag=direct status=none
  wait
}

# Timed runs start each way in a shell of its own, under /usr/bin/time.
export frame outFrames tool candidate y4mHeader
export -f expected run_tool run_tool_y4m run_candidate run_dd run_dd_sync run_dd_direct run_device_write \
  run_device_read run_device_copy

ways=(tool tool_y4m dd dd_sync dd_direct device_copy device_write device_read)
[ -n "$candidate" ] && ways+=(candidate)

evict_sources() {
  for name in C.yuv D.yuv C.y4m D.y4m; do dd if="$name" iflag=nocache count=0 status=none; done
}
# Before a new output ($1 = new) the last one is removed; before a replacing
# run it stays.
prepare() {
  [ "$1" = replace ] || rm -f out.yuv out.y4m
  sync
  evict_sources
  cat other.bin >/dev/null
}
cached_percent() {
  fincore --bytes --noheadings --output RES other.bin |
    awk -v size=$((4 << 30)) '{printf "%.1f", 100 * $1 / size}'
}

for way in tool dd dd_direct ${candidate:+candidate}; do
  prepare new
  "run_$way"
  cmp out.yuv <(expected) || { echo "$way made a wrong file" >&2; exit 1; }
  echo "$way: output identical to the listed frames ($((outFrames * frame)) bytes)."
done
prepare new
run_tool_y4m
cmp out.y4m <(expected_y4m) || { echo "tool_y4m made a wrong file" >&2; exit 1; }
echo "tool_y4m: output identical to the listed frames, each behind a FRAME line."

declare -A wall sync cpu cached
for ((round = 0; round < runs; round++)); do
  round_order "$round"
  for way in "${order[@]}"; do
    for column in new replace; do
      prepare "$column"
      start=$EPOCHREALTIME
      /usr/bin/time -f '%e %U %S' -o time.txt bash -c "run_$way"
      sync
      end=$EPOCHREALTIME
      read -r elapsed user system <time.txt
      key=$way.$column
      wall[$key]+="$elapsed "
      sync[$key]+="$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.2f", b - a}') "
      cpu[$key]+="$(awk -v u="$user" -v s="$system" 'BEGIN {printf "%.2f", u + s}') "
      cached[$key]+="$(cached_percent) "
      echo "round $((round + 1)) $way, $column output: ${elapsed}s wall, ${user}+${system}s CPU," \
        "other.bin $(cached_percent)% cached"
    done
  done
done
rm -f out.yuv out.y4m time.txt tool-stdout.txt

slowest() { tr ' ' '\n' <<<"$1" | grep . | sort -g | tail -1; }
least() { tr ' ' '\n' <<<"$1" | grep . | sort -g | head -1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", a / b}'; }
declare -A med
for column in new replace; do
  printf '\n%-13s %8s %8s %10s %9s %12s   (%s output, %d rounds, seconds)\n' way median slowest \
    "until sync" "cpu" "other cached" "$column" "$runs"
  for way in "${ways[@]}"; do
    key=$way.$column
    med[$key]=$(median "${wall[$key]}")
    med[cpu_$key]=$(median "${cpu[$key]}")
    printf '%-13s %8.2f %8.2f %10.2f %9.2f %11s%%   %s\n' "$way" "${med[$key]}" \
      "$(slowest "${wall[$key]}")" "$(median "${sync[$key]}")" "${med[cpu_$key]}" \
      "$(least "${cached[$key]}")" "${wall[$key]}"
  done
  c=$column
  echo
  echo "tool / device copy limit (wall)   $(ratio "${med[tool.$c]}" "${med[device_copy.$c]}")   target <= 1.25"
  echo "tool / dd until synced (wall)     $(ratio "${med[tool.$c]}" "${med[dd_sync.$c]}")   target <= 0.80"
  echo "tool / dd (wall)                  $(ratio "${med[tool.$c]}" "${med[dd.$c]}")"
  echo "tool from and to Y4M / tool (wall) $(ratio "${med[tool_y4m.$c]}" "${med[tool.$c]}")   target <= 1.10"
  echo "tool slowest / tool median        $(ratio "$(slowest "${wall[tool.$c]}")" "${med[tool.$c]}")   target <= 1.15"
  echo "tool / dd (user+system CPU)       $(ratio "${med[cpu_tool.$c]}" "${med[cpu_dd.$c]}")   target <= 0.25"
  echo "other.bin cached after tool runs  $(least "${cached[tool.$c]}")% at least   target >= 90"
  if [ -n "$candidate" ]; then
    echo "candidate / tool (wall)           $(ratio "${med[candidate.$c]}" "${med[tool.$c]}")"
  fi
done
echo
shared_blocks_way xfs
shared_blocks_way btrfs
