#!/usr/bin/env bash
# Makes the archives the archive tests read, with the real archivers, in
# DIR: CIF clips of random bytes (clip_352x288.yuv, 12 frames; other_352x288.yuv,
# 4; long_352x288.yuv, 60), a Y4M clip (akiyo_cif.y4m) and a licence, then
# each kind of archive of them, and the damaged, cut, encrypted and mixed
# ones. Run by the suite on Linux, and by scripts/windows.sh for the suite
# under Wine, which has no archivers of its own.
#
#   tests/make_archives.sh DIR
set -eu
dir=$1
# A folder it made before is made anew; any other must be empty.
if [ -e "$dir/.test-archives" ]; then
  rm -rf "$dir"
elif [ -n "$(ls -A "$dir" 2>/dev/null)" ]; then
  echo "$dir is not empty" >&2
  exit 1
fi
mkdir -p "$dir"
cd "$dir"
touch .test-archives
cif=$((352 * 288 * 3 / 2))
# Random bytes of seven bits: the compressors have something to do.
noise() { head -c "$1" /dev/urandom | tr '\200-\377' '\000-\177'; }
noise $((12 * cif)) >clip_352x288.yuv
noise $((4 * cif)) >other_352x288.yuv
noise $((60 * cif)) >long_352x288.yuv
{
  printf 'YUV4MPEG2 W352 H288 F25:1 Ip A1:1 C420jpeg\n'
  for i in $(seq 0 11); do
    printf 'FRAME\n'
    dd if=clip_352x288.yuv bs=$cif skip="$i" count=1 status=none
  done
} >akiyo_cif.y4m
printf 'These clips may be used for testing only.\n' >LICENSE.txt
uvg=Beauty_352x288_120fps_420_8bit_YUV_RAW
cp clip_352x288.yuv $uvg.yuv

# Each kind, the clip beside the licence.
members=(clip_352x288.yuv LICENSE.txt)
7z a -bd -bso0 -bsp0 clip.7z "${members[@]}"
zip -q -0 clip.stored.zip "${members[@]}"
zip -q clip.zip "${members[@]}"
tar cf clip.tar "${members[@]}"
tar czf clip.tar.gz "${members[@]}"
tar cJf clip.tar.xz "${members[@]}"
tar --zstd -cf clip.tar.zst "${members[@]}"
tar cjf clip.tar.bz2 "${members[@]}"
for compress in "xz -k" "gzip -k" "zstd -q -k" "bzip2 -k"; do $compress akiyo_cif.y4m; done
7z a -bd -bso0 -bsp0 $uvg.7z $uvg.yuv LICENSE.txt
xz -k -1 long_352x288.yuv
7z a -bd -bso0 -bsp0 -mx1 long.7z long_352x288.yuv LICENSE.txt

# Two clips; an encrypted one; a text that is no archive.
zip -q -0 two.zip clip_352x288.yuv other_352x288.yuv LICENSE.txt
mkdir -p clips && cp other_352x288.yuv clips/ && zip -q -r two.zip clips
zip -q -P secret encrypted.zip clip_352x288.yuv
cp LICENSE.txt text.zip

# Damaged: a byte of the data changed (the zip's CRC, the xz's check, the
# gzip trailer's CRC); cut short.
flip() { printf '\x55' | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }
cp clip.zip damaged.zip && flip damaged.zip 900000
cp akiyo_cif.y4m.xz damaged.y4m.xz && flip damaged.y4m.xz 900000
cp akiyo_cif.y4m.gz damaged.y4m.gz && size=$(stat -c %s damaged.y4m.gz) && flip damaged.y4m.gz $((size - 8))
head -c 1200000 clip.tar.xz >cut.tar.xz
