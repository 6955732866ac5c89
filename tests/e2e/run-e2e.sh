#!/bin/sh
# Runs the end-to-end tests under a virtual X display with their own Wine prefix.
# Usage: run-e2e.sh <e2e_tests.exe> <dozerin.exe> <screenshot folder> [test options...]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
: "${DOZERIN_WINEPREFIX:=${TMPDIR:-/tmp}/dozerin-wine-$(id -u)}"
export DOZERIN_WINEPREFIX="$DOZERIN_WINEPREFIX-e2e"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
mkdir -p "$3"
rm -f "$3"/*.bmp "$3"/*.png
exe=$1 dozerin=$2 shots=$3
shift 3
rc=0
"$here/with-fake-power.sh" xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
  runner=$1 exe=$2 dozerin=$3 shots=$4
  shift 4
  "$runner" "$exe" --dozerin="$dozerin" --shots="$shots" "$@"
  rc=$?
  WINEPREFIX="$DOZERIN_WINEPREFIX" wineserver -k 2>/dev/null || true
  exit $rc' sh "$here/../../cmake/wine-run.sh" "$exe" "$(winpath "$dozerin")" "$(winpath "$shots")" "$@" \
  || rc=$?
# The screenshots as PNG, for looking at.
for f in "$shots"/*.bmp; do
  [ -f "$f" ] && convert "$f" -alpha off "${f%.bmp}.png" && rm -f "$f"
done
exit $rc
