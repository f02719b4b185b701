#!/usr/bin/env bash
# Installs the Debian packages a build needs and this machine lacks.
#
#   scripts/install-packages.sh PKG... [--optional PKG...]
#
# Each package is checked with dpkg; when all are installed the script does nothing else. The
# missing ones are installed with apt-get (apt-get update, then apt-get install -y
# --no-install-recommends): as root directly, otherwise through sudo when there is one. When
# neither is possible the script names the packages and fails. Packages after --optional are
# installed the same way when they are missing, but the script does not fail for want of them.
# On a machine without dpkg nothing is checked.
set -euo pipefail

required=()
optional=()
target=required
for arg in "$@"; do
  if [ "$arg" = --optional ]; then
    target=optional
  elif [ "$target" = required ]; then
    required+=("$arg")
  else
    optional+=("$arg")
  fi
done

command -v dpkg >/dev/null 2>&1 || exit 0
# All of them installed: one look, and nothing else to do.
dpkg -s "${required[@]}" "${optional[@]}" >/dev/null 2>&1 && exit 0

# The packages among the arguments that are not installed.
missing() {
  local pkg
  for pkg in "$@"; do
    dpkg -s "$pkg" >/dev/null 2>&1 || echo "$pkg"
  done
}
mapfile -t need < <(missing "${required[@]}")
mapfile -t want < <(missing "${optional[@]}")
all=("${need[@]}" "${want[@]}")
[ "${#all[@]}" -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  as_root=(env DEBIAN_FRONTEND=noninteractive)
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo env DEBIAN_FRONTEND=noninteractive)
else
  if [ "${#need[@]}" -gt 0 ]; then
    echo "install-packages: the build needs these packages: ${need[*]}" >&2
    echo "install-packages: as root: apt-get install ${all[*]}" >&2
    exit 1
  fi
  echo "install-packages: not installed (optional): ${want[*]}" >&2
  exit 0
fi

# apt-get with its output in a log, shown only when it fails.
log=$(mktemp "${TMPDIR:-/tmp}/install-packages.XXXXXX")
trap 'rm -f "$log"' EXIT
apt() {
  if ! "${as_root[@]}" apt-get -q "$@" >"$log" 2>&1; then
    cat "$log" >&2
    return 1
  fi
}

echo "installing: ${all[*]}"
apt update
if [ "${#need[@]}" -gt 0 ]; then
  apt install -y --no-install-recommends "${need[@]}"
fi
if [ "${#want[@]}" -gt 0 ] && ! apt install -y --no-install-recommends "${want[@]}"; then
  echo "install-packages: could not install (optional): ${want[*]}" >&2
fi
