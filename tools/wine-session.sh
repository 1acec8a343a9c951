# Sourced by the scripts that run many Windows programs in one go. Gives them one display and
# one persistent wineserver for the prefix, so that each program starts in well under a second.
#   begin_wine_session PREFIX    end_wine_session
source "$(dirname "${BASH_SOURCE[0]}")/xvfb-lib.sh"

begin_wine_session() {
  wine_session_prefix=$1
  xvfb_pid=
  if [ -z "${DISPLAY:-}" ]; then start_xvfb; fi
  # Make the prefix, then start the server and Wine's own services with their output going
  # nowhere: started by a test they would inherit its output pipe and hold it open.
  "$(dirname "${BASH_SOURCE[0]}")/wine-run" --prefix "$wine_session_prefix" cmd /c exit >/dev/null 2>&1 </dev/null || true
  WINEPREFIX=$wine_session_prefix wineserver -w >/dev/null 2>&1 </dev/null || true
  WINEPREFIX=$wine_session_prefix wineserver -p >/dev/null 2>&1 </dev/null || true
  "$(dirname "${BASH_SOURCE[0]}")/wine-run" --prefix "$wine_session_prefix" cmd /c exit >/dev/null 2>&1 </dev/null || true
}

end_wine_session() {
  WINEPREFIX=$wine_session_prefix wineserver -k >/dev/null 2>&1 || true
  # The display goes with the session: later programs must not be sent to a dead one.
  if [ -n "${xvfb_pid:-}" ]; then
    kill "$xvfb_pid" 2>/dev/null
    unset DISPLAY
  fi
  xvfb_pid=
}
