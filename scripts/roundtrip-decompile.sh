#!/usr/bin/env bash
# compile -> decompile -> compile on the default scenario and on COUNT - 1 seeded alterations of
# its sources (the alterations of compare-outputs.sh), with and without --no-plan. A case whose
# sources compile with an error is passed over; every other must give back the same three files
# and decompile with exit status 0.
#   scripts/roundtrip-decompile.sh BIN [COUNT] [SEED]
set -u
bin=$(readlink -f -- "${1:?usage: roundtrip-decompile.sh BIN [COUNT] [SEED]}")
count=${2:-300}
seed=${3:-1}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/roundtrip.XXXXXX") || exit 2
trap 'rm -rf -- "$work"' EXIT
sed -n "/^cat >\"\$work\/alter.py\" <<'PYEOF'/,/^PYEOF/p" "$here/compare-outputs.sh" |
  sed '1d;$d' >"$work/alter.py"
mkdir -p "$work/base" "$work/cases"
"$bin" sources "$work/base" -q || exit 2
python3 "$work/alter.py" "$seed" "$count" "$work/base" "$work/cases" || exit 2
passed=0 failed=0 skipped=0
for case_dir in "$work"/cases/*/; do
  for plan in "" --no-plan; do
    d="$work/run"
    rm -rf "$d" && mkdir -p "$d/a" "$d/b"
    cp "$case_dir"*-.txt "$case_dir"*_linea.txt "$d/a/" 2>/dev/null
    if ! "$bin" compile "$d/a" -q $plan >/dev/null 2>&1; then
      skipped=$((skipped + 1))
      continue
    fi
    cp "$d"/a/*.sim "$d"/a/*.dat "$d/b/"
    ok=1
    "$bin" decompile "$d/b" -q >"$d/decompile.log" 2>&1 || ok=0
    rm -f "$d"/b/*.sim "$d"/b/*.dat
    "$bin" compile "$d/b" -q $plan >/dev/null 2>&1 || ok=0
    for f in "$d"/a/*.sim "$d"/a/*.dat; do
      cmp -s "$f" "$d/b/$(basename "$f")" || ok=0
    done
    if [ "$ok" = 1 ]; then
      passed=$((passed + 1))
    else
      failed=$((failed + 1))
      echo "differs: $(basename "$case_dir") ${plan:-with plan}: $(head -c 300 "$d/decompile.log")"
    fi
  done
done
echo "$passed passed, $failed failed, $skipped compiled with an error"
[ "$failed" = 0 ]
