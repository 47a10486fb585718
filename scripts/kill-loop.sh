#!/usr/bin/env bash
# The long version of the crash test: a harvest of a few hundred users
# killed with SIGKILL at random moments, KILLS times over (default 200),
# each kill followed by `nsfutil check` and a look at every user's documents.
#
#   scripts/kill-loop.sh [KILLS] [SEED]
#
# Prints the test's "kill-loop:" line: kills made, users found without a
# document after a kill (always 0: a user's old document goes only in the
# commit that saves the new one), and the failures found. SEED repeats an
# earlier sequence of kill moments.
set -euo pipefail
cd "$(dirname "$0")/.."

kills=${1:-200}
[[ $kills =~ ^[1-9][0-9]*$ ]] || { echo "usage: scripts/kill-loop.sh [KILLS] [SEED]" >&2; exit 2; }

scripts/install-deps.sh
build=build/asan
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DHARVEST_SANITIZE=ON -DHARVEST_TESTS=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target harvest_tests busytime-harvest nsfutil

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export HARVEST_KILLS=$kills
[ $# -ge 2 ] && export HARVEST_KILL_SEED=$2
"$build/tests/harvest_tests" --gtest_filter='CrashRecoveryTest.*'
