#!/usr/bin/env bash
# Runs a test program on a virtual display, in a Wine session of its own, and
# answers each dialog that appears with the next key.
#   answer_dialogs.sh TEST_PROGRAM GTEST_FILTER TITLE_REGEX [KEY...]
# The program runs with PLUGHOST_PRIVATE_DISPLAY=1 and waits inside its
# dialogs; this script finds each new window titled TITLE_REGEX, presses the
# next KEY in it, adds a line to the file PLUGHOST_DIALOGS_ANSWERED names once
# the key is up again, and hands back the program's exit code. Answers 77
# (skipped) where Xvfb or xdotool is missing. Every wait is bounded.
#
# Wine picks a desktop's display driver when the session's first program
# starts. The shared test session starts without a display, so windows made
# later in it fail even with DISPLAY set. The dialogs therefore run in a Wine
# session of their own, on a prefix only this script uses, started with the
# virtual display and stopped again at the end. The session is also the place
# for a test that changes what every program of its session sees, such as the
# state of a key.
set -u
program=$1 filter=$2 title=$3
shift 3
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

for tool in Xvfb xdotool; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "skipped: $tool is not installed (Debian packages xvfb and xdotool); the dialogs need a display"
    exit 77
  fi
done

. "$root/scripts/wine-env"
prefix="$WINEPREFIX-display"
export PLUGHOST_WINEPREFIX="$prefix" WINEPREFIX="$prefix"

work="$(mktemp -d)"
xvfb_pid="" test_pid=""
cleanup() {
  if [ -n "$test_pid" ]; then kill "$test_pid" 2>/dev/null; fi
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

answered_file="$work/answered"
PLUGHOST_DISPLAY="$DISPLAY" PLUGHOST_PRIVATE_DISPLAY=1 PLUGHOST_DIALOGS_ANSWERED="Z:${answered_file//\//\\}" \
  timeout 90 "$root/scripts/wine-run" "$program" --gtest_filter="$filter" >"$work/test.log" 2>&1 </dev/null &
test_pid=$!

# Each key goes to a window that has not had one yet. The wait for it ends
# when it appears, when the program ends (it opened no more dialogs) or after
# a minute.
answered=""
for key in "$@"; do
  window=""
  deadline=$((SECONDS + 60))
  while [ -z "$window" ] && [ "$SECONDS" -lt "$deadline" ] && kill -0 "$test_pid" 2>/dev/null; do
    for id in $(xdotool search --onlyvisible --name "$title" 2>/dev/null); do
      case " $answered " in *" $id "*) ;; *) window=$id; break ;; esac
    done
    if [ -z "$window" ]; then sleep 0.2; fi
  done
  if [ -z "$window" ]; then
    echo "no further window titled $title appeared on $DISPLAY; $key was not pressed"
    break
  fi
  # No window manager runs here: give the dialog the focus ourselves, then
  # press. The key is held until the dialog is gone, so its release always
  # comes after the dialog closed on the press, as a person's does; typed in
  # one go, a loaded machine may deliver both before the dialog reads either.
  # Should the window still be up after a generous while, the press was lost
  # (Wine sometimes misses one right after a focus change): release, try again.
  for attempt in 1 2 3; do
    xdotool windowfocus --sync "$window" keydown "$key" 2>/dev/null
    gone=""
    for tick in $(seq 50); do
      if ! xwininfo -id "$window" >/dev/null 2>&1; then gone=1; break; fi
      sleep 0.1
    done
    xdotool keyup "$key" 2>/dev/null
    [ -z "$gone" ] || break
  done
  echo "$key" >>"$answered_file"
  answered="$answered $window"
done

wait "$test_pid"
rc=$?
test_pid=""
cat "$work/test.log"
exit $rc
