#!/usr/bin/env bash
# Whole-process timings and peak memory of the program against the baseline, which only writes
# the same output bytes (held in memory) into the same files with the same safe replacement.
#
#   bench/run.sh            # build into build/ (or $BUILD), measure, print the table
#
# Cases: the default build run (`compactor --dir`), and `compactor compile` of the large
# generated scenario and of generated lines of 100, 250, 500 and 1000 km. Each time is the median
# of $RUNS runs (default 21) after two warm-up runs; the runs go round all cases in turn, the
# program and the baseline one after the other, so that a change of load while the script runs
# falls on all of them alike. Peak memory is the maximum resident set (median of 5 runs).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build}
RUNS=${RUNS:-21}
MEM_RUNS=5

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
if ! log=$(cmake --build "$BUILD" -j2 --target compactor gen_scenario baseline 2>&1); then
  echo "$log" >&2
  exit 1
fi

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

# The outputs a finished run left, copied into REF for the baseline.
keep_outputs() {
  local from=$1 ref=$2 f
  shift 2
  mkdir -p "$ref"
  for f in "$@"; do cp "$from/$f" "$ref/"; done
}

# What a run leaves, in the order the program writes it.
OUTPUTS=("QUELDRANO 2_linea.dat" "QUELDRANO 2_555.sim" "QUELDRANO 2_555.dat")
TEXTS=("QUELDRANO 2_555_note.txt" "QUELDRANO 2_555_rallentamenti.txt"
  "QUELDRANO 2_555_scheda_treno.txt")

# The cases: a name and a directory each. The default build run writes five text files, reads
# two back and deletes them, and writes three outputs; the compiles keep their sources.
NAMES=("default run" "large scenario" "line 100 km" "line 250 km" "line 500 km" "line 1000 km")
DIRS=("$WORK/default" "$WORK/large" "$WORK/line100" "$WORK/line250" "$WORK/line500"
  "$WORK/line1000")
mkdir -p "${DIRS[@]}" "${DIRS[@]/%/-base}"
"$COMPACTOR" --dir "${DIRS[0]}" -q
keep_outputs "${DIRS[0]}" "${DIRS[0]}-ref" "${TEXTS[@]}" "${OUTPUTS[@]}"
"$GEN" "${DIRS[1]}"
for k in 2 3 4 5; do
  "$GEN" "${DIRS[$k]}" --length "${NAMES[$k]//[^0-9]/}000"
done
for k in 1 2 3 4 5; do
  "$COMPACTOR" compile "${DIRS[$k]}" -q
  keep_outputs "${DIRS[$k]}" "${DIRS[$k]}-ref" "${OUTPUTS[@]}"
done

# The command lines of case k, into CMD.
program_cmd() {
  if [ "$1" = 0 ]; then
    CMD=("$COMPACTOR" --dir "${DIRS[0]}" -q)
  else
    CMD=("$COMPACTOR" compile "${DIRS[$1]}" -q)
  fi
}
baseline_cmd() {
  if [ "$1" = 0 ]; then
    CMD=("$BASELINE" "${DIRS[0]}-ref" "${DIRS[0]}-base" "${TEXTS[@]}" "${OUTPUTS[@]}")
  else
    CMD=("$BASELINE" "${DIRS[$1]}-ref" "${DIRS[$1]}-base" "${OUTPUTS[@]}")
  fi
}

# Round after round, every case in turn and the program and the baseline in turn, so that a
# change of load while the script runs falls on all of them alike.
declare -a P B PM BM W
for k in "${!NAMES[@]}"; do
  for i in 1 2; do
    program_cmd "$k"
    wall_ms "${CMD[@]}" >/dev/null
    baseline_cmd "$k"
    wall_ms "${CMD[@]}" >/dev/null
  done
done
for ((i = 0; i < RUNS; i++)); do
  for k in "${!NAMES[@]}"; do
    program_cmd "$k"
    P[$k]+=" $(wall_ms "${CMD[@]}")"
    baseline_cmd "$k"
    B[$k]+=" $(wall_ms "${CMD[@]}")"
  done
done
for ((i = 0; i < MEM_RUNS; i++)); do
  for k in "${!NAMES[@]}"; do
    program_cmd "$k"
    PM[$k]+=" $(peak_kib "${CMD[@]}")"
    baseline_cmd "$k"
    BM[$k]+=" $(peak_kib "${CMD[@]}")"
    W[$k]+=" $("${CMD[0]}" --report "${CMD[@]:1}" | awk '{print $(NF - 1)}')"
  done
done
# Per round, the program's time over the baseline's just after it.
paired_ratios() {
  awk -v p="$1" -v b="$2" 'BEGIN {n = split(p, x, " "); split(b, y, " "); for (i = 1; i <= n; i++) print x[i] / y[i]}'
}
declare -a PROG_MS BASE_MS PAIRED PROG_MIB BASE_MIB WRITE_MS
for k in "${!NAMES[@]}"; do
  # shellcheck disable=SC2086
  {
    PROG_MS[$k]=$(median ${P[$k]})
    BASE_MS[$k]=$(median ${B[$k]})
    PAIRED[$k]=$(median $(paired_ratios "${P[$k]}" "${B[$k]}"))
    PROG_MIB[$k]=$(awk -v k="$(median ${PM[$k]})" 'BEGIN {printf "%.1f", k / 1024}')
    BASE_MIB[$k]=$(awk -v k="$(median ${BM[$k]})" 'BEGIN {printf "%.1f", k / 1024}')
    WRITE_MS[$k]=$(median ${W[$k]})
  }
done

# The baseline wrote the same bytes as the program.
for f in "${TEXTS[@]}" "${OUTPUTS[@]}"; do
  cmp -s "$WORK/default/$f" "$WORK/default-base/$f" || { echo "run.sh: $f differs" >&2; exit 1; }
done
for f in "${OUTPUTS[@]}"; do
  cmp -s "$WORK/large/$f" "$WORK/large-base/$f" || { echo "run.sh: $f differs" >&2; exit 1; }
done

echo "compactor against the baseline: medians of $RUNS runs, peak memory medians of $MEM_RUNS runs"
echo "(on $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg))"
echo
printf '%-16s %12s %12s %7s %7s %12s %12s %14s\n' "case" "compactor ms" "baseline ms" "ratio" \
  "paired" "compactor MiB" "baseline MiB" "writes alone ms"
for i in "${!NAMES[@]}"; do
  printf '%-16s %12.1f %12.1f %7.2f %7.2f %12s %12s %14.1f\n' "${NAMES[$i]}" "${PROG_MS[$i]}" \
    "${BASE_MS[$i]}" "$(awk -v a="${PROG_MS[$i]}" -v b="${BASE_MS[$i]}" 'BEGIN {print a / b}')" \
    "${PAIRED[$i]}" "${PROG_MIB[$i]}" "${BASE_MIB[$i]}" "${WRITE_MS[$i]}"
done
echo "(ratio: of the medians; paired: median of the ratios of each round, less sensitive to load)"
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
