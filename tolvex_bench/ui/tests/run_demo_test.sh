#!/usr/bin/env bash
# scripts/run-demo (`make run`) with stand-ins for the bench and the command-line tool:
# the command-line demo plays when the bench could not run, never after the bench was
# closed or stopped. Usage: run_demo_test.sh <path of run-demo>
set -uo pipefail
run_demo=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat >"$work/cli" <<'CLI'
#!/bin/sh
echo "command-line demo: $*"
CLI
chmod +x "$work/cli"

failures=0
# how the bench ends | display | whether the command-line demo plays
cases=(
  "exit 0|:0|no"
  "kill -s INT \$\$|:0|no"
  "kill -s TERM \$\$|:0|no"
  "kill -s HUP \$\$|:0|no"
  "echo 'could not connect to display' >&2; kill -s ABRT \$\$|:0|yes"
  "exit 1|:0|yes"
  "exit 0||yes"
)
for case in "${cases[@]}"; do
  IFS='|' read -r ending display plays <<<"$case"
  # shellcheck disable=SC2016  # $1 is the stand-in's own argument
  printf '#!/bin/bash\n[ "$1" = --simulate ] || exit 64\n%s\n' "$ending" >"$work/bench"
  chmod +x "$work/bench"
  out=$(env -u WAYLAND_DISPLAY DISPLAY="$display" TOLVEX_BENCH="$work/bench" TOLVEX_CLI="$work/cli" \
        "$run_demo" 2>&1)
  status=$?
  played=no
  case "$out" in *"command-line demo: --sim --script scripts/demo.tvx"*) played=yes ;; esac
  if [ "$played" != "$plays" ] || [ "$status" -ne 0 ]; then
    echo "FAIL: bench '$ending', DISPLAY='$display': demo played $played (expected $plays), status $status"
    while IFS= read -r line; do echo "  | $line"; done <<<"$out"
    failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ] && echo "run-demo: ${#cases[@]} cases passed"
exit "$failures"
