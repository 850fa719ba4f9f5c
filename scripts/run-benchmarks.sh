#!/usr/bin/env bash
# Runs every benchmark of a release build in one go, so that figures that are
# compared side by side come from one run on one machine.
set -euo pipefail
build=${1:-build/release}
shift || true
for b in "$build"/bin/bench_*; do
  [[ -x "$b" ]] || continue
  echo "== $(basename "$b")"
  "$b" --benchmark_counters_tabular=true "$@"
done
