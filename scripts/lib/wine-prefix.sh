#!/usr/bin/env bash
# Creates the Wine prefix named by WINEPREFIX once, then keeps its wineserver
# running ("start") or stops it ("stop"). Wine's output goes to a file: its
# background processes would otherwise hold a caller's pipe open.
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX must name the prefix folder}"
loader=${WINE_LOADER:-/usr/lib/wine/wine64}
server="$(dirname "$loader")/wineserver"
case "${1:-start}" in
start)
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    "$loader" wineboot -i >"$WINEPREFIX/wineboot.log" 2>&1 </dev/null
    "$server" -w
  fi
  # Start the prefix's background services here, with output to the log, so
  # no later program starts them holding its caller's pipes open.
  "$server" -p >>"$WINEPREFIX/wineserver.log" 2>&1 </dev/null || true # already running
  "$loader" wineboot >>"$WINEPREFIX/wineserver.log" 2>&1 </dev/null
  ;;
stop) "$server" -k >/dev/null 2>&1 || true ;;
esac
