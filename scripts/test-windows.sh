#!/usr/bin/env bash
# The Windows build under Wine: the unit tests through ctest, then the program end to end against
# the Linux build (same files byte for byte, the wait window, the console messages, the message
# box of a fatal error). Runs itself under xvfb-run, with a Wine prefix of its own in the test
# build directory.
#
#   scripts/test-windows.sh TEST_BUILD_DIR COMPACTOR_EXE LINUX_COMPACTOR
set -euo pipefail

if [ $# -ne 3 ]; then
  echo "usage: $0 TEST_BUILD_DIR COMPACTOR_EXE LINUX_COMPACTOR" >&2
  exit 2
fi
test_build=$(realpath "$1")
exe=$(realpath "$2")
linux=$(realpath "$3")

if [ -z "${COMPACTOR_UNDER_XVFB:-}" ]; then
  export COMPACTOR_UNDER_XVFB=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

# shellcheck source=scripts/windows-common.sh
source "$(dirname "$0")/windows-common.sh"
work=$(mktemp -d)
cleanup() {
  wine_stop
  rm -rf "$work"
}
trap cleanup EXIT
wine_start "$test_build/wineprefix"

unit_status=0
ctest --test-dir "$test_build" --output-on-failure -j2 </dev/null || unit_status=$?

# ---- end to end -------------------------------------------------------------------------------

passed=0
failed=0
check() {
  local name=$1
  shift
  if "$@"; then
    echo "ok - $name"
    passed=$((passed + 1))
  else
    echo "FAIL - $name"
    failed=$((failed + 1))
  fi
}

# The program's own window (the wait window or the message box), by its title.
program_windows() { xdotool search --onlyvisible --name '^compactor$' 2>/dev/null || true; }

same_files() {
  local windows_dir=$1 linux_dir=$2
  local windows_names linux_names
  windows_names=$(cd "$windows_dir" && ls -1 | grep -vx 'compactor.exe' || true)
  linux_names=$(cd "$linux_dir" && ls -1)
  if [ "$windows_names" != "$linux_names" ]; then
    echo "  files differ:" >&2
    diff <(echo "$linux_names") <(echo "$windows_names") >&2 || true
    return 1
  fi
  [ "$(echo "$linux_names" | wc -l)" -eq 6 ] || { echo "  expected 6 files" >&2; return 1; }
  local name
  while IFS= read -r name; do
    cmp "$linux_dir/$name" "$windows_dir/$name" >&2 || return 1
  done <<<"$linux_names"
}

# A program of the GUI subsystem (no console window of its own), linked statically: it imports
# only DLLs that every Windows has.
executable_kind() {
  local headers
  headers=$(x86_64-w64-mingw32-objdump -p "$exe")
  grep -q 'Subsystem.*(Windows GUI)' <<<"$headers" || { echo "  not a GUI program" >&2; return 1; }
  local dlls
  dlls=$(grep 'DLL Name:' <<<"$headers" | awk '{print toupper($3)}' | sort -u | tr '\n' ' ')
  [ "$dlls" = "GDI32.DLL KERNEL32.DLL MSVCRT.DLL SHELL32.DLL USER32.DLL " ] || {
    echo "  imports: $dlls" >&2
    return 1
  }
}
check "compactor.exe: GUI subsystem, only system DLLs imported" executable_kind

linux_reference="$work/linux"
mkdir "$linux_reference"
"$linux" --quiet --dir "$linux_reference"

# The desktop program: no arguments, the files go where the program is. A directory name with a
# blank and a letter outside ASCII checks the names on their way through UTF-8 and UTF-16.
desktop_run() {
  local dir="$work/desktop città"
  mkdir "$dir"
  cp "$exe" "$dir/compactor.exe"
  wine "$dir/compactor.exe" >"$work/desktop.out" 2>"$work/desktop.err" </dev/null &
  local pid=$!
  stop_at_first_file "$dir" "$pid" || { wait "$pid" || true; return 1; }
  local windows
  windows=$(program_windows)
  local geometry=""
  [ -n "$windows" ] && geometry=$(xdotool getwindowgeometry --shell "$(echo "$windows" | head -1)")
  kill -CONT "$pid"
  local status=0
  wait "$pid" || status=$?
  [ "$status" -eq 0 ] || { echo "  exit status $status" >&2; return 1; }
  [ "$(echo "$windows" | grep -c .)" -eq 1 ] || {
    echo "  expected one wait window while working, saw: '$windows'" >&2
    return 1
  }
  grep -qx 'WIDTH=280' <<<"$geometry" && grep -qx 'HEIGHT=179' <<<"$geometry" || {
    echo "  wait window client area is not 280 x 179: $geometry" >&2
    return 1
  }
  [ ! -s "$work/desktop.out" ] && [ ! -s "$work/desktop.err" ] || {
    echo "  the desktop run printed something" >&2
    return 1
  }
  same_files "$dir" "$linux_reference"
}
check "desktop run: wait window while working, files byte-identical to Linux" desktop_run

# With arguments: the command-line tool. --quiet shows no window; --verbose lists the files on
# stdout exactly as on Linux, but for the directory and the separator. The last of the two wins,
# so each has a run of its own (the second finds the texts the first wrote, identical, and writes
# them again).
command_line_run() {
  local dir="$work/command line" linux_dir="$work/linux verbose"
  mkdir "$dir" "$linux_dir"
  local windows_dir
  windows_dir=$(windows_path "$dir")
  wine "$exe" --quiet --dir "$windows_dir" >"$work/quiet.out" 2>"$work/quiet.err" </dev/null &
  local pid=$!
  stop_at_first_file "$dir" "$pid" || { wait "$pid" || true; return 1; }
  local windows
  windows=$(program_windows)
  kill -CONT "$pid"
  local status=0
  wait "$pid" || status=$?
  [ "$status" -eq 0 ] || { echo "  exit status $status" >&2; return 1; }
  [ -z "$windows" ] || { echo "  --quiet showed a window" >&2; return 1; }
  [ ! -s "$work/quiet.out" ] || { echo "  --quiet printed on stdout" >&2; return 1; }
  wine "$exe" --verbose --dir "$windows_dir" >"$work/cli.out" 2>"$work/cli.err" </dev/null || {
    echo "  --verbose run failed" >&2
    return 1
  }
  "$linux" --verbose --dir "$linux_dir" >"$work/linux.out"
  local got expected
  got=$(tr -d '\r' <"$work/cli.out" | sed "s|$(printf '%s' "$windows_dir" | sed 's/[\\.]/\\&/g')\\\\|DIR/|")
  expected=$(sed "s|$linux_dir/|DIR/|" "$work/linux.out")
  [ "$got" = "$expected" ] || {
    echo "  stdout differs from Linux:" >&2
    diff <(echo "$expected") <(echo "$got") >&2 || true
    return 1
  }
  [ "$(echo "$got" | grep -c '^wrote DIR/')" -eq 8 ] || { echo "  expected 8 'wrote' lines" >&2; return 1; }
  same_files "$dir" "$linux_reference"
}
check "command line: --quiet shows no window, --verbose output as on Linux" command_line_run

# Runs the Windows build and the Linux one in DIR with the same arguments: the same exit status,
# stdout and stderr (but for CR LF).
same_as_linux_in() {
  local dir=$1 status=0 linux_status=0
  shift
  (cd "$dir" && LC_ALL=C.UTF-8 wine "$exe" "$@") >"$work/same.out" 2>"$work/same.err" </dev/null ||
    status=$?
  (cd "$dir" && "$linux" "$@") >"$work/same-linux.out" 2>"$work/same-linux.err" || linux_status=$?
  [ "$status" -eq "$linux_status" ] &&
    diff "$work/same-linux.out" <(tr -d '\r' <"$work/same.out") >&2 &&
    diff "$work/same-linux.err" <(tr -d '\r' <"$work/same.err") >&2 || {
    echo "  $*: exit status $status, on Linux $linux_status" >&2
    return 1
  }
}

# A directory whose name is not ASCII, given on the command line: each command takes it for the
# directory it is (not for a missing one, nor for a file) and a file in it for a file.
non_ascii_directory() {
  local top="$work/non-ascii" dir="Linee/Città"
  mkdir -p "$top/$dir"
  "$linux" sources "$top/$dir" >/dev/null && "$linux" compile "$top/$dir" 2>/dev/null || return 1
  same_as_linux_in "$top" check "$dir" &&
    same_as_linux_in "$top" fmt --check "$dir" &&
    same_as_linux_in "$top" fmt --check "$dir/QUELDRANO 2_linea.txt" &&
    same_as_linux_in "$top" diff "$dir" "$dir" &&
    same_as_linux_in "$top" dump "$dir/QUELDRANO 2_555.sim" &&
    same_as_linux_in "$top" plot "$dir" -o "$dir/linea.svg" &&
    same_as_linux_in "$top" compile "$dir/QUELDRANO 2_linea.txt"
}
check "command line: a directory named Linee/Città is found as a directory" non_ascii_directory

usage_error() {
  local status=0
  wine "$exe" --no-such-option >"$work/usage.out" 2>"$work/usage.err" </dev/null || status=$?
  [ "$status" -eq 2 ] || { echo "  exit status $status, expected 2" >&2; return 1; }
  local linux_status=0
  "$linux" --no-such-option 2>"$work/linux-usage.err" || linux_status=$?
  [ "$linux_status" -eq 2 ] || return 1
  diff "$work/linux-usage.err" <(tr -d '\r' <"$work/usage.err") >&2
}
check "command line: usage error on stderr with exit status 2" usage_error

# Started from a console program (cmd, in a terminal), the GUI program writes to that console.
console_output() {
  local batch="$work/console.cmd"
  printf '%s\r\n' "start /wait \"\" \"$(windows_path "$exe")\" --no-such-option" \
    'echo status %ERRORLEVEL%' 'exit' >"$batch"
  local screen
  screen=$(timeout 120 script -qc "wine cmd /c '$(windows_path "$batch")'" /dev/null </dev/null |
    sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' | tr -d '\r')
  grep -q "compactor: unknown option '--no-such-option'" <<<"$screen" &&
    grep -q '^status 2$' <<<"$screen" || {
    echo "  not on the console:" >&2
    echo "$screen" >&2
    return 1
  }
}
check "command line: messages reach the console of cmd" console_output

# Sources whose first code point is at 50 m: the compile stops with error 1250 in a message box.
fatal_message_box() {
  local dir="$work/fatal" linux_dir="$work/linux fatal"
  mkdir "$dir"
  local windows_dir
  windows_dir=$(windows_path "$dir")
  make_fatal_scenario "$exe" "$dir" || return 1
  cp -r "$dir" "$linux_dir"
  # The same sources stop the Linux build with the same error: the scenario does what it says.
  local linux_status=0
  "$linux" compile "$linux_dir" 2>"$work/linux-fatal.err" || linux_status=$?
  [ "$linux_status" -eq 3 ] && grep -qx ' Errore n. 1250' "$work/linux-fatal.err" || {
    echo "  the Linux build did not stop with error 1250" >&2
    return 1
  }

  wine "$exe" compile "$windows_dir" >"$work/fatal.out" 2>"$work/fatal.err" </dev/null &
  local pid=$!
  local box
  box=$(timeout 60 xdotool search --sync --onlyvisible --name '^compactor$' 2>/dev/null | head -1) || true
  [ -n "$box" ] || { echo "  no message box" >&2; kill "$pid"; wait "$pid" || true; return 1; }
  sleep 1
  kill -0 "$pid" 2>/dev/null || { echo "  the program did not wait for OK" >&2; return 1; }
  local tries=0
  while kill -0 "$pid" 2>/dev/null && [ "$tries" -lt 20 ]; do
    xdotool windowfocus "$box" >/dev/null 2>&1 || true
    xdotool key Return >/dev/null 2>&1 || true
    sleep 0.5
    tries=$((tries + 1))
  done
  if kill -0 "$pid" 2>/dev/null; then
    echo "  Return did not close the message box" >&2
    kill "$pid"
    wait "$pid" || true
    return 1
  fi
  local status=0
  wait "$pid" || status=$?
  [ "$status" -eq 3 ] || { echo "  exit status $status, expected 3" >&2; return 1; }
  grep -q '^ Errore n\. 1250' "$work/fatal.err" || { echo "  no ' Errore n. 1250' on stderr" >&2; return 1; }
  local outputs
  outputs=$(cd "$dir" && ls -1 | grep -E '\.sim$|\.dat$' || true)
  [ -z "$outputs" ] || { echo "  outputs written: $outputs" >&2; return 1; }
  [ -z "$(program_windows)" ] || { echo "  a window is left" >&2; return 1; }
}
check "error 1250: message box, closed with Return, exit status 3, no output" fatal_message_box

# ---- interrupts and runs at once ----------------------------------------------------------------
# The generated 1,000,000 m scenario: its line output (20 MB) takes long enough to write that a
# run can be stopped in the middle of it.
gen_scenario="$(dirname "$linux")/bench/gen_scenario"
outputs=("QUELDRANO 2_linea.dat" "QUELDRANO 2_555.sim" "QUELDRANO 2_555.dat")
large_reference="$work/large reference"
mkdir "$large_reference"
"$gen_scenario" "$large_reference" && "$linux" compile "$large_reference" -q

# DIR holds the large scenario's sources and three older outputs.
large_scenario() {
  local dir=$1 out
  rm -rf "$dir"
  mkdir "$dir"
  cp "$large_reference/QUELDRANO 2_linea.txt" "$large_reference/QUELDRANO 2_555-.txt" "$dir/"
  for out in "${outputs[@]}"; do printf 'previous %s' "$out" >"$dir/$out"; done
}

# "old" or "new" (the Linux build's outputs of the large scenario) when the three outputs in DIR
# are one set, "mixed" otherwise.
output_set() {
  local dir=$1 old=0 new=0 out
  for out in "${outputs[@]}"; do
    cmp -s "$dir/$out" <(printf 'previous %s' "$out") && old=$((old + 1))
    cmp -s "$dir/$out" "$large_reference/$out" && new=$((new + 1))
  done
  if [ "$old" -eq 3 ]; then echo old; elif [ "$new" -eq 3 ]; then echo new; else echo mixed; fi
}

no_temporary_file() {
  local left
  left=$(compgen -G "$1/*.tmp-*") || return 0
  echo "  left: $left" >&2
  return 1
}

# Starts a compile of DIR (the large scenario) and stops it while its line output is written; its
# process id is then in caught_pid (a child of this shell). Tries again when a run ends first.
caught_pid=
start_and_stop_while_writing() {
  local dir=$1 attempts=0 pid deadline
  while [ "$attempts" -lt 10 ]; do
    attempts=$((attempts + 1))
    large_scenario "$dir"
    wine "$exe" compile "$(windows_path "$dir")" -q >/dev/null 2>&1 </dev/null &
    pid=$!
    deadline=$((SECONDS + 120))
    while kill -0 "$pid" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ]; do
      compgen -G "$dir/QUELDRANO 2_linea.dat.tmp-*" >/dev/null || continue
      kill -STOP "$pid"
      if compgen -G "$dir/QUELDRANO 2_linea.dat.tmp-*" >/dev/null; then
        caught_pid=$pid
        return 0
      fi
      kill -CONT "$pid"
      break
    done
    wait "$pid" 2>/dev/null || true
  done
  echo "  no run was caught writing its line output" >&2
  return 1
}

# The Linux process of the run whose command line matches PATTERN (not the start.exe that waits
# for it).
run_process() {
  local p
  for p in $(pgrep -f "$1"); do
    grep -qa 'start\.exe' "/proc/$p/cmdline" 2>/dev/null || { echo "$p"; return 0; }
  done
  return 1
}

# Ctrl-C reaches a program attached to a console: the run is started from cmd in a terminal, as a
# user starts it, and Wine turns SIGINT into the console's Ctrl-C event. Stopped while its line
# output is written, then interrupted: the handler removes the temporary files and the run ends
# with status 130; one set of outputs stands.
ctrl_c_while_writing() {
  local dir="$work/interrupted" batch="$work/interrupted.cmd" attempts=0
  while [ "$attempts" -lt 10 ]; do
    attempts=$((attempts + 1))
    large_scenario "$dir"
    printf '%s\r\n' \
      "start /wait \"\" \"$(windows_path "$exe")\" compile \"$(windows_path "$dir")\" -q" \
      'echo status %ERRORLEVEL%' 'exit' >"$batch"
    timeout 300 script -qc "wine cmd /c '$(windows_path "$batch")'" /dev/null </dev/null \
      >"$work/interrupted.screen" 2>&1 &
    local session=$! pid="" deadline=$((SECONDS + 120)) caught=0
    while [ -z "$pid" ] && kill -0 "$session" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ]; do
      pid=$(run_process 'compactor\.exe compile .*interrupted') || pid=""
    done
    while [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ]; do
      compgen -G "$dir/QUELDRANO 2_linea.dat.tmp-*" >/dev/null || continue
      kill -STOP "$pid"
      if compgen -G "$dir/QUELDRANO 2_linea.dat.tmp-*" >/dev/null; then
        caught=1
        kill -INT "$pid"
      fi
      kill -CONT "$pid"
      break
    done
    wait "$session" || true
    [ "$caught" -eq 1 ] || continue
    local screen
    screen=$(sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' "$work/interrupted.screen" | tr -d '\r')
    grep -q '^status 130$' <<<"$screen" || {
      echo "  expected status 130:" >&2
      echo "$screen" >&2
      return 1
    }
    no_temporary_file "$dir" || return 1
    [ "$(output_set "$dir")" != mixed ] || { echo "  a mixed set of outputs" >&2; return 1; }
    return 0
  done
  echo "  no run was caught writing its line output" >&2
  return 1
}
check "Ctrl-C while writing: status 130, no temporary file, one set of outputs" ctrl_c_while_writing

# A run killed outright leaves its temporary files; the next run in the directory removes them.
killed_run_left_for_next() {
  local dir="$work/killed" pid
  start_and_stop_while_writing "$dir" || return 1
  pid=$caught_pid
  kill -KILL "$pid"
  wait "$pid" 2>/dev/null || true
  compgen -G "$dir/*.tmp-*" >/dev/null || { echo "  the killed run left nothing" >&2; return 1; }
  wine "$exe" compile "$(windows_path "$dir")" -q </dev/null >/dev/null 2>&1 || return 1
  no_temporary_file "$dir" && [ "$(output_set "$dir")" = new ]
}
check "killed run: its temporary files removed by the next run" killed_run_left_for_next

# While a run holds the directory, --no-wait fails at once; the held run then ends normally.
no_wait_while_held() {
  local dir="$work/held" pid status=0 windows_dir
  start_and_stop_while_writing "$dir" || return 1
  pid=$caught_pid
  windows_dir=$(windows_path "$dir")
  wine "$exe" compile "$windows_dir" --no-wait </dev/null >/dev/null 2>"$work/held.err" || status=$?
  kill -CONT "$pid"
  local held_status=0
  wait "$pid" || held_status=$?
  [ "$status" -eq 3 ] || { echo "  --no-wait: exit status $status, expected 3" >&2; return 1; }
  [ "$(tr -d '\r' <"$work/held.err")" = \
    "compactor: another run is working in $windows_dir (--no-wait: not waiting)" ] || {
    echo "  --no-wait said: $(cat "$work/held.err")" >&2
    return 1
  }
  [ "$held_status" -eq 0 ] && [ "$(output_set "$dir")" = new ] && no_temporary_file "$dir"
}
check "directory lock: --no-wait fails at once while another run holds it" no_wait_while_held

# Two build runs in one directory at once: the second waits for the first, both succeed.
two_runs_at_once() {
  local round
  for round in 1 2 3; do
    local dir="$work/two at once $round" windows_dir first second s1=0 s2=0
    mkdir "$dir"
    windows_dir=$(windows_path "$dir")
    wine "$exe" --quiet --dir "$windows_dir" </dev/null >/dev/null 2>"$work/two1.err" &
    first=$!
    wine "$exe" --quiet --dir "$windows_dir" </dev/null >/dev/null 2>"$work/two2.err" &
    second=$!
    wait "$first" || s1=$?
    wait "$second" || s2=$?
    [ "$s1" -eq 0 ] && [ "$s2" -eq 0 ] || { echo "  exit statuses $s1 and $s2" >&2; return 1; }
    [ ! -s "$work/two1.err" ] && [ ! -s "$work/two2.err" ] || { echo "  messages" >&2; return 1; }
    same_files "$dir" "$linux_reference" || return 1
  done
}
check "two runs at once in one directory: both succeed, the files are one run's" two_runs_at_once

echo "e2e: $passed passed, $failed failed"
[ "$unit_status" -eq 0 ] || echo "the unit tests failed (ctest status $unit_status)"
[ "$failed" -eq 0 ] && [ "$unit_status" -eq 0 ]
