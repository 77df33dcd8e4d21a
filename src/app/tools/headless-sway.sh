# Shell functions for a private headless sway: two outputs, a swaybar with a tray, its own
# D-Bus session bus and XWayland. Sourced by scripts/run (--sway).
#
#   tl_sway_start DIR     # exports WAYLAND_DISPLAY, SWAYSOCK, XDG_RUNTIME_DIR,
#                         # DBUS_SESSION_BUS_ADDRESS, DISPLAY; logs into DIR
#   tl_sway_stop          # ends what tl_sway_start started, by pid
#
# sway refuses to run as root: as root, sway and its bus run as the user tilora-test (made if
# missing); root can still use both sockets.

source "$(dirname "${BASH_SOURCE[0]}")/headless-desktop.sh" # tl_wait_for

TL_SWAY_PIDS=()
TL_SWAY_DIR=

tl_sway_start() {
  local logs=$1 user=tilora-test
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
bar {
  position top
  output HEADLESS-1
  tray_output HEADLESS-1
}
CONF
  chmod 644 "$TL_SWAY_DIR/config" "$TL_SWAY_DIR/dbus.conf"

  "${as[@]}" dbus-daemon --nofork --print-address=1 --config-file="$TL_SWAY_DIR/dbus.conf" >"$logs/dbus.log" 2>&1 &
  TL_SWAY_PIDS+=($!)
  tl_wait_for 10 grep -q '^unix:' "$logs/dbus.log" || { echo "headless sway: no D-Bus" >&2; return 1; }
  export DBUS_SESSION_BUS_ADDRESS
  DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$logs/dbus.log")

  "${as[@]}" WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS" sway -c "$TL_SWAY_DIR/config" >"$logs/sway.log" 2>&1 &
  TL_SWAY_PIDS+=($!)
  tl_wait_for 15 bash -c "ls '$run'/sway-ipc.*.sock && ls '$run' | grep -qx 'wayland-[0-9]*'" || {
    echo "headless sway: sway did not start (see $logs/sway.log)" >&2
    return 1
  }
  export XDG_RUNTIME_DIR=$run SWAYSOCK WAYLAND_DISPLAY DISPLAY
  SWAYSOCK=$(ls "$run"/sway-ipc.*.sock)
  WAYLAND_DISPLAY=$(ls "$run" | grep -x 'wayland-[0-9]*' | head -n 1)
  swaymsg create_output >/dev/null
  tl_wait_for 15 bash -c "swaymsg -t get_outputs | grep -q HEADLESS-2 && [ -s '$run/x-display' ]" || return 1
  DISPLAY=$(cat "$run/x-display")
  if [ "$(id -u)" -eq 0 ]; then
    "${as[@]}" DISPLAY="$DISPLAY" xhost +si:localuser:root >/dev/null # XWayland lets its user in only
  fi
}

tl_sway_stop() {
  local i
  for ((i = ${#TL_SWAY_PIDS[@]} - 1; i >= 0; i--)); do
    kill "${TL_SWAY_PIDS[$i]}" 2>/dev/null || true
    wait "${TL_SWAY_PIDS[$i]}" 2>/dev/null || true
  done
  TL_SWAY_PIDS=()
  [ -z "$TL_SWAY_DIR" ] || rm -rf "$TL_SWAY_DIR"
  TL_SWAY_DIR=
}
