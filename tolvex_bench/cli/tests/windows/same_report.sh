#!/usr/bin/env bash
# Runs `model` with the Linux tolvex_cli and with tolvex_cli.exe under wine, each against
# a fresh simulator, and compares what they print (Windows ends its lines with CR LF).
#   same_report.sh WINE_SIM SIM LINK LINUX_CLI COMn WINE... WINDOWS_CLI
set -euo pipefail
wine_sim=$1 sim=$2 link=$3 linux_cli=$4 com=$5
shift 5
linux=$("$wine_sim" run "$sim" "$link" --instant -- "$linux_cli" --port "$link" --baud 38400 model)
windows=$("$wine_sim" run "$sim" "$link" --instant -- "$@" --port "$com" --baud 38400 model | tr -d '\r')
if [ "$linux" != "$windows" ]; then
  echo "Linux tool:"; echo "$linux"
  echo "Windows tool:"; echo "$windows"
  exit 1
fi
echo "$windows"
