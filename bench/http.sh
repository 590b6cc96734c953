#!/usr/bin/env bash
# Times testset-assembler reading its sources from a local nginx against
# curl fetching the same byte ranges into one file, as a script would,
# after checking that both outputs are what dd cuts from the files; then
# 1,000 one-frame splices of one URL (the time per splice, and the
# connections nginx's log shows), and the peak memory of a run from URLs
# beside the same run from files.
#
#   bench/http.sh [--smoke] [--runs N] [--tool PATH] SCRATCH_DIR
#
# SCRATCH_DIR gets two 200-frame 1080p sources of random bytes (1.2 GB) and
# outputs of 1.15 GB; --smoke shrinks everything to prove the script works.
set -euo pipefail

runs=9
smoke=0
tool=""
candidate=""
source "$(dirname "$0")/common.sh"
read_bench_options "$@"
frame=$((1920 * 1080 * 3 / 2))

mkdir -p "$scratch"
cd "$scratch"
if [ "$smoke" = 1 ]; then
  sourceFrames=20
  splices=("A.yuv 1 15" "B.yuv 0 12" "A.yuv 10 10")
  singleSplices=20
else
  sourceFrames=200
  splices=("A.yuv 10 150" "B.yuv 0 120" "A.yuv 100 100")
  singleSplices=1000
fi
for name in A B; do
  if [ "$(stat -c %s "$name.yuv" 2>/dev/null || echo 0)" != $((sourceFrames * frame)) ]; then
    head -c $((sourceFrames * frame)) /dev/urandom >"$name.yuv"
  fi
done

servers="$scratch/servers"
rm -rf "$servers"
"$here/tests/web_servers.sh" start "$servers" >/dev/null
trap '"$here/tests/web_servers.sh" stop "$servers"' EXIT
source "$servers/servers.env"
ln -s "$scratch/A.yuv" "$scratch/B.yuv" "$servers/www/"

for line in "${splices[@]}"; do
  read -r name first count <<<"$line"
  echo "$HTTP/$name $first $count"
done >list-http.txt
printf '%s\n' "${splices[@]}" >list-files.txt
for ((i = 0; i < singleSplices; i++)); do
  echo "$HTTP/A.yuv $((i * 37 % sourceFrames)) 1"
done >list-single.txt

run_tool() { "$tool" --yes --quiet list-http.txt out-tool.yuv </dev/null; }
run_curl() {
  while read -r url first count; do
    curl -s --fail -r "$((first * frame))-$(((first + count) * frame - 1))" "$url"
  done <list-http.txt >out-curl.yuv
}
while read -r name first count; do
  dd if="$name" bs="$frame" skip="$first" count="$count" status=none
done <list-files.txt >expected.yuv
run_tool
run_curl
cmp out-tool.yuv expected.yuv && cmp out-curl.yuv expected.yuv
echo "Both outputs are what dd cuts from the files: $(stat -c %s expected.yuv) bytes."

ways=(tool curl)
declare -A times
time_rounds
[ "$smoke" = 1 ] && printf '\nSmoke run: tiny sources, one round; the figures below mean nothing.\n'
tool_median=$(median "${times[tool]}")
curl_median=$(median "${times[curl]}")
printf '\n%-6s %8s   (%d rounds, medians in seconds)\n' way time "$runs"
printf '%-6s %8.3f\n%-6s %8.3f\n' tool "$tool_median" curl "$curl_median"
awk -v a="$tool_median" -v b="$curl_median" \
  'BEGIN {printf "tool / curl, the same three ranges   %.3f   target <= 1.10\n", a / b}'
echo "Every round: tool ${times[tool]}"
echo "             curl ${times[curl]}"

before=$(wc -l <"$servers/access.log")
start=$EPOCHREALTIME
"$tool" --yes --quiet list-single.txt out-single.yuv </dev/null
elapsed=$(seconds_since "$start")
connections=$(tail -n +$((before + 1)) "$servers/access.log" | cut -d' ' -f1 | sort -u | wc -l)
requests=$(($(wc -l <"$servers/access.log") - before))
awk -v t="$elapsed" -v k="$singleSplices" -v r="$requests" -v c="$connections" \
  'BEGIN {printf "%d one-frame splices of one URL: %.2f ms a splice, %d requests on %d connection(s)\n", k, 1000 * t / k, r, c}'

peak() { /usr/bin/time -f %M "$tool" --yes --quiet "$1" out-rss.yuv </dev/null 2>&1 >/dev/null | tail -1; }
echo "peak resident memory: $(peak list-files.txt) KiB from files, $(peak list-http.txt) KiB from URLs   target: the same"
rm -f out-tool.yuv out-curl.yuv out-single.yuv out-rss.yuv expected.yuv
