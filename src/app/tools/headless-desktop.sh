# Shell functions for a private headless X desktop: Xvfb with two monitors, openbox and a
# tint2 panel with a system tray. Sourced by scripts/run; the tests' desktop runs it as a command.
#
#   tl_desktop_start DIR [bare]  # sets DISPLAY and TL_DESKTOP_PIDS; logs into DIR; bare: no
#                                # window manager and no panel
#   tl_desktop_stop              # ends what tl_desktop_start started, by pid
#   headless-desktop.sh serve DIR [bare]
#                                # prints "DISPLAY XVFB_PID" once the desktop is ready and keeps
#                                # it until its standard input closes or it is terminated
#
# Every wait polls with a deadline; nothing sleeps a fixed time to synchronise.

TL_REPO_ROOT=${TL_REPO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)}
TL_DESKTOP_PIDS=()

# tl_wait_for SECONDS COMMAND...: runs COMMAND every 50 ms until it succeeds.
tl_wait_for() {
  local seconds=$1
  shift
  local deadline=$((SECONDS + seconds))
  until "$@" >/dev/null 2>&1; do
    if [ "$SECONDS" -ge "$deadline" ]; then
      return 1
    fi
    sleep 0.05
  done
}

tl_root_has() { xprop -root "$1" 2>/dev/null | grep -q "$2"; }

tl_desktop_start() {
  local dir=$1 bare=${2:-}
  mkdir -p "$dir"
  # Xvfb picks a free display itself and reports it on descriptor 3.
  local fifo="$dir/displayfd"
  rm -f "$fifo"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 3360x1080x24 -nolisten tcp -noreset 3>"$fifo" >"$dir/xvfb.log" 2>&1 &
  TL_DESKTOP_PIDS+=($!)
  local number
  if ! read -r -t 15 number <"$fifo"; then
    echo "headless desktop: Xvfb did not start (see $dir/xvfb.log)" >&2
    return 1
  fi
  rm -f "$fifo"
  export DISPLAY=":$number"

  # Two monitors of unequal size, the right one primary; the left one tied to the screen
  # output so that no third monitor remains.
  xrandr --setmonitor LEFT 1440/381x900/238+0+180 screen >/dev/null
  xrandr --setmonitor '*RIGHT' 1920/508x1080/286+1440+0 none >/dev/null
  tl_wait_for 10 bash -c 'xrandr --listmonitors | grep -q "Monitors: 2"' || return 1

  [ "$bare" = bare ] && return 0

  openbox --sm-disable --config-file "$TL_REPO_ROOT/tests/support/openbox-rc.xml" >"$dir/openbox.log" 2>&1 &
  TL_DESKTOP_PIDS+=($!)
  tl_wait_for 15 tl_root_has _NET_SUPPORTING_WM_CHECK window || {
    echo "headless desktop: openbox did not start (see $dir/openbox.log)" >&2
    return 1
  }

  # Ready once the panel's strut is in the work area. While openbox is still starting up it may
  # drop a map request for good; a panel that does not appear is started again.
  local try
  for try in 1 2 3 4 5; do
    tint2 -c "$TL_REPO_ROOT/tests/support/tint2rc" >>"$dir/tint2.log" 2>&1 &
    TL_DESKTOP_PIDS+=($!)
    tl_wait_for 4 tl_root_has _NET_WORKAREA '0, 0, 3360, 1048' && return 0
    kill "${TL_DESKTOP_PIDS[-1]}" 2>/dev/null || true
    wait "${TL_DESKTOP_PIDS[-1]}" 2>/dev/null || true
    unset 'TL_DESKTOP_PIDS[-1]'
  done
  echo "headless desktop: tint2 did not start (see $dir/tint2.log)" >&2
  return 1
}

tl_desktop_stop() {
  local i
  # Last started first: panel, window manager, server.
  for ((i = ${#TL_DESKTOP_PIDS[@]} - 1; i >= 0; i--)); do
    kill "${TL_DESKTOP_PIDS[$i]}" 2>/dev/null || true
    wait "${TL_DESKTOP_PIDS[$i]}" 2>/dev/null || true
  done
  TL_DESKTOP_PIDS=()
}

if [ "${BASH_SOURCE[0]}" = "$0" ] && [ "${1:-}" = serve ]; then
  export XDG_CONFIG_HOME=$2/config XDG_CACHE_HOME=$2/cache
  trap 'tl_desktop_stop; exit 0' TERM INT HUP
  trap tl_desktop_stop EXIT
  tl_desktop_start "$2" "${3:-}" >&2 || exit 1
  echo "$DISPLAY ${TL_DESKTOP_PIDS[0]}"
  while read -r _; do :; done
fi
