#!/usr/bin/env bash
# CI: builds the fuzz targets and runs each for a short while (30 s unless
# HARVEST_FUZZ_SECONDS says otherwise), printing the executions, coverage and
# features of each. Fails when any target finds a fault; the inputs are left
# in build/fuzz/crashes/ for the CI artifacts.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
status=0
scripts/fuzz.sh all "${HARVEST_FUZZ_SECONDS:-30}" || status=$?
echo "Fuzzing took $((SECONDS - started)) s in all, build included"
exit "$status"
