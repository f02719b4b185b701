#!/usr/bin/env bash
# Pictures of the Windows build under Wine and Xvfb: the wait window of the desktop program and
# the message box of a fatal error, as PNG files in OUT_DIR (windows-wait.png,
# windows-error.png). Wine draws the window frames itself (a virtual desktop), with its own
# fonts, among them a bitmap "MS Sans Serif".
#
#   scripts/screenshots-windows.sh COMPACTOR_EXE OUT_DIR
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 COMPACTOR_EXE OUT_DIR" >&2
  exit 2
fi
exe=$(realpath "$1")
out=$(realpath "$2")

need=()
for pkg in wine wine64 xvfb xauth xdotool imagemagick fonts-wine; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ "${#need[@]}" -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "$0: needs these packages: ${need[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

if [ -z "${COMPACTOR_UNDER_XVFB:-}" ]; then
  export COMPACTOR_UNDER_XVFB=1
  exec xvfb-run -a -s "-screen 0 800x600x24" "$0" "$@"
fi

# shellcheck source=scripts/windows-common.sh
source "$(dirname "$0")/windows-common.sh"
work=$(mktemp -d)
cleanup() {
  wine_stop
  rm -rf "$work"
}
trap cleanup EXIT

# A prefix whose programs run in a virtual desktop of 480 x 320 pixels, with Wine's TrueType fonts
# where Windows programs look for fonts (Debian installs them where this Wine does not look).
# Wine draws its bitmap "MS Sans Serif" at 24 points with the glyphs of a smaller size, so the
# prefix substitutes Tahoma for it, as it does for "MS Shell Dlg".
prefix="$work/prefix"
wine_start "$prefix"
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Shots /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Shots /d 480x320 /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
  /v 'MS Sans Serif' /d Tahoma /f >/dev/null 2>&1
cp /usr/share/wine/fonts/*.ttf "$prefix/drive_c/windows/Fonts/"
wine_stop
wine_start "$prefix"

# The desktop's X window, and a picture of it cut down to what is not desktop background, with a
# margin of that background around it.
desktop_window() { xdotool search --name 'Wine desktop' 2>/dev/null | head -1; }
box_window() { xdotool search --name '^compactor$' 2>/dev/null | head -1; }
shoot() {
  local file=$1
  import -window "$(desktop_window)" "$work/full.png"
  convert "$work/full.png" -trim +repage -bordercolor "$(convert "$work/full.png" -format \
    '%[pixel:p{0,0}]' info:)" -border 12 -strip "$file"
  echo "wrote $file"
}

mkdir -p "$out"

# The wait window: the desktop program, stopped once it has begun writing its files.
dir="$work/desktop"
mkdir "$dir"
cp "$exe" "$dir/compactor.exe"
wine "$dir/compactor.exe" </dev/null >/dev/null 2>&1 &
pid=$!
stop_at_first_file "$dir" "$pid"
sleep 1
shoot "$out/windows-wait.png"
kill -CONT "$pid"
wait "$pid"

# The message box: a compile that stops with error 1250. The text goes to stderr just before the
# box opens; the box waits for OK, which Return gives.
dir="$work/fatal"
mkdir "$dir"
make_fatal_scenario "$exe" "$dir"
wine "$exe" compile "$(windows_path "$dir")" </dev/null >/dev/null 2>"$work/fatal.err" &
pid=$!
for _ in $(seq 1 120); do
  grep -qs 'Errore' "$work/fatal.err" && break
  sleep 0.5
done
sleep 2
shoot "$out/windows-error.png"
status=0
for _ in $(seq 1 20); do
  kill -0 "$pid" 2>/dev/null || break
  xdotool windowfocus "$(box_window)" >/dev/null 2>&1 || true
  xdotool key Return >/dev/null 2>&1 || true
  sleep 0.5
done
if kill -0 "$pid" 2>/dev/null; then
  echo "$0: the message box did not close" >&2
  kill "$pid"
fi
wait "$pid" || status=$?
[ "$status" -eq 3 ] || {
  echo "$0: the compile ended with status $status, expected 3" >&2
  exit 1
}
