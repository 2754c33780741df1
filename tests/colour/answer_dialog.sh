#!/usr/bin/env bash
# Opens the real colour dialog on a virtual display and answers it with a key.
#   answer_dialog.sh TEST_PROGRAM GTEST_FILTER KEY
# The test program waits inside ChooseColorW; this script finds the dialog
# window, presses KEY in it and hands back the program's exit code. Answers 77
# (skipped) where Xvfb or xdotool is missing. Every wait is bounded.
#
# Wine picks a desktop's display driver when the session's first program
# starts. The shared test session starts without a display, so windows made
# later in it fail even with DISPLAY set. The dialog therefore runs in a Wine
# session of its own, on a prefix only this script uses, started with the
# virtual display and stopped again at the end.
set -u
program=$1 filter=$2 key=$3
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

for tool in Xvfb xdotool; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "skipped: $tool is not installed (Debian packages xvfb and xdotool); the colour dialog needs a display"
    exit 77
  fi
done

. "$root/scripts/wine-env"
prefix="$WINEPREFIX-display"
export PLUGHOST_WINEPREFIX="$prefix" WINEPREFIX="$prefix"

work="$(mktemp -d)"
xvfb_pid="" test_pid="" search_pid=""
cleanup() {
  for pid in $test_pid $search_pid; do kill "$pid" 2>/dev/null; done
  "$WINESERVER" -k 2>/dev/null
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number to the pipe once it
# accepts clients; a failed start closes the pipe without a number.
mkfifo "$work/display"
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
if ! read -r -t 30 number <"$work/display" || [ -z "$number" ]; then
  echo "Xvfb did not start:"; cat "$work/xvfb.log"
  exit 1
fi
export DISPLAY=":$number"

# A session left over from an interrupted run would hold a dead display.
"$WINESERVER" -k 2>/dev/null
if [ ! -f "$prefix/system.reg" ]; then
  echo "creating the Wine prefix $prefix (once)"
  WINEDLLOVERRIDES="mscoree,mshtml=" timeout 300 "$WINELOADER" wineboot -u >/dev/null 2>&1
  "$WINESERVER" -w
fi

PLUGHOST_DISPLAY="$DISPLAY" PLUGHOST_COLOUR_DIALOG=1 \
  timeout 90 "$root/scripts/wine-run" "$program" --gtest_filter="$filter" >"$work/test.log" 2>&1 </dev/null &
test_pid=$!

# Wine titles the dialog "Color", as Windows does. Whichever ends first: the
# search (the dialog is up) or the program (it never opened the dialog).
timeout 60 xdotool search --sync --onlyvisible --name '^Colou?r$' >"$work/window" 2>/dev/null &
search_pid=$!
wait -n "$search_pid" "$test_pid"
window="$(head -n 1 "$work/window")"
if [ -z "$window" ]; then
  echo "the colour dialog did not appear on $DISPLAY"
  kill "$test_pid" 2>/dev/null; wait "$test_pid" 2>/dev/null; test_pid=""
  cat "$work/test.log"
  exit 1
fi
search_pid=""
# No window manager runs here: give the dialog the focus ourselves, then type.
xdotool windowfocus --sync "$window" key "$key"

wait "$test_pid"
rc=$?
test_pid=""
cat "$work/test.log"
exit $rc
