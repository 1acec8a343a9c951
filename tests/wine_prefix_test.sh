#!/usr/bin/env bash
# A Wine prefix as a Linux user makes one, given the dialog font with the one step the README
# names (tools/wine-fonts), keeps Windows' dialog base units through 'wineboot -u', which Wine
# runs by itself after every upgrade. Then tools/wine-run sets the same prefix up and must not
# leave its lock held by the wineserver that its set-up started.
#   wine_prefix_test.sh WINDOW_TESTS_EXE
set -uo pipefail
tools=$(cd "$(dirname "$0")/../tools" && pwd)
probe=$1
export WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
[ -x "$wine" ] || wine=$(command -v wine)

work=$(mktemp -d)
export WINEPREFIX=$work/own
xvfb_pid=
finish() {
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap finish EXIT
if [ -z "${DISPLAY:-}" ]; then
  source "$tools/xvfb-lib.sh"
  start_xvfb
fi

failures=0
expect() {
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
  else
    echo "FAILED: $what"
    failures=$((failures + 1))
  fi
}
base_units_are_windows() {
  "$wine" "$probe" --gtest_filter=WindowLayoutTest.TemplateFontHasTheDialogBaseUnitsOfWindows </dev/null | tr -d '\r'
}

"$wine" wineboot -i >/dev/null 2>&1 </dev/null
expect "tools/wine-fonts sets up a user's own prefix" "$tools/wine-fonts" "$WINEPREFIX"
"$wine" wineboot -u >/dev/null 2>&1 </dev/null
wineserver -w
expect "the dialog font has Windows' base units after 'wineboot -u'" base_units_are_windows

# No server running: the set-up's first Wine command starts one, which outlives the set-up.
wineserver -w
"$tools/wine-run" --prefix "$WINEPREFIX" cmd /c exit >/dev/null 2>&1 </dev/null
expect "the prefix lock is free as soon as wine-run's set-up is done" flock -n "$WINEPREFIX.lock" true
expect "wine-run marks the prefix as set up" test -f "$WINEPREFIX/.orvane-ready-3"
keyboard_cues_hidden() {
  "$wine" reg query 'HKCU\Control Panel\Desktop' /v UserPreferencesMask </dev/null 2>/dev/null | tr -d '\r' |
    grep -q '1000028012000000'
}
expect "wine-run hides the keyboard cues, as Windows does" keyboard_cues_hidden

[ "$failures" -eq 0 ]
