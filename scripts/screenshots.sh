#!/usr/bin/env bash
# Pictures of the IDE for the README: starts the IDE under a virtual X
# display (Xvfb), drives it through a short session with xdotool (open an
# example, compile, run, a canvas, a compile error, the debugger held at a
# breakpoint with the held line in the editor, the settings dialog, the
# timing chart, the bar chart run right after the clock, the help with its
# code blocks), after a first start of its own (the examples listed, the
# greeting tab ready), then three starts under a window manager (the window
# back where it was), and writes PNG files into docs/images/.
set -euo pipefail
cd "$(dirname "$0")/.."

# The display tools are needed by this script only.
missing=()
command -v Xvfb >/dev/null || missing+=(xvfb)
command -v xdotool >/dev/null || missing+=(xdotool)
command -v import >/dev/null || missing+=(imagemagick)
command -v openbox >/dev/null || missing+=(openbox)  # a window manager for the starts with frames
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
bash scripts/setup.sh
bash scripts/build.sh >/dev/null

out=docs/images
mkdir -p "$out"
work=$(mktemp -d)
mkdir -p "$work/PROG"
cp examples/hello.mcl examples/canvas.mcl examples/clock.mcl examples/bar_chart.mcl "$work/PROG/"
mkdir -p "$work/DATA"
cp examples/data/* "$work/DATA/"
cat > "$work/PROG/timers.mcl" <<'MCL'
// Two timers and a waiting loop, for the timing chart.
FUNCTION FAST;
  N += 1;
  INTRET;
ENDFUNC
FUNCTION SLOW;
  M += 1;
  INTRET;
ENDFUNC
N = 0; M = 0;
TIMER "FAST", SET, 1, "FAST";
TIMER "SLOW", SET, 3, "SLOW";
TIMER "FAST", START;
TIMER "SLOW", START;
WHILE N < 12 DO
  WAIT 1;
  FOR I = 1 TO 300 DO K = I * 2; END
END
TIMER "FAST", CANCEL;
TIMER "SLOW", CANCEL;
??"done"; ??CRLF;
MCL

# A free display number.
n=120
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
export DISPLAY=":$n"
Xvfb "$DISPLAY" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
ide=""
cleanup() {
  [ -n "$ide" ] && kill "$ide" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

export XDG_RUNTIME_DIR="$work"
shot() { sleep "${2:-1}"; import -window root "$out/$1.png"; echo "screenshots: $out/$1.png"; }

# 0. A first start: a home with the examples in PROG and no recent files,
# no program named. The list shows the examples, a greeting tab is ready.
first=$(mktemp -d)
mkdir -p "$first/PROG"
cp examples/*.mcl "$first/PROG/"
build/gui/velmora --home "$first" >/dev/null 2>&1 &
ide=$!
window=$(xdotool search --sync --name ' - Velmora' | head -1)
xdotool windowmove "$window" 0 0 windowsize "$window" 1600 1000
shot first-start 2
kill "$ide"
wait "$ide" 2>/dev/null || true
rm -rf "$first"

build/gui/velmora --home "$work" "$work/PROG/hello.mcl" >/dev/null 2>&1 &
ide=$!
window=$(xdotool search --sync --name ' - Velmora' | head -1)
xdotool windowmove "$window" 0 0 windowsize "$window" 1600 1000
sleep 2

key() { xdotool key --delay 60 "$@"; }
click() { xdotool mousemove "$1" "$2" click 1; sleep 0.3; }
type_line() { xdotool type --delay 15 "$1"; key Return; }

# 1. The example opened and compiled: the slot it went to is set apart.
click 700 500
shot ide-compiled
# 2. "●" runs it: the console shows what it printed.
key F5
shot ide-run
# 3. A compile error: the message, then the line marked where the code is.
key ctrl+n
sleep 0.5
type_line 'A = 1;'
type_line 'B = A * 2;'
type_line 'C = A +;'
type_line '??C;'
key F9
sleep 1
key Return    # the error message
sleep 0.5
key Return    # the open-block report
sleep 0.5
key Escape    # the error location window
click 1200 990   # the status bar: the focus back in the window
shot compile-error
# 4. The open dialog (Qt's own, in Japanese), then the canvas example, run alone.
key ctrl+o
sleep 1
xdotool type --delay 15 "$work/PROG/canvas.mcl"
shot open-dialog 0.5
key Return
sleep 1
click 700 700   # without a window manager the focus stays where the dialog was
key ctrl+F5
shot canvas 1.5
# 5. The debugger held at a breakpoint set by a click in the gutter (the
# canvas window goes out of the way first: there is no window manager).
for w in $(xdotool search --name 'キャンバス' 2>/dev/null); do xdotool windowunmap "$w" || true; done
click 236 63    # the tab of hello.mcl
click 212 160   # the gutter beside line 5
key F5
shot debugger 2
key shift+F5
sleep 0.5
# 6. The settings dialog.
key alt+t
sleep 0.5
key s
shot settings 1.5
key Escape
# 7. The timing chart: "実行時にｲﾍﾞﾝﾄﾁｬｰﾄを描画する" ticked (the fourth
# control of the first page), a program with two timers run alone, and the
# monitor page "ﾀｽｸﾓﾆﾀ" of the debugger ("■" above hid the debugger).
click 1200 990   # the status bar: the focus back in the window
key ctrl+o
sleep 1
xdotool type --delay 15 "$work/PROG/timers.mcl"
key Return
sleep 1
click 700 500
key alt+t
sleep 0.5
key s
sleep 1.5
key Tab Tab Tab Tab space Return
sleep 1
click 700 500
key alt+r
sleep 0.5
key d
sleep 1
click 115 832   # the tab "ﾀｽｸﾓﾆﾀ"
key ctrl+F5
shot timing-chart 4
key shift+F5
sleep 0.5
# 8. The bar chart right after the clock, in the same window: each run
# starts from blank 400 x 400 canvases, so the chart is whole. (The canvas
# windows went out of the way above; they are mapped again.)
for w in $(xdotool search --name 'キャンバス' 2>/dev/null); do xdotool windowmap "$w" || true; done
click 1200 990
key ctrl+o
sleep 1
xdotool type --delay 15 "$work/PROG/clock.mcl"
key Return
sleep 1
click 700 500
key ctrl+F5
sleep 4.5
click 1200 990
key ctrl+o
sleep 1
xdotool type --delay 15 "$work/PROG/bar_chart.mcl"
key Return
sleep 1
click 700 500
key ctrl+F5
sleep 1
key Return    # the variable report (V and &V)
for w in $(xdotool search --name 'キャンバス' 2>/dev/null); do xdotool windowmap "$w" || true; done
shot bar-chart-after-clock 2
for w in $(xdotool search --name 'キャンバス' 2>/dev/null); do xdotool windowunmap "$w" || true; done
# 9. F1: the language reference, its indented code blocks line by line.
click 700 500
key F1
sleep 1.5
help=$(xdotool search --name '言語の手引き' | head -1)
xdotool windowmove "$help" 200 40 windowsize "$help" 900 940
shot help 1
key Escape
kill "$ide"
wait "$ide" 2>/dev/null || true
ide=""

# 10. Three starts under a window manager (frames drawn round the window):
# the window comes back where the first start left it, its status bar on
# the screen.
openbox >/dev/null 2>&1 &
wm=$!
trap 'kill "$wm" 2>/dev/null || true; cleanup' EXIT
sleep 1
starts=$(mktemp -d)
for start in 1 2 3; do
  build/gui/velmora --home "$starts" >/dev/null 2>&1 &
  ide=$!
  window=$(xdotool search --sync --name ' - Velmora' | head -1)
  sleep 1.5
  if [ "$start" = 1 ]; then xdotool windowmove "$window" 60 50 windowsize "$window" 1400 850; sleep 1; fi
  if [ "$start" = 3 ]; then shot third-start 1; fi
  xdotool windowactivate --sync "$window"
  xdotool key ctrl+q
  wait "$ide" 2>/dev/null || true
  ide=""
done
rm -rf "$starts"
