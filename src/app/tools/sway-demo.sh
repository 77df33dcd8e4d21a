#!/usr/bin/env bash
# The headless demo of scripts/run on sway (scripts/run --sway): a private headless sway with
# two outputs and a swaybar, Tilora on it, foot windows tiled with the default hot keys through
# a virtual keyboard (wtype), screenshots with grim; everything runs until interrupted.
#   src/app/tools/sway-demo.sh BUILD-DIR
set -euo pipefail
cd "$(dirname "$0")/../../.."
build=$1
app=$build/Tilora.app/Contents/MacOS/Tilora
source src/app/tools/headless-sway.sh

demo=$PWD/$build/demo
rm -rf "$demo"
mkdir -p "$demo/screenshots" "$demo/logs" "$demo/config"
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  tl_sway_stop
}
trap cleanup EXIT
trap 'exit 0' INT TERM

echo "== headless sway"
tl_sway_start "$demo/logs"
echo "   SWAYSOCK=$SWAYSOCK: outputs HEADLESS-2 1440x900 (left) and HEADLESS-1 1920x1080 (right), swaybar with a tray on HEADLESS-1"

# Tilora keeps its settings (and its start-at-login entry) in the demo folder, not in yours.
export XDG_CONFIG_HOME=$demo/config

shot() {
  sleep 0.3 # sway draws once the clients have taken their new sizes
  grim "$demo/screenshots/$1.png"
  echo "   screenshot: $build/demo/screenshots/$1.png"
}
has_window() { swaymsg -r -t get_tree | jq -e --arg t "$1" '[.. | .name? | select(. == $t)] | length > 0'; }
# The focused window's outer frame as WIDTHxHEIGHT+X+Y (layout coordinates, title bar included).
focused_frame() {
  swaymsg -r -t get_tree | jq -r '.. | select(.focused? == true) |
    "\(.rect.width)x\(.rect.height + .deco_rect.height)+\(.rect.x)+\(.rect.y - .deco_rect.height)"'
}
tray_item() {
  dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
    org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierWatcher \
    string:RegisteredStatusNotifierItems 2>/dev/null | grep -o '":[0-9.]*/StatusNotifierItem' | tr -d '"' | head -n 1
}
# Presses a hot key (wtype, a virtual keyboard) and waits until the focused window has moved.
press_and_wait() {
  local keys=$1 before deadline=$((SECONDS + 5))
  shift
  before=$(focused_frame)
  wtype "$@"
  while [ "$(focused_frame)" = "$before" ]; do
    if [ "$SECONDS" -ge "$deadline" ]; then
      echo "   (the window did not move for $keys)"
      return 0
    fi
    sleep 0.05
  done
  echo "   $keys -> $(focused_frame)"
}

echo "== Tilora"
"$app" >"$demo/logs/tilora.log" 2>&1 &
pids+=($!)
tray_shown() { [ -n "$(tray_item)" ]; }
tl_wait_for 15 tray_shown || {
  echo "Tilora's tray icon did not appear; see $demo/logs/tilora.log" >&2
  exit 1
}
echo "   running, tray icon in swaybar"

echo "== test windows, tiled with the default hot keys"
foot --title "Tilora-Demo 1" --app-id tilora-demo sh -c 'echo Tilora demo window 1; sleep infinity' >/dev/null 2>&1 &
pids+=($!)
tl_wait_for 10 has_window "Tilora-Demo 1"
press_and_wait "Ctrl+Alt+Left: left half of the right output" -M ctrl -M alt -k Left -m alt -m ctrl
shot 1-left-half

foot --title "Tilora-Demo 2" --app-id tilora-demo sh -c 'echo Tilora demo window 2; sleep infinity' >/dev/null 2>&1 &
pids+=($!)
tl_wait_for 10 has_window "Tilora-Demo 2"
press_and_wait "Ctrl+Alt+3: right third" -M ctrl -M alt -k 3 -m alt -m ctrl
press_and_wait "Ctrl+Alt+Shift+Left: to the left output" -M ctrl -M alt -M shift -k Left -m shift -m alt -m ctrl
press_and_wait "Ctrl+Alt+Return: fill that output" -M ctrl -M alt -k Return -m alt -m ctrl
shot 2-tiled-windows

echo "== the tray menu (as swaybar asks for it on a click)"
item=$(tray_item)
dbus-send --session --print-reply --dest="${item%%/*}" "/${item#*/}" org.kde.StatusNotifierItem.Activate int32:0 int32:0 >/dev/null
tl_wait_for 5 has_window Tilora || true # the menu
shot 3-tray-menu
wtype -k Escape

echo "== the settings window (a second start brings up the first one's)"
"$app" >>"$demo/logs/tilora-second.log" 2>&1 || true
tl_wait_for 10 has_window "Tilora – Einstellungen" || true
# sway tiles new windows, and the floating demo window covers that output: float it, as the
# README suggests to sway users (for_window [app_id="Tilora"] floating enable).
swaymsg '[app_id="Tilora"] floating enable' >/dev/null
shot 4-settings-window

cat <<MSG

Tilora is running on the headless sway $SWAYSOCK; screenshots are in $build/demo/screenshots/,
logs in $build/demo/logs/. Try it yourself, for example:
  SWAYSOCK=$SWAYSOCK WAYLAND_DISPLAY=$WAYLAND_DISPLAY XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR wtype -M ctrl -M alt -k Right -m alt -m ctrl
Press Ctrl+C to stop everything.
MSG
wait "${pids[0]}" || true
echo "Tilora has quit."
