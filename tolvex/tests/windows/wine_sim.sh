#!/usr/bin/env bash
# The Windows build's tests against the simulated terminal, under wine.
#   wine_sim.sh start PREFIX LOADER COMn LINK
#       maps COMn of the wine prefix to LINK (where the simulator's pseudo-terminal link
#       appears) and restarts the wine server, which reads the mapping when it starts.
#       The server is kept running until `stop` (or ten minutes after its last program,
#       should a run be cut short) and is brought up by one program run alone: programs
#       that start in parallel while a server starts up or winds down may lose their
#       connection to it or hang on exit, so the tests share one that is up.
#       With Xvfb present, an X display of its own is started for the programs with
#       windows, and wine told not to wait for a window manager.
#   wine_sim.sh stop PREFIX
#       ends the wine server of the prefix, the programs it still holds and its display.
#   wine_sim.sh gui PREFIX -- COMMAND...
#       runs COMMAND on the display started with the server.
#   wine_sim.sh run SIM LINK [SIM_OPTION...] -- COMMAND...
#       starts the simulator with its link at LINK, runs COMMAND and ends the simulator.
#       With TOLVEX_HANGUP=1 the simulator is ended as soon as COMMAND says its command is
#       in flight (a file whose Windows path COMMAND finds in TOLVEX_TEST_READY_FILE).
#   wine_sim.sh listen SIM_COMMAND... -- COMMAND...
#       starts SIM_COMMAND (a simulator, under wine or not, with its options) with
#       --listen 127.0.0.1:0, runs COMMAND with the socket:// address it prints in
#       TOLVEX_TEST_PORT and in place of every @PORT@ argument, and ends the simulator.
set -euo pipefail
export WINEDEBUG=-all

end_server() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
}

# The display's number and its server's process, beside the prefix.
end_display() {
  if [ -s "$1.xvfb-pid" ]; then
    kill "$(cat "$1.xvfb-pid")" 2>/dev/null || true
  fi
  rm -f "$1.xvfb-pid" "$1.xvfb-display"
}

start_display() {
  command -v Xvfb >/dev/null || return 0
  end_display "$1"
  # The display's number comes through fd 3 once it is up; nothing of it holds our output.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$1.xvfb-display" >/dev/null 2>&1 </dev/null &
  echo $! >"$1.xvfb-pid"
  for _ in $(seq 200); do
    [ -s "$1.xvfb-display" ] && break
    sleep 0.05
  done
  [ -s "$1.xvfb-display" ] || { echo "wine_sim.sh: Xvfb gave no display" >&2; return 1; }
  export DISPLAY=":$(head -n1 "$1.xvfb-display")"
}

case "$1" in
  start)
    export WINEPREFIX=$2
    loader=$3
    end_server
    start_display "$WINEPREFIX"
    "$loader" reg add 'HKLM\Software\Wine\Ports' /v "$4" /d "$5" /f >/dev/null
    # Without a window manager, wine would wait for one at every hidden or closed window.
    for value in Managed Decorated; do
      "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v "$value" /d N /f >/dev/null
    done
    end_server
    # The first program starts wine's own services, which keep running with the server
    # (so nothing of theirs may hold this script's output open). A start that hangs is
    # tried again on a fresh server.
    for _ in 1 2 3; do
      wineserver -p600 >/dev/null 2>&1
      if timeout 60 "$loader" cmd /c exit 0 >/dev/null 2>&1 </dev/null; then
        exit 0
      fi
      end_server
    done
    echo "wine_sim.sh: wine does not start a program in $WINEPREFIX" >&2
    exit 1
    ;;
  stop)
    export WINEPREFIX=$2
    end_server
    end_display "$WINEPREFIX"
    ;;
  gui)
    [ -s "$2.xvfb-display" ] || { echo "wine_sim.sh: no display for $2 (is Xvfb installed?)" >&2; exit 1; }
    export DISPLAY=":$(head -n1 "$2.xvfb-display")"
    shift 3
    "$@"
    ;;
  run)
    sim=$2
    link=$3
    shift 3
    sim_options=()
    while [ "$1" != "--" ]; do
      sim_options+=("$1")
      shift
    done
    shift
    rm -f "$link"
    "$sim" --link "$link" "${sim_options[@]}" >/dev/null &
    sim_pid=$!
    ready=$(mktemp -u "${TMPDIR:-/tmp}/tolvex_wine_ready.XXXXXX")
    trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; rm -f "$ready"' EXIT
    for _ in $(seq 200); do
      [ -e "$link" ] && break
      sleep 0.05
    done
    [ -e "$link" ] || { echo "wine_sim.sh: no simulator link at $link" >&2; exit 1; }
    export TOLVEX_TEST_READY_FILE="Z:${ready//\//\\}"
    "$@" &
    cmd_pid=$!
    if [ "${TOLVEX_HANGUP:-0}" = 1 ]; then
      while kill -0 "$cmd_pid" 2>/dev/null && [ ! -e "$ready" ]; do sleep 0.02; done
      kill "$sim_pid" 2>/dev/null || true
    fi
    wait "$cmd_pid"
    ;;
  listen)
    shift
    sim_command=()
    while [ "$1" != "--" ]; do
      sim_command+=("$1")
      shift
    done
    shift
    # The address goes to a file: a pipe could be held open by wine's helper processes.
    out=$(mktemp "${TMPDIR:-/tmp}/tolvex_wine_listen.XXXXXX")
    "${sim_command[@]}" --listen 127.0.0.1:0 >"$out" 2>&1 </dev/null &
    sim_pid=$!
    trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; rm -f "$out"' EXIT
    address=""
    for _ in $(seq 600); do
      address=$(grep -o -m1 'socket://[^[:space:]]*' "$out" || true)
      [ -n "$address" ] && break
      kill -0 "$sim_pid" 2>/dev/null || break
      sleep 0.05
    done
    [ -n "$address" ] || { echo "wine_sim.sh: the simulator gave no address:" >&2; cat "$out" >&2; exit 1; }
    export TOLVEX_TEST_PORT=$address
    command=()
    for a in "$@"; do command+=("${a//@PORT@/$address}"); done
    "${command[@]}"
    ;;
  *)
    echo "usage: wine_sim.sh start|stop|run|listen|gui ..." >&2
    exit 2
    ;;
esac
