#!/bin/sh
# Runs a Windows program under Wine with a Japanese locale, so that the ANSI code page is 932
# (or with the locale in $DOZERIN_LANG, such as en_US.UTF-8 for an English Windows).
# The Wine prefix is $DOZERIN_WINEPREFIX, made on first use (under a lock) and reused. A build
# folder's tests set it to a folder inside it, and the soak to one in its work folder; without it
# a prefix of the user's own is used, for runs by hand.
set -eu
: "${DOZERIN_WINEPREFIX:=${TMPDIR:-/tmp}/dozerin-wine-$(id -u)}"
export WINEPREFIX="$DOZERIN_WINEPREFIX"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG="${DOZERIN_LANG:-ja_JP.UTF-8}"
export LC_ALL="$LANG"
wine=$(command -v wine64 || command -v wine)
mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [ ! -f "$WINEPREFIX/.dozerin-ready-2" ]; then
    rm -rf "$WINEPREFIX"
    "$wine" wineboot -i >/dev/null 2>&1 || true
    # As on a Japanese Windows: dialog fonts resolve to MS UI Gothic, which IPA P Gothic
    # (fonts-ipafont-gothic) stands in for. Wine draws the window captions itself, so that
    # screenshots taken without a window manager show them.
    "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
      /v 'MS Shell Dlg' /d 'MS UI Gothic' /f >/dev/null 2>&1 || true
    "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS UI Gothic' /d 'IPAPGothic' \
      /f >/dev/null 2>&1 || true
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1 || true
    wineserver -w 2>/dev/null || true
    touch "$WINEPREFIX/.dozerin-ready-2"
  fi
) 9>"$WINEPREFIX.lock"
exec "$wine" "$@"
