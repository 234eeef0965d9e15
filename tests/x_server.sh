#!/bin/sh
# x_server.sh start|stop FOLDER: an Xvfb of a test's own, on a display number
# it picks itself, so that tests side by side never meet. start prints the
# display (":N") only once a client got through to it; the server's own
# output is kept in FOLDER/xvfb.log and shown when it cannot be reached.
# It does not reset when its last client leaves: a program starting just then
# would find no display.
# x_server.sh start FOLDER WIDTHxHEIGHTxDEPTH: the screen (1280x800x24).
set -e
case "$1" in
start)
  rm -f "$2/xvfb.display"
  Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 "${3:-1280x800x24}" \
    3>"$2/xvfb.display" >"$2/xvfb.log" 2>&1 &
  echo $! >"$2/xvfb.pid"
  tries=0
  until display=":$(cat "$2/xvfb.display")" && [ "$display" != ":" ] &&
    DISPLAY="$display" xdotool getdisplaygeometry >/dev/null 2>&1; do
    tries=$((tries + 1))
    if [ $tries -gt 200 ] || ! kill -0 "$(cat "$2/xvfb.pid")" 2>/dev/null; then
      echo "x_server.sh: no client got through to Xvfb; its output:" >&2
      cat "$2/xvfb.log" >&2
      "$0" stop "$2"
      exit 1
    fi
    sleep 0.05
  done
  echo "$display" ;;
stop)
  [ -f "$2/xvfb.pid" ] || exit 0
  pid=$(cat "$2/xvfb.pid")
  rm "$2/xvfb.pid"
  kill "$pid" 2>/dev/null || exit 0
  # Gone, with its display's lock and socket, before the next test looks.
  tries=0
  while kill -0 "$pid" 2>/dev/null && [ $tries -lt 100 ]; do
    tries=$((tries + 1))
    sleep 0.05
  done ;;
esac
