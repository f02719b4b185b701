# shellcheck shell=bash
# Shared by test-windows.sh and screenshots-windows.sh (sourced, not run): a Wine prefix of the
# scripts' own and the runs they make of the Windows build.

# Starts a persistent wineserver for the prefix PREFIX and a first program, with their output
# elsewhere: otherwise the server and Wine's own processes keep the caller's pipes (ctest's) open.
# The prefix is created on first use.
wine_start() {
  export WINEPREFIX=$1
  export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX"
  wineserver -p >/dev/null 2>&1
  wine cmd /c exit >/dev/null 2>&1 </dev/null
}

wine_stop() { wineserver -k >/dev/null 2>&1 || true; }

windows_path() { winepath -w "$1" 2>/dev/null; }

# Waits until the run in DIR has begun writing its first file, then stops process PID there.
# The wait window is shown and painted before the first file is written, so it is on the screen
# while PID is stopped. Fails when PID ends first or after two minutes.
stop_at_first_file() {
  local dir=$1 pid=$2 deadline=$((SECONDS + 120))
  while ! compgen -G "$dir/QUELDRANO 2*" >/dev/null; do
    if ! kill -0 "$pid" 2>/dev/null || [ "$SECONDS" -ge "$deadline" ]; then
      echo "  the run wrote no file while it was watched" >&2
      return 1
    fi
  done
  kill -STOP "$pid"
}

# Writes the scenario's sources into DIR with the Windows build EXE, then moves the train's first
# code point ("abbattimento") to 50 m, cell 1, whose stamp field is then set before the stamps:
# compiling DIR stops with error 1250.
make_fatal_scenario() {
  local exe=$1 dir=$2
  wine "$exe" sources "$(windows_path "$dir")" </dev/null >/dev/null 2>&1 || {
    echo "  'sources' failed" >&2
    return 1
  }
  local train="$dir/QUELDRANO 2_555-.txt"
  grep -q '^abbattimento,   13150,' "$train" || {
    echo "  no code point at 13150 m in $train" >&2
    return 1
  }
  sed -i '0,/^abbattimento,   13150,/s//abbattimento,      50,/' "$train"
}
