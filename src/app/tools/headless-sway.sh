# Shell functions for a private headless sway: two outputs, a swaybar with a tray, its own
# D-Bus session bus and XWayland. Sourced by scripts/run (--sway); the sway tests and benchmarks
# run it as a command.
#
#   tl_sway_start DIR [nobar] [CONFIG]
#                         # exports WAYLAND_DISPLAY, SWAYSOCK, XDG_RUNTIME_DIR,
#                         # DBUS_SESSION_BUS_ADDRESS, DISPLAY; logs into DIR; nobar: no swaybar
#                         # (and so no tray); CONFIG: more lines for sway's configuration
#   tl_sway_stop          # ends what tl_sway_start started, by pid
#   headless-sway.sh serve DIR [nobar] [CONFIG]
#                         # prints those five variables as NAME=value on one line once sway is
#                         # ready, and keeps it until its standard input closes or it is terminated
#
# sway refuses to run as root: as root, sway and its bus run as the user tilora-test (made if
# missing); root can still use both sockets.

source "$(dirname "${BASH_SOURCE[0]}")/headless-desktop.sh" # tl_wait_for, tl_desktop_stop

TL_SWAY_DIR=

tl_sway_start() {
  local logs=$1 bar=${2:-} extra=${3:-} user=tilora-test
  mkdir -p "$logs"
  TL_SWAY_DIR=$(mktemp -d /tmp/tilora-sway.XXXXXX)
  chmod 755 "$TL_SWAY_DIR"
  local run=$TL_SWAY_DIR/run
  mkdir -m 700 "$run"
  local as=()
  if [ "$(id -u)" -eq 0 ]; then
    id "$user" >/dev/null 2>&1 || useradd -M -r -s /usr/sbin/nologin "$user"
    chown "$user:" "$run"
    as=(setpriv --reuid="$(id -u "$user")" --regid="$(id -g "$user")" --init-groups --pdeathsig SIGTERM)
  fi
  as+=(env -i HOME="$TL_SWAY_DIR" XDG_RUNTIME_DIR="$run" PATH=/usr/bin:/bin)

  cat >"$TL_SWAY_DIR/dbus.conf" <<'CONF'
<busconfig><include>/usr/share/dbus-1/session.conf</include>
<policy context="default"><allow user="root"/></policy></busconfig>
CONF
  # Two outputs of unequal size, offset tops; the bar with its tray on the larger one.
  cat >"$TL_SWAY_DIR/config" <<CONF
output HEADLESS-1 resolution 1920x1080 position 1440 0
output HEADLESS-2 resolution 1440x900 position 0 180
exec sh -c 'echo "\$DISPLAY" > $run/x-display'
CONF
  if [ "$bar" != nobar ]; then
    printf 'bar {\n  position top\n  output HEADLESS-1\n  tray_output HEADLESS-1\n}\n' >>"$TL_SWAY_DIR/config"
  fi
  printf '%s\n' "$extra" >>"$TL_SWAY_DIR/config"
  chmod 644 "$TL_SWAY_DIR/config" "$TL_SWAY_DIR/dbus.conf"

  "${as[@]}" dbus-daemon --nofork --print-address=1 --config-file="$TL_SWAY_DIR/dbus.conf" >"$logs/dbus.log" 2>&1 &
  TL_DESKTOP_PIDS+=($!)
  tl_wait_for 10 grep -q '^unix:' "$logs/dbus.log" || { echo "headless sway: no D-Bus" >&2; return 1; }
  export DBUS_SESSION_BUS_ADDRESS
  DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$logs/dbus.log")

  "${as[@]}" WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS" sway -c "$TL_SWAY_DIR/config" >"$logs/sway.log" 2>&1 &
  TL_DESKTOP_PIDS+=($!)
  tl_wait_for 15 bash -c "ls '$run'/sway-ipc.*.sock && ls '$run' | grep -qx 'wayland-[0-9]*'" || {
    echo "headless sway: sway did not start (see $logs/sway.log)" >&2
    return 1
  }
  export XDG_RUNTIME_DIR=$run SWAYSOCK WAYLAND_DISPLAY DISPLAY
  SWAYSOCK=$(ls "$run"/sway-ipc.*.sock)
  WAYLAND_DISPLAY=$(ls "$run" | grep -x 'wayland-[0-9]*' | head -n 1)
  swaymsg create_output >/dev/null
  tl_wait_for 15 bash -c "swaymsg -t get_outputs | grep -q HEADLESS-2 && [ -s '$run/x-display' ]" || return 1
  # Ready once the first output's workspace leaves room for the bar (or has none to leave).
  local top=0
  [ "$bar" = nobar ] || top=1
  tl_wait_for 15 bash -c "swaymsg -r -t get_tree | jq -e '.nodes[] | select(.name == \"HEADLESS-1\") |
    (.nodes[0].rect.y > .rect.y) == ($top == 1)'" || { echo "headless sway: no bar" >&2; return 1; }
  DISPLAY=$(cat "$run/x-display")
  if [ "$(id -u)" -eq 0 ]; then
    "${as[@]}" DISPLAY="$DISPLAY" xhost +si:localuser:root >/dev/null # XWayland lets its user in only
  fi
}

tl_sway_stop() {
  tl_desktop_stop # the bar and XWayland end with sway
  [ -z "$TL_SWAY_DIR" ] || rm -rf "$TL_SWAY_DIR"
  TL_SWAY_DIR=
}

if [ "${BASH_SOURCE[0]}" = "$0" ] && [ "${1:-}" = serve ]; then
  trap 'tl_sway_stop; exit 0' TERM INT HUP
  trap tl_sway_stop EXIT
  tl_sway_start "$2" "${3:-}" "${4:-}" >&2 || exit 1
  echo "SWAYSOCK=$SWAYSOCK WAYLAND_DISPLAY=$WAYLAND_DISPLAY XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR" \
    "DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS DISPLAY=$DISPLAY"
  while read -r _; do :; done
fi
