#!/usr/bin/env bash
# The page of `compactor view` in a real browser: installs what is missing (Debian's chromium, the
# npm packages of tests/browser), builds the program, makes the pages of the default scenario and
# of the 1,000,000 m scenario, lints the page's script and runs the browser tests.
#   scripts/test-browser.sh [BUILD_DIR]                      (default build)
#   scripts/test-browser.sh --screenshots DIR [BUILD_DIR]    pictures of the page into DIR instead
set -euo pipefail
cd "$(dirname "$0")/.."
shots=""
if [ "${1:-}" = "--screenshots" ]; then
  shots=$(cd "$2" && pwd)
  shift 2
fi
BUILD=${1:-build}
JOBS=${JOBS:-2}

need=()
[ -x /usr/bin/chromium ] || need+=(chromium)
dpkg -s fonts-dejavu-core >/dev/null 2>&1 || need+=(fonts-dejavu-core)
command -v npm >/dev/null || need+=(nodejs npm)
if [ "${#need[@]}" -gt 0 ]; then
  echo "installing: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
# npm ci again whenever the lock file differs from the one of the last install.
stamp=tests/browser/node_modules/.installed-lock.json
if ! cmp -s tests/browser/package-lock.json "$stamp"; then
  (cd tests/browser && npm ci --no-audit --no-fund)
  cp tests/browser/package-lock.json "$stamp"
fi

[ -f "$BUILD/CMakeCache.txt" ] || cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release
cmake --build "$BUILD" -j"$JOBS" --target compactor gen_scenario

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/default" "$work/large"
"$BUILD/compactor" sources "$work/default"
"$BUILD/compactor" compile "$work/default"
"$BUILD/compactor" view "$work/default"
if [ -n "$shots" ]; then
  (cd tests/browser && node screenshots.js "$work/default/QUELDRANO 2_555.html" "$shots")
  echo "pictures of the page in $shots"
  exit 0
fi
"$BUILD/bench/gen_scenario" "$work/large" --length 1000000
"$BUILD/compactor" compile "$work/large"
"$BUILD/compactor" view "$work/large"

echo "lint: web/view.js and the tests"
tests/browser/node_modules/.bin/eslint --config tests/browser/eslint.config.js web tests/browser

export COMPACTOR="$PWD/$BUILD/compactor" VIEW_DEFAULT_DIR="$work/default" VIEW_LARGE_DIR="$work/large"
cd tests/browser
node --test --test-concurrency=1 view.test.js
