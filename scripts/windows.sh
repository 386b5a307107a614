# shellcheck shell=bash
# Shared by scripts/demo --windows and scripts/screenshots (sourced, not run): a private X
# server, and the control panel's tabs photographed. Expects $bin (the built programs) and a
# pids array the caller's cleanup stops (last started first).
# shellcheck disable=SC2154  # bin and KVR_STATE_DIR are the caller's

# The control panel's tabs, in their order (Ctrl+Tab goes from one to the next).
panel_tabs=(general settings parameter tools device advance)

# start_xvfb LOGDIR: a private Xvfb (1024x768, 24 bits) on a display number the server picks
# itself (-displayfd), so it never takes one in use. Two servers starting at the same moment
# can still collide; then it tries again (three times). Sets DISPLAY; adds the server to pids.
start_xvfb() {
  local log=$1/xvfb.log number=$1/xvfb.display attempt i pid
  for ((attempt = 1; attempt <= 3; attempt++)); do
    : >"$number"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$number" 2>"$log" &
    pid=$!
    for ((i = 0; i < 200; i++)); do
      [[ -s $number ]] && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
    if [[ -s $number ]]; then
      pids+=("$pid")
      DISPLAY=:$(head -n 1 "$number")
      export DISPLAY
      unset WAYLAND_DISPLAY
      export QT_QPA_PLATFORM=xcb
      return 0
    fi
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  fail "${script_name:-demo}" "Xvfb did not start: $(tail -n 1 "$log")"
}

# shoot_panel PID DIR: each tab of the running control panel into DIR/tactivo-<tab>.png, then
# Ctrl+E ends it. The panel's first start backs the controller's settings up; the pictures
# wait for that ($KVR_STATE_DIR/eepdef.eep written).
shoot_panel() {
  local pid=$1 dir=$2 tab i
  "$bin/kvrshot" wait "$pid"
  for ((i = 0; i < 800; i++)); do
    [[ -e $KVR_STATE_DIR/eepdef.eep ]] && break
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.05
  done
  for tab in "${panel_tabs[@]}"; do
    "$bin/kvrshot" shot "$pid" "$dir/tactivo-$tab.png"
    "$bin/kvrshot" key "$pid" ctrl+Tab
  done
  "$bin/kvrshot" key "$pid" ctrl+e
  wait "$pid" 2>/dev/null || true
}
