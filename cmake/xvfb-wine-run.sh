#!/bin/sh
# Runs a Windows test program that makes windows: under Wine on a virtual X display, in the
# prefix of the end-to-end tests. Usage: xvfb-wine-run.sh <program.exe> [options...]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
: "${DOZERIN_WINEPREFIX:=${TMPDIR:-/tmp}/dozerin-wine-$(id -u)}"
export DOZERIN_WINEPREFIX="$DOZERIN_WINEPREFIX-e2e"
exec xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
  "$@"
  rc=$?
  WINEPREFIX="$DOZERIN_WINEPREFIX" wineserver -k 2>/dev/null || true
  exit $rc' sh "$here/wine-run.sh" "$@"
