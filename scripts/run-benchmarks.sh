#!/usr/bin/env bash
# Runs every benchmark program of the Release tree, one after another.
set -uo pipefail
cd "$(dirname "$0")/.."
status=0
for program in build/bench/*; do
  [ -x "$program" ] && [ -f "$program" ] || continue
  echo "== $(basename "$program")"
  "$program" || status=1
done
exit $status
