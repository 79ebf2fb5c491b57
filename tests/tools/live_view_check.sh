#!/bin/sh
# The live view and the update's progress bar in a real terminal (tmux), as a user sees them:
#   live_view_check.sh [--under LOADER] MONITOR WORK_DIR COLUMNSxROWS [START_SIZE]
# With START_SIZE the terminal starts at that size and is resized during the run. The screen
# shows the title and all four players with their roll, pitch and yaw (on the player's line from
# 80 columns) and their six channels with values in g and deg/s, no line wrapped and nothing the
# view does not draw; the cursor is hidden during the run, and the last frame stays on the main
# screen after it; then an update leaves one progress line with its result. --under runs the
# monitor under LOADER (wine64 for zavn-monitor.exe; skipped when not installed), whose console
# draws on the main screen: no alternate screen is checked.
# shellcheck disable=SC2016 # await's commands are evaluated at each try
set -eu
loader=""
if [ "${1:-}" = --under ]; then
  loader=$2
  shift 2
  command -v "$loader" >/dev/null || { echo "SKIPPED: $loader is not installed"; exit 0; }
fi
monitor=$1 work=$2 size=$3 start=${4:-$3}
columns=${size%x*} rows=${size#*x}
mkdir -p "$work"
screen=$work/screen.txt
socket=""
tmux() { command tmux -L "$socket" "$@"; }
stop() { [ -z "$socket" ] || tmux kill-server 2>/dev/null || true; }
trap stop EXIT

fail() { printf 'FAIL (%s): %s\n--- the screen:\n' "$size" "$*"; cat "$screen"; exit 1; }

# What is wrong on any screen. Lines are joined (-J): a wrapped one shows up wider.
screen_problem() {
  tmux capture-pane -p -J >"$screen"
  [ "$(LC_ALL=C.UTF-8 wc -L <"$screen")" -le "$columns" ] || { echo "a line is wider"; return; }
  ! grep -q '\[[0-9;?]*[A-Za-z]' "$screen" || echo "escape sequences shown as text"
}

# The frame's problem, or nothing when it is right: the live frame from the screen's top, or
# (with "last") the frame left after the run, below the monitor's messages.
problem() {
  wrong=$(screen_problem)
  [ -z "$wrong" ] || { echo "$wrong"; return; }
  ! LC_ALL=C.UTF-8 grep -q '[^ -~▁▂▃▄▅▆▇█…]\|?' "$screen" ||
    { echo "characters the view does not draw"; return; }
  if [ "${1:-}" = last ]; then
    sed -n '/^zavn-monitor  /,$p' "$screen" >"$work/frame.txt"
  else
    cp "$screen" "$work/frame.txt"
  fi
  head -n 1 "$work/frame.txt" | grep -q '^zavn-monitor  ' || { echo "no title on top"; return; }
  awk -v wide=$((columns >= 80)) '
    function turned(line) { return line ~ /roll [-+][0-9]+ pitch [-+][0-9]+ yaw [-+][0-9]+( |$)/ }
    /^player [1-4]  Rx LINK_OK  Tx LINK_OK +[0-9]+ records\/s/ {
      p = $2; linked[p] = 1; attitude[p] = turned($0); next
    }
    /^player / || /^exit status/ { p = 0; next }
    /^  (roll .*)?buttons/ { if (p && !wide) attitude[p] += turned($0); next }
    p {
      line = $0
      while (match(line, /(accel +|a|gyro +|g)[xyz] +[-+][0-9]+\.[0-9]+ (g|deg\/s)( |$)/)) {
        name = substr(line, RSTART, RLENGTH)
        line = substr(line, RSTART + RLENGTH)
        kind = substr(name, 1, 1)
        if ((kind == "g") != (name ~ /deg\/s/)) { print "a wrong unit: " name; bad = 1; exit }
        sub(/ +[-+].*/, "", name)
        seen[p, kind substr(name, length(name), 1)] = 1
      }
    }
    END {
      for (p = 1; p <= 4 && !bad; ++p) {
        if (!(p in linked)) { print "player " p " is not shown linked with its rate"; exit }
        if (!attitude[p]) { print "player " p " has no roll, pitch and yaw"; exit }
        for (k = 0; k < 6; ++k) {
          c = substr("ag", int(k / 3) + 1, 1) substr("xyz", k % 3 + 1, 1)
          if (!((p, c) in seen)) { print "player " p " channel " c " is not shown"; exit }
        }
      }
    }' "$work/frame.txt"
}

# Waits (at most $limit s, 30 unless set) until the command `$1` succeeds; else fails with what
# `$2` prints.
await() {
  tries=$((${limit:-30} * 5))
  until eval "$1"; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || fail "$(eval "$2")"
    sleep 0.2
  done
}

# Runs the monitor with the arguments in a new terminal (a tmux server of its own) of the size
# WIDTHxHEIGHT; once it ends, the terminal shows its exit status.
launches=0 loaded=""
launch() {
  at=$1
  shift
  stop
  launches=$((launches + 1)) socket=zavn-live-view-$$-$launches
  tmux new-session -d -x "${at%x*}" -y "${at#*x}" \
    "$loaded'$monitor' $*; echo exit status \$?; sleep 60"
}
ended() {
  await 'tmux capture-pane -p -J >"$screen" && grep -q "^exit status" "$screen"' \
    'echo the monitor did not end'
  grep -q '^exit status 0$' "$screen" || fail "the monitor failed"
}

seconds=4
if [ -n "$loader" ]; then
  # Wine's first start in a new prefix makes the prefix, which can take a minute: not in the run
  # that is timed.
  "$loader" "$monitor" --version >/dev/null
  seconds=10 loaded="'$loader' "
fi
launch "$start" --virtual 4 --seconds $seconds
if [ "$start" != "$size" ]; then
  sleep 1
  tmux resize-window -x "$columns" -y "$rows"
fi
await '[ -z "$(problem)" ]' problem
[ "$(tmux display -p '#{cursor_flag}')" = 0 ] || fail "the cursor shows during the live view"
[ -n "$loader" ] || [ "$(tmux display -p '#{alternate_on}')" = 1 ] ||
  fail "the live view is not on the alternate screen"

# After the run: the main screen back with its cursor, and the last frame on it.
ended
[ "$(tmux display -p '#{alternate_on} #{cursor_flag}')" = "0 1" ] ||
  fail "the terminal is not restored (alternate screen, cursor)"
[ -z "$(problem last)" ] || fail "the last frame: $(problem last)"
echo "the live view fits $size${loader:+ under $loader}"

# The update, the other transmitters streaming on: its phases shown as it goes, and after it the
# bar at 100% on one line between the monitor's messages, nothing else.
limit=90
launch "$size" --virtual 4 --update
await 'tmux capture-pane -p | grep -q "^update \[#*-.*sending the HEX image"' \
  'echo the image being sent is not shown'
ended
[ -z "$(screen_problem)" ] || fail "the update: $(screen_problem)"
grep -v '^$' "$screen" | awk '
  !(NR == 1 && /^zavn-monitor: using / ||
    NR == 2 && /^update \[#+\] 100%  +[0-9]+\.[0-9] s  done$/ ||
    NR == 3 && /^zavn-monitor: update done$/ || NR == 4) { wrong = 1 }
  END { exit wrong || NR != 4 }' || fail "the update: not one progress line with the result"
echo "the update's progress fits $size${loader:+ under $loader}"
