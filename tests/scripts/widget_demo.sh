#!/usr/bin/env bash
# Starts the widget demo on a private X server, leaves a screenshot of it in
# the build folder (widget-demo.png) and checks that the widgets are drawn:
# the loop display's dark green ring, its trace, and the lit LED.
set -uo pipefail
build=${1:?usage: widget_demo.sh <build dir>}
demo="$build/tools/korvel-widget-demo"
shot="$build/widget-demo.png"
[ -x "$demo" ] || { echo "missing $demo"; exit 1; }

work=$(mktemp -d /tmp/korvel-demo.XXXXXX)
xvfb_pid=""
demo_pid=""
cleanup() {
  [ -n "$demo_pid" ] && kill "$demo_pid" 2>/dev/null && wait "$demo_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 800x400x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

"$demo" >"$work/demo.log" 2>&1 &
demo_pid=$!

pixel() { convert "$shot" -crop "1x1+$1+$2" -depth 8 -format '%[fx:int(255*r)],%[fx:int(255*g)],%[fx:int(255*b)]' info:; }

# The loop window sits at (260, 20), 300x300; the LED's core at (122, 63).
ok=0
for _ in $(seq 1 100); do
  if import -window root "$shot" 2>/dev/null \
    && [ "$(pixel 410 30)" = "20,60,20" ] && [ "$(pixel 122 63)" = "255,0,0" ]; then
    ok=1
    break
  fi
  kill -0 "$demo_pid" 2>/dev/null || break
  sleep 0.1
done
if [ $ok -ne 1 ]; then
  echo "widgets not drawn (ring pixel $(pixel 410 30), LED pixel $(pixel 122 63))"
  cat "$work/demo.log"
  exit 1
fi

# Not blank: many colours, and the green trace is on the ring.
colours=$(convert "$shot" -format %k info:)
trace=$(convert "$shot" -fill black +opaque "rgb(100,155,100)" -fill white -opaque "rgb(100,155,100)" \
  -format '%[fx:int(mean*w*h)]' info:)
echo "screenshot $shot: $colours colours, $trace trace pixels"
[ "$colours" -gt 50 ] || { echo "too few colours"; exit 1; }
[ "$trace" -gt 300 ] || { echo "no trace on the ring"; exit 1; }
