#!/usr/bin/env bash
# Builds the fuzz targets with clang in their own build directory and runs each one in turn.
#
#   fuzz/run.sh [SECONDS [TARGET...]]
#
# SECONDS per target (default: $FUZZ_SECONDS, else 60); TARGETs among line, train, both, dump,
# lsp, syntax, decompile (default: all seven). A target with a dictionary of its own
# (fuzz/TARGET.dict) uses it instead of fuzz/keywords.dict. The corpora grow in
# $FUZZ_BUILD/corpus (default build-fuzz), the log of each run is $FUZZ_BUILD/logs/TARGET.log,
# and every run adds a line to
# $FUZZ_BUILD/logs/history.tsv. A crash, a sanitizer report, a failed check or a timeout leaves
# its input in $FUZZ_BUILD/artifacts and makes the script fail.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-${FUZZ_SECONDS:-60}}
[ "$#" -gt 0 ] && shift
targets=("$@")
[ "${#targets[@]}" -eq 0 ] && targets=(line train both dump lsp syntax decompile)
build=${FUZZ_BUILD:-build-fuzz}
jobs=${JOBS:-2}

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCOMPACTOR_FUZZ=ON -DCOMPACTOR_TESTS=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target make_seeds $(printf 'fuzz_%s ' "${targets[@]}")

for t in line train both dump lsp syntax decompile; do
  mkdir -p "$build/seeds/$t" "$build/corpus/$t"
done
mkdir -p "$build/logs" "$build/artifacts"
"$build/fuzz/make_seeds" "$build/seeds"

failed=()
for t in "${targets[@]}"; do
  inputs=("$build/corpus/$t" "$build/seeds/$t")
  [ -d "fuzz/seeds/$t" ] && inputs+=("fuzz/seeds/$t")
  log="$build/logs/$t.log"
  dict=fuzz/keywords.dict
  [ -f "fuzz/$t.dict" ] && dict="fuzz/$t.dict"
  echo "fuzz_$t: ${seconds} s"
  status=0
  nice -n 19 "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -max_len=65536 -timeout=60 \
    -dict="$dict" -artifact_prefix="$build/artifacts/fuzz_$t-" -print_final_stats=1 \
    "${inputs[@]}" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+[[:space:]]+(DONE|pulse|NEW|REDUCE|INITED)' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\) ft: \([0-9]*\) corp: \([^ ]*\).*/cov \1, ft \2, corpus \3/p' \
    <<<"$last")
  echo "  ${runs:-?} runs; ${cov:-no coverage line}; exit status $status"
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$(date -u +%FT%TZ)" "$t" "$seconds" "${runs:-?}" \
    "${cov:-?}" "$status" >>"$build/logs/history.tsv"
  if [ "$status" -ne 0 ]; then
    failed+=("$t")
    grep -E 'ERROR|SUMMARY|fuzz check failed|Test unit written' "$log" | head -20 || true
  fi
done

if [ "${#failed[@]}" -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]} (logs in $build/logs, inputs in $build/artifacts)" >&2
  exit 1
fi
