#!/usr/bin/env bash
# Times testset-assembler fetching three splices through a far link (a
# forwarder of ours in front of the test nginx: 20 ms each way, 12 MB/s a
# connection) against aria2c -x8 -s8 fetching the same number of bytes as
# one file, and against curl -r fetching the same ranges one after the
# other; then the same splices on the loopback against curl.
#
#   bench/far_link.sh [--smoke] [--runs N] [--tool PATH] SCRATCH_DIR
#
# SCRATCH_DIR gets a 100-frame 1080p source of random bytes (311 MB); the
# three splices are 20 frames each (187 MB in all). --smoke shrinks them to
# prove the script.
set -euo pipefail

runs=3
smoke=0
tool=""
candidate=""
source "$(dirname "$0")/common.sh"
read_bench_options "$@"
command -v aria2c >/dev/null || { echo "aria2c is needed: apt-get install aria2" >&2; exit 2; }
frame=$((1920 * 1080 * 3 / 2))
if [ "$smoke" = 1 ]; then
  splices=("A.yuv 1 3" "A.yuv 20 2" "A.yuv 5 3")
else
  splices=("A.yuv 5 20" "A.yuv 40 20" "A.yuv 75 20")
fi
mkdir -p "$scratch"
cd "$scratch"
if [ "$(stat -c %s A.yuv 2>/dev/null || echo 0)" != $((100 * frame)) ]; then
  head -c $((100 * frame)) /dev/urandom >A.yuv
fi
servers="$scratch/servers"
rm -rf "$servers"
"$here/tests/web_servers.sh" start "$servers" >/dev/null
source "$servers/servers.env"
far_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 "$here/bench/far_link.py" "$far_port" "${HTTP##*:}" &
far_pid=$!
trap 'kill $far_pid; "$here/tests/web_servers.sh" stop "$servers"' EXIT
FAR=http://127.0.0.1:$far_port
ln -sf "$scratch/A.yuv" "$servers/www/"
total=0
for line in "${splices[@]}"; do
  read -r name first count <<<"$line"
  total=$((total + count * frame))
  echo "$FAR/$name $first $count"
done >list-far.txt
sed "s|$FAR|$HTTP|" list-far.txt >list-near.txt
# The same number of bytes, as one file for aria2c.
head -c "$total" A.yuv >"$servers/www/whole.yuv"
for _ in $(seq 100); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1', $far_port), 1)" 2>/dev/null &&
    break
  sleep 0.1
done

run_tool4() { "$tool" --yes --quiet list-far.txt out-tool.yuv </dev/null; }
run_tool8() { "$tool" --yes --quiet --connections=8 list-far.txt out-tool.yuv </dev/null; }
run_aria2c() {
  rm -f out-aria.yuv
  aria2c -q -x8 -s8 -k1M --allow-overwrite=true --file-allocation=none -d . -o out-aria.yuv \
    "$FAR/whole.yuv"
}
fetch_ranges() {
  while read -r url first count; do
    curl -s --fail -r "$((first * frame))-$(((first + count) * frame - 1))" "$url"
  done <"$1"
}
run_curl() { fetch_ranges list-far.txt >out-curl.yuv; }
run_near_tool() { "$tool" --yes --quiet list-near.txt out-tool.yuv </dev/null; }
run_near_curl() { fetch_ranges list-near.txt >out-curl.yuv; }

run_tool4
run_curl
cmp out-tool.yuv out-curl.yuv
run_aria2c
cmp out-aria.yuv "$servers/www/whole.yuv"
echo "The tool's output is curl's, and aria2c's the file it fetched: $total bytes each."

ways=(tool4 tool8 aria2c curl near_tool near_curl)
declare -A times
time_rounds
[ "$smoke" = 1 ] && printf '\nSmoke run: tiny splices, one round; the figures below mean nothing.\n'
printf '\n%-10s %8s   (%d rounds, medians in seconds)\n' way time "$runs"
declare -A m
for way in "${ways[@]}"; do
  m[$way]=$(median "${times[$way]}")
  printf '%-10s %8.3f   every round: %s\n' "$way" "${m[$way]}" "${times[$way]}"
done
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", a / b}'; }
echo "far link, tool (8 connections) / aria2c -x8 -s8:   $(ratio "${m[tool8]}" "${m[aria2c]}")   target <= 1.00"
echo "far link, tool (default, 4) / aria2c -x8 -s8:      $(ratio "${m[tool4]}" "${m[aria2c]}")"
echo "far link, tool (default, 4) / curl -r in turn:     $(ratio "${m[tool4]}" "${m[curl]}")   target <= 0.30"
echo "loopback, tool (default) / curl -r in turn:        $(ratio "${m[near_tool]}" "${m[near_curl]}")   target <= 1.10"
rm -f out-tool.yuv out-curl.yuv out-aria.yuv
