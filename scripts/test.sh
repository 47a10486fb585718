#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

# Which module includes which; fails on an include against the layers.
python3 scripts/layers.py

build=build/asan
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DHARVEST_SANITIZE=ON -DHARVEST_TESTS=ON \
  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
cmake --build "$build" -j "$(nproc)"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
