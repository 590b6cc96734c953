#!/usr/bin/env bash
# On file systems that share blocks between files (XFS, btrfs), made on a
# loop device: an output whose frames lie on whole blocks shares them with
# its sources (FIEMAP's shared flag, as filefrag shows it), is byte for byte
# what dd cuts out, and prints the same lines as a run that copies every
# byte (--reflink=never), which shares nothing, with the same checksums.
#
#   tests/shared_blocks_check.sh TOOL
#
# Needs root, a loop device and mkfs.xfs or mkfs.btrfs; exits 77 (skipped)
# with the reason where it cannot make one.
set -eu
tool=$(realpath "$1")
skip() {
  echo "Skipped: $*"
  exit 77
}
[ "$(id -u)" = 0 ] || skip "making a file system on a loop device needs root"
command -v filefrag >/dev/null || skip "no filefrag (e2fsprogs) to read the shared flag"

work=$(mktemp -d)
cleanup() {
  mountpoint -q "$work/mnt" && umount "$work/mnt"
  rm -rf "$work"
}
trap cleanup EXIT
mkdir "$work/mnt"

# 1280x720 yuv444p frames are whole blocks, so every splice shares; of
# 352x288 yuv420p frames, those from the first block boundary on in steps
# of eight share, when the two files hold them at one offset in a block.
frame720=$((1280 * 720 * 3))
frameCif=$((352 * 288 * 3 / 2))
checked=0
for fs in xfs btrfs; do
  command -v "mkfs.$fs" >/dev/null || { echo "No mkfs.$fs: $fs not tried"; continue; }
  truncate -s 512M "$work/$fs.img"
  "mkfs.$fs" -q -f "$work/$fs.img" >/dev/null
  mount -o loop "$work/$fs.img" "$work/mnt" 2>/dev/null || skip "cannot mount a loop device here"
  cd "$work/mnt"
  head -c $((40 * frame720)) /dev/urandom >hd.yuv
  head -c $((60 * frameCif)) /dev/urandom >cif.yuv
  printf 'hd.yuv 3 20\nhd.yuv 0 10\n' >hd.txt
  printf 'cif.yuv 0 20\ncif.yuv 8 17\n' >cif.txt
  for run in "hd --size=1280x720 --pix-fmt=yuv444p $frame720" "cif --size=352x288 $frameCif"; do
    read -r name size pixFmt bytes <<<"$run"
    [ -n "$bytes" ] || { bytes=$pixFmt; pixFmt=""; }
    while read -r source first count; do
      dd if="$source" bs="$bytes" skip="$first" count="$count" status=none
    done <"$name.txt" >expected.yuv
    # shellcheck disable=SC2086
    "$tool" $size $pixFmt --framemd5=shared.md5 "$name.txt" shared.yuv >shared.txt
    # shellcheck disable=SC2086
    "$tool" $size $pixFmt --framemd5=copied.md5 --reflink=never "$name.txt" copied.yuv >copied.txt
    sync
    cmp expected.yuv shared.yuv
    cmp expected.yuv copied.yuv
    # Shared frames are read back for their checksums.
    cmp shared.md5 copied.md5
    # The lines, but for the closing report's seconds.
    cmp <(grep -v '^Done' shared.txt) <(grep -v '^Done' copied.txt)
    filefrag -v shared.yuv | grep -q shared || { echo "$fs: $name shares no block"; exit 1; }
    if filefrag -v copied.yuv | grep -q shared; then
      echo "$fs: $name copied with --reflink=never shares blocks"
      exit 1
    fi
    echo "$fs: $name output shares its sources' blocks and is identical"
    rm -f shared.yuv copied.yuv expected.yuv
  done
  # Y4M into Y4M: frames of 2 bytes behind 6-byte markers, after a 40-byte
  # header, lie on a block every 512 frames from frame 507 on. A broken
  # marker inside the shared range takes the share back: the copy reports
  # it and keeps the frames before it.
  for broken in none 700; do
    {
      printf 'YUV4MPEG2 W1 H2 F25:1 Ip A1:1 Cmono XAB\n'
      for ((i = 0; i < 2000; i++)); do
        [ "$i" = "$broken" ] && printf 'FRAMX\n' || printf 'FRAME\n'
        printf '%02x' $((i % 256)) | head -c 2
      done
    } >tiny.y4m
    printf 'tiny.y4m 0 2000\n' >tiny.txt
    status=0
    "$tool" tiny.txt shared.y4m >shared.txt || status=$?
    if [ "$broken" = none ]; then
      [ "$status" = 0 ] && cmp tiny.y4m shared.y4m || { echo "$fs: Y4M differs"; exit 1; }
      filefrag -v shared.y4m | grep -q shared || { echo "$fs: Y4M shares no block"; exit 1; }
    else
      tail -1 shared.txt | grep -q "broken frame marker before frame 700" &&
        [ "$status" = 6 ] && cmp <(head -c $((40 + 700 * 8)) tiny.y4m) shared.y4m ||
        { echo "$fs: a broken marker in a shared range was not reported"; exit 1; }
    fi
    rm -f shared.y4m
  done
  echo "$fs: a Y4M output shares its Y4M source's blocks, and a broken marker is still found"
  cd "$work"
  umount "$work/mnt"
  checked=$((checked + 1))
done
[ "$checked" -gt 0 ] || skip "no file system that shares blocks could be made"
