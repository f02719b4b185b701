#!/usr/bin/env bash
# The editors against `compactor lsp`:
# - Neovim (Debian's, headless) with its built-in LSP client: tests/editors/nvim_test.lua opens a
#   broken train source of the default scenario, checks the diagnostic's line and message against
#   `compactor check --json`, asks for a hover, fixes the line and sees the diagnostic go;
# - the VS Code extension in editors/vscode: npm ci, a syntax check, and its tests (the client's
#   start of the server, the grammar run by the TextMate engine on sample lines).
#
#   scripts/test-editors.sh [COMPACTOR]     (default build/compactor)
#
# Needs nvim (Debian: neovim) and node with npm. Prints "N passed, N failed" and exits 1 when a
# check fails.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

compactor=$(realpath "${1:-build/compactor}")
passed=0
failed=0
result() {
  if [ "$2" -eq 0 ]; then
    passed=$((passed + 1))
    echo "ok   $1"
  else
    failed=$((failed + 1))
    echo "FAIL $1"
  fi
}

for tool in nvim node npm; do
  command -v "$tool" >/dev/null || { echo "test-editors: $tool is missing" >&2; exit 2; }
done
[ -x "$compactor" ] || { echo "test-editors: no program at $compactor" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/compactor-editors.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The default scenario, with the README's slow order of 1500 m that ends in a signal's cell.
"$compactor" sources "$work" -q
train="$work/QUELDRANO 2_555-.txt"
slow_order=$'rallentamento,   52000,    60, 1500, 0,  1,  0\r'
awk -v add="$slow_order" '/^rallentamento,  119250/ { print add } { print }' "$train" >"$work/t" &&
  mv "$work/t" "$train"
added=$(grep -n '^rallentamento,   52000' "$train" | cut -d: -f1)

# What check says about it: the first error's line and message.
"$compactor" check "$work" --json >"$work/check.json"
read -r line message < <(node -e '
  const r = require(process.argv[1]);
  const e = r.diagnostics.find((d) => d.severity === "error");
  console.log(e.line, e.message);' "$work/check.json")
echo "check: $(basename "$train"):$line: $message"

COMPACTOR="$compactor" SOURCE="$train" EXPECT_LINE="$line" EXPECT_MESSAGE="$message" \
  EXPECT_HOVER="cell 1071, 53,550 m" \
  FIXED_LINE="$added:rallentamento,   52000,    60, 1000, 0,  1,  0" \
  timeout 120 nvim --headless -u NONE -i NONE -n -c "luafile $ROOT/tests/editors/nvim_test.lua" \
  </dev/null
result "neovim: diagnostics, hover and their clearing through compactor lsp" $?

# The VS Code extension.
(
  cd editors/vscode &&
    npm ci --no-audit --no-fund --loglevel=error &&
    npm run --silent check &&
    npm test
)
result "vscode: npm ci, syntax check and tests of the extension" $?

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
