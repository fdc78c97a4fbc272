#!/usr/bin/env bash
# Runs two commands and compares what they print on standard output (Windows ends its
# lines with CR LF); the first is the reference.
#   same_output.sh COMMAND... --vs COMMAND...
set -euo pipefail
first=()
while [ "$1" != "--vs" ]; do
  first+=("$1")
  shift
done
shift
expected=$("${first[@]}" </dev/null | tr -d '\r')
actual=$("$@" </dev/null | tr -d '\r')
if [ -z "$expected" ] || [ "$expected" != "$actual" ]; then
  echo "expected:"; echo "$expected"
  echo "got:"; echo "$actual"
  exit 1
fi
echo "$actual"
