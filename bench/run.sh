#!/usr/bin/env bash
# Whole-process timings and peak memory of the program against the baseline, which only writes
# the same output bytes (held in memory) into the same files with the same safe replacement.
#
#   bench/run.sh            # build into build/ (or $BUILD), measure, print the table
#
# Cases: the default build run (`compactor --dir`), and `compactor compile` of the large
# generated scenario and of generated lines of 100, 250, 500 and 1000 km. Each time is the median
# of $RUNS runs (default 21) after two warm-up runs, the program and the baseline taking turns so
# that both see the same load. Peak memory is the maximum resident set (median of 5 runs).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build}
RUNS=${RUNS:-21}
MEM_RUNS=5

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$BUILD" -j2 --target compactor gen_scenario baseline >/dev/null

COMPACTOR=$BUILD/compactor
GEN=$BUILD/bench/gen_scenario
BASELINE=$BUILD/bench/baseline
if [ ! -x /usr/bin/time ]; then
  echo "run.sh: /usr/bin/time is missing (Debian: apt-get install time)" >&2
  exit 2
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/compactor-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# Median of the numbers given, one per argument.
median() {
  printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}

# Milliseconds of wall time of one run of the command given.
wall_ms() {
  local t0 t1
  t0=$EPOCHREALTIME
  "$@" >/dev/null 2>&1 || { echo "run.sh: failed: $*" >&2; exit 1; }
  t1=$EPOCHREALTIME
  awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.3f", (b - a) * 1000}'
}

# Maximum resident set in KiB of one run of the command given.
peak_kib() {
  /usr/bin/time -f %M -o "$WORK/rss" "$@" >/dev/null 2>&1 || { echo "run.sh: failed: $*" >&2; exit 1; }
  tail -n 1 "$WORK/rss"
}

# measure NAME -- PROGRAM... -- BASELINE...: fills the result arrays for one case.
declare -a NAMES PROG_MS BASE_MS PROG_MIB BASE_MIB WRITE_MS
measure() {
  local name=$1
  shift 2
  local prog=() base=()
  while [ "$1" != "--" ]; do prog+=("$1"); shift; done
  shift
  base=("$@")
  local i p=() b=() pm=() bm=() w=()
  for i in 1 2; do wall_ms "${prog[@]}" >/dev/null; wall_ms "${base[@]}" >/dev/null; done
  for ((i = 0; i < RUNS; i++)); do
    p+=("$(wall_ms "${prog[@]}")")
    b+=("$(wall_ms "${base[@]}")")
  done
  for ((i = 0; i < MEM_RUNS; i++)); do
    pm+=("$(peak_kib "${prog[@]}")")
    bm+=("$(peak_kib "${base[@]}")")
    w+=("$("${base[@]}" --report | awk '{print $(NF - 1)}')")
  done
  NAMES+=("$name")
  PROG_MS+=("$(median "${p[@]}")")
  BASE_MS+=("$(median "${b[@]}")")
  PROG_MIB+=("$(awk -v k="$(median "${pm[@]}")" 'BEGIN {printf "%.1f", k / 1024}')")
  BASE_MIB+=("$(awk -v k="$(median "${bm[@]}")" 'BEGIN {printf "%.1f", k / 1024}')")
  WRITE_MS+=("$(median "${w[@]}")")
}

# The outputs a finished run left, copied into REF for the baseline.
keep_outputs() {
  local from=$1 ref=$2 f
  shift 2
  mkdir -p "$ref"
  for f in "$@"; do cp "$from/$f" "$ref/"; done
}

OUTPUTS=("QUELDRANO 2_linea.dat" "QUELDRANO 2_555.sim" "QUELDRANO 2_555.dat")

# The default build run: five text files written, two read back and deleted, three outputs.
mkdir -p "$WORK/default" "$WORK/default-base"
"$COMPACTOR" --dir "$WORK/default" -q
keep_outputs "$WORK/default" "$WORK/default-ref" "${OUTPUTS[@]}" \
  "QUELDRANO 2_555_note.txt" "QUELDRANO 2_555_rallentamenti.txt" "QUELDRANO 2_555_scheda_treno.txt"
measure "default run" -- "$COMPACTOR" --dir "$WORK/default" -q \
  -- "$BASELINE" "$WORK/default-ref" "$WORK/default-base"

# The compile of generated scenarios; the sources stay in place between runs.
compile_case() {
  local name=$1 dir=$2
  shift 2
  mkdir -p "$dir" "$dir-base"
  "$GEN" "$dir" "$@"
  "$COMPACTOR" compile "$dir" -q
  keep_outputs "$dir" "$dir-ref" "${OUTPUTS[@]}"
  measure "$name" -- "$COMPACTOR" compile "$dir" -q -- "$BASELINE" "$dir-ref" "$dir-base"
}
compile_case "large scenario" "$WORK/large"
for km in 100 250 500 1000; do
  compile_case "line ${km} km" "$WORK/line$km" --length $((km * 1000))
done

# The baseline wrote the same bytes as the program.
for f in "${OUTPUTS[@]}"; do
  cmp -s "$WORK/default/$f" "$WORK/default-base/$f" || { echo "run.sh: $f differs" >&2; exit 1; }
  cmp -s "$WORK/large/$f" "$WORK/large-base/$f" || { echo "run.sh: $f differs" >&2; exit 1; }
done

echo "compactor against the baseline: medians of $RUNS runs, peak memory medians of $MEM_RUNS runs"
echo "(on $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg))"
echo
printf '%-16s %12s %12s %7s %12s %12s %14s\n' "case" "compactor ms" "baseline ms" "ratio" \
  "compactor MiB" "baseline MiB" "writes alone ms"
for i in "${!NAMES[@]}"; do
  printf '%-16s %12.1f %12.1f %7.2f %12s %12s %14.1f\n' "${NAMES[$i]}" "${PROG_MS[$i]}" \
    "${BASE_MS[$i]}" "$(awk -v a="${PROG_MS[$i]}" -v b="${BASE_MS[$i]}" 'BEGIN {print a / b}')" \
    "${PROG_MIB[$i]}" "${BASE_MIB[$i]}" "${WRITE_MS[$i]}"
done
echo

# The targets.
status=0
check() {
  local what=$1 ok=$2
  if [ "$ok" = 1 ]; then echo "  ok    $what"; else echo "  FAIL  $what"; status=1; fi
}
le() { awk -v a="$1" -v b="$2" 'BEGIN {print (a <= b) ? 1 : 0}'; }
echo "targets:"
check "default run at most 1.25 times the baseline" "$(le "${PROG_MS[0]}" "$(awk -v b="${BASE_MS[0]}" 'BEGIN {print 1.25 * b}')")"
check "large scenario at most 1.25 times the baseline" "$(le "${PROG_MS[1]}" "$(awk -v b="${BASE_MS[1]}" 'BEGIN {print 1.25 * b}')")"
check "default run at most 24 MiB" "$(le "${PROG_MIB[0]}" 24)"
check "large scenario at most 64 MiB" "$(le "${PROG_MIB[1]}" 64)"
# Lines of 100 to 1000 km: from each length to the next, time and memory grow by no more than
# the length does.
lengths=(100 250 500 1000)
for j in 0 1 2; do
  a=$((j + 2)) b=$((j + 3))
  grow=$(awk -v l1="${lengths[$j]}" -v l2="${lengths[$((j + 1))]}" 'BEGIN {print l2 / l1}')
  check "${lengths[$j]} to ${lengths[$((j + 1))]} km: time grows by at most ${grow}x" \
    "$(le "${PROG_MS[$b]}" "$(awk -v t="${PROG_MS[$a]}" -v g="$grow" 'BEGIN {print t * g}')")"
  check "${lengths[$j]} to ${lengths[$((j + 1))]} km: memory grows by at most ${grow}x" \
    "$(le "${PROG_MIB[$b]}" "$(awk -v m="${PROG_MIB[$a]}" -v g="$grow" 'BEGIN {print m * g}')")"
done
exit $status
