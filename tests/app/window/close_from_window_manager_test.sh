#!/usr/bin/env bash
# Closing the window through the window manager during Convert, as a user does: the real kavrimo on
# an X server (Xvfb) under a real window manager (openbox), closed with a click on the close button of
# the title bar, with Alt+F4 (the window manager's key binding) or with wmctrl -c (a close request to
# the window manager, as a task bar sends), in either pass. Each close must cancel Convert within its pass: no box, the earlier image as it was, no
# temporary file, and the program ends with status 0.
#
# Usage: close_from_window_manager_test.sh KAVRIMO CLOSE_DRIVER
# Exits 77 (skipped) when Xvfb, openbox, xdotool, wmctrl, xwininfo or xprop is missing.
set -uo pipefail
program=$1 driver=$2
for tool in Xvfb openbox xdotool wmctrl xwininfo xprop; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is not installed (scripts/install-deps.sh installs it)"
    exit 77
  fi
done

# A sanitised build: the driver is loaded ahead of the sanitiser's runtime, and leaks are the offscreen
# window tests' concern, not this one's (the X libraries keep their caches to the end).
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0:detect_leaks=0

work=$(mktemp -d)
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
server_pid='' manager_pid=''
cleanup() {
  [[ -n $manager_pid ]] && kill "$manager_pid" 2>/dev/null
  [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

# A display of our own: Xvfb picks a free number and writes it to the descriptor given.
exec {display_fd}<> <(:)
Xvfb -displayfd "$display_fd" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
server_pid=$!
read -r -t 10 -u "$display_fd" number || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=:$number
openbox --sm-disable >"$work/openbox.log" 2>&1 &
manager_pid=$!
for ((i = 0; i < 250; i++)); do
  wmctrl -m >/dev/null 2>&1 && break
  sleep 0.02
done
wmctrl -m >/dev/null 2>&1 || fail "openbox did not start: $(cat "$work/openbox.log")"

# The program as a portable copy, so that its settings file is written in the work folder. A grid of
# 200 x 200 cells: 100 progress steps a pass.
mkdir -p "$work/program" "$work/data"
cp "$program" "$(dirname "$program")/header.bin" "$work/program/"
printf 'ncols 200\nnrows 200\nxllcorner 0\nyllcorner 0\ncellsize 0.1\nNODATA_value -9999\n' >"$work/data/big.hdr"
head -c $((200 * 200 * 4)) /dev/zero | tr '\0' '\100' >"$work/data/big.flt"

title='ArcGIS raster to Miradel image converter'
# A click on the close button, at the right end of the title bar the window manager draws.
cat >"$work/click-close.sh" <<'CLICK'
window=$(xdotool search --name "$1" | head -1)
read -r x y width < <(xwininfo -id "$window" | awk '/Absolute upper-left X/ {x = $NF}
  /Absolute upper-left Y/ {y = $NF} /Width:/ {w = $NF} END {print x, y, w}')
read -r _ right top _ < <(xprop -id "$window" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
xdotool mousemove $((x + width + right - 8)) $((y - top / 2)) click 1
CLICK
failures=0
# Each case: the pass in which the user acts, how, the command, and what must follow: "closed" (the
# close cancels Convert in that pass) or "typed" (keys typed during pass 1 wait for the start of pass 2,
# and Convert completes).
while IFS='|' read -r pass how command expected; do
  printf 'earlier image' >"$work/data/out.IMG"
  timeout 60 env QT_QPA_PLATFORM=xcb LD_PRELOAD="$driver" KAVRIMO_DRIVE_INPUT="$work/data/big.flt" \
    KAVRIMO_DRIVE_OUTPUT="$work/data/out.IMG" KAVRIMO_ACT_PASS="$pass" KAVRIMO_ACT_COMMAND="$command" \
    "$work/program/kavrimo" >"$work/out" 2>"$work/err"
  status=$?
  said() { grep -m1 "^$1: " "$work/out" | sed "s/^$1: //"; }
  problems=()
  ((status == 0)) || problems+=("ended with status $status")
  image=$(head -c 100 "$work/data/out.IMG" | tr '\0' .)
  if [[ $expected == closed ]]; then
    [[ -z $(said message) ]] || problems+=("a box was shown")
    [[ -z $(said 'open after Convert') ]] || problems+=("the window stayed open")
    [[ $(said close) == "Step $pass of 2 at "* ]] || problems+=("the close did not reach the window in its pass")
    # The pass stopped at its next step: the bar stands where the close reached the window.
    [[ $(said close) == $(said end) ]] || problems+=("Convert went on after the close")
    [[ $image == 'earlier image' ]] || problems+=("the earlier image was changed")
  else
    [[ $(said message) == 'Image created succesfully' ]] || problems+=("no success box")
    [[ $(said typed) == 'Edit1 Step 2 of 2 at 0' ]] || problems+=("the keys did not wait for pass 2")
    [[ $image != 'earlier image' ]] || problems+=("no new image")
  fi
  files=$(find "$work/data" -mindepth 1 -printf '%f\n' | sort | tr '\n' ' ')
  [[ $files == 'big.flt big.hdr out.IMG ' ]] || problems+=("files left beside the image: $files")
  if ((${#problems[@]})); then
    echo "FAIL pass $pass, $how: ${problems[*]}"
    sed 's/^/  | /' "$work/out" "$work/err"
    failures=$((failures + 1))
  else
    echo "ok   pass $pass, $how: $(grep -m1 -E '^(close|typed):' "$work/out")"
  fi
done <<EOF
1|close button|bash $work/click-close.sh '$title'|closed
2|close button|bash $work/click-close.sh '$title'|closed
1|Alt+F4|xdotool key alt+F4|closed
2|Alt+F4|xdotool key alt+F4|closed
1|wmctrl -c|wmctrl -c '$title'|closed
2|wmctrl -c|wmctrl -c '$title'|closed
1|keys typed|xdotool type zz|typed
EOF
((failures == 0)) || exit 1
