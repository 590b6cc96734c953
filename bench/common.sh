# Sourced by the benchmark scripts: the options they share, the tool they
# time, and the median of a list of times.

# Reads --runs N, --tool PATH and --candidate PATH (and --smoke where the
# script sets smoke=0 first) into runs, tool and candidate; the one
# argument left, the scratch folder, goes into scratch.
read_bench_options() {
  while [ $# -gt 1 ]; do
    case "$1" in
      --smoke) [ -n "${smoke:-}" ] || break; smoke=1; runs=1; shift ;;
      --runs) runs=$2; shift 2 ;;
      --tool) tool=$(realpath "$2"); shift 2 ;;
      --candidate) candidate=$(realpath "$2"); shift 2 ;;
      *) break ;;
    esac
  done
  [ $# -eq 1 ] || { sed -n '7p' "$0" >&2; exit 2; }
  scratch=$1
  here=$(cd "$(dirname "$0")/.." && pwd)
  [ -n "$tool" ] || tool="$here/build/testset-assembler"
  [ -x "$tool" ] || { echo "No tool at $tool; build it first." >&2; exit 2; }
}

# The median of the space-separated numbers in $1.
median() {
  tr ' ' '\n' <<<"$1" | grep . | sort -g |
    awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'
}

# Sets `order` to the ways of round $1: as listed in even rounds, reversed
# in odd ones, so that no way always runs after the same one.
round_order() {
  order=("${ways[@]}")
  if (($1 % 2 == 1)); then
    order=()
    for ((k = ${#ways[@]} - 1; k >= 0; k--)); do order+=("${ways[k]}"); done
  fi
}

# The seconds since $1, a value of $EPOCHREALTIME.
seconds_since() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN {printf "%.4f", b - a}'; }

# Times each way of `ways` (the function run_WAY) in `runs` rounds, in
# round_order, adding each time to times[WAY] (an associative array the
# script declares).
time_rounds() {
  local round way start
  for ((round = 0; round < runs; round++)); do
    round_order "$round"
    for way in "${order[@]}"; do
      start=$EPOCHREALTIME
      "run_$way"
      times[$way]+="$(seconds_since "$start") "
    done
  done
}
