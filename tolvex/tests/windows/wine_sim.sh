#!/usr/bin/env bash
# The Windows build's tests against the simulated terminal, under wine.
#   wine_sim.sh map PREFIX LOADER COMn LINK
#       maps COMn of the wine prefix to LINK (where the simulator's pseudo-terminal link
#       appears) and restarts the wine server, which reads the mapping when it starts.
#   wine_sim.sh run SIM LINK [SIM_OPTION...] -- COMMAND...
#       starts the simulator with its link at LINK, runs COMMAND and ends the simulator.
#       With TOLVEX_HANGUP=1 the simulator is ended as soon as COMMAND says its command is
#       in flight (a file whose Windows path COMMAND finds in TOLVEX_TEST_READY_FILE).
set -euo pipefail
export WINEDEBUG=-all

case "$1" in
  map)
    export WINEPREFIX=$2
    loader=$3
    "$loader" reg add 'HKLM\Software\Wine\Ports' /v "$4" /d "$5" /f >/dev/null
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
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
  *)
    echo "usage: wine_sim.sh map|run ..." >&2
    exit 2
    ;;
esac
