#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehavior-
# Sanitizer) in build/fuzz and runs one target, or every one in turn.
#
#   scripts/fuzz.sh TARGET SECONDS
#     TARGET: freebusy_reader, calendar_reader, fetch_url, time_text, settings, or all
#
# Each run starts from the seeds in fuzz/corpus/TARGET, copied into a working
# corpus under build/fuzz/corpus/TARGET that grows from run to run; the
# checked-in seeds are never changed. Prints libFuzzer's final figures and
# exits non-zero when a target crashed, hung or leaked; the input that did it
# is kept in build/fuzz/crashes/TARGET/. Replay one with
#   build/fuzz/fuzz/TARGET_fuzzer build/fuzz/crashes/TARGET/crash-...
set -euo pipefail
cd "$(dirname "$0")/.."

targets=(freebusy_reader calendar_reader fetch_url time_text settings)
# Longest input per target: a free/busy text long enough for many lines and
# folds, URLs and settings files of a realistic size, a time text with room
# to be too long; a calendar with a few events, zones and overrides.
declare -A max_len=([freebusy_reader]=16384 [calendar_reader]=16384 [fetch_url]=2048 [time_text]=64 [settings]=4096)

usage() {
  echo "usage: scripts/fuzz.sh TARGET SECONDS   (TARGET: ${targets[*]} or all)" >&2
  exit 2
}
[ $# -eq 2 ] || usage
target=$1
seconds=$2
[[ $seconds =~ ^[1-9][0-9]*$ ]] || usage
if [ "$target" = all ]; then
  selected=("${targets[@]}")
elif [ -n "${max_len[$target]+set}" ]; then
  selected=("$target")
else
  usage
fi

build=build/fuzz

# clang and its libFuzzer runtime come with the project's packages; a clang
# that still cannot link a fuzz target is reported before any build starts.
scripts/install-deps.sh
mkdir -p "$build"
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' |
  clang++ -x c++ -fsanitize=fuzzer,address,undefined -o "$build/.probe" - ||
  { echo "clang++ cannot link a libFuzzer target (clang, libclang-rt-14-dev)" >&2; exit 1; }

# The whole tree is configured so that the libraries the targets link are
# instrumented too; the targets add the fuzzer's entry point themselves.
# HARVEST_WARNINGS_AS_ERRORS=ON (as CI sets it) makes clang's warnings errors.
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DHARVEST_FUZZ=ON -DHARVEST_TESTS=OFF -DHARVEST_SANITIZE=ON \
  -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link \
  -DCMAKE_COMPILE_WARNING_AS_ERROR="${HARVEST_WARNINGS_AS_ERRORS:-OFF}" >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${selected[@]/%/_fuzzer}"

# Stop at the first error of any kind; leaks count as errors.
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# One value of libFuzzer's final figures in a log: "stat::NAME: VALUE".
final_stat() { sed -n "s/^stat::$1:[[:space:]]*//p" "$2" | tail -n 1; }

failed=()
summary=()
for name in "${selected[@]}"; do
  corpus=$build/corpus/$name
  crashes=$build/crashes/$name
  log=$build/logs/$name.log
  mkdir -p "$corpus" "$crashes" "$(dirname "$log")"
  cp fuzz/corpus/"$name"/* "$corpus"/  # the seeds themselves never change

  echo "== $name: fuzzing for $seconds s (log: $log)"
  started=$SECONDS
  status=0
  "$build/fuzz/${name}_fuzzer" "$corpus" -max_total_time="$seconds" \
    -max_len="${max_len[$name]}" -dict="fuzz/dict/$name.dict" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$crashes/" -print_final_stats=1 >"$log" 2>&1 || status=$?
  took=$((SECONDS - started))

  # The last status line has the coverage ("cov") and features ("ft") reached.
  last=$(grep -E '^#[0-9]+[[:space:]]' "$log" | tail -n 1 || true)
  [ -z "$last" ] || echo "   $last"
  runs=$(final_stat number_of_executed_units "$log")
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  echo "   executions: ${runs:-?} in $took s ($(final_stat average_exec_per_sec "$log") /s)," \
       "corpus: $(find "$corpus" -type f | wc -l) inputs"
  verdict=clean
  if [ "$status" -ne 0 ]; then
    verdict="FAULT (exit $status)"
    echo "!! $name failed (exit $status); the input is in $crashes/:"
    ls -t "$crashes" | head -n 3 | sed 's/^/     /'
    grep -E 'ERROR:|SUMMARY:|check failed|runtime error' "$log" | head -n 10 | sed 's/^/     /'
    echo "   the end of the log:"
    tail -n 30 "$log" | sed 's/^/     /'
    failed+=("$name")
  fi
  summary+=("$(printf '%-16s %12s %6s %6s %8s  %s' "$name" "${runs:-?}" "$took" \
    "${cov:-?}" "${ft:-?}" "$verdict")")
done

echo
printf '%-16s %12s %6s %6s %8s  %s\n' target executions s cov ft result
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -ne 0 ]; then
  echo "Fuzzing found faults in: ${failed[*]}"
  echo "fuzz: $((${#selected[@]} - ${#failed[@]})) passed, ${#failed[@]} failed"
  exit 1
fi
echo "Fuzzing found nothing in: ${selected[*]}"
echo "fuzz: ${#selected[@]} passed, 0 failed"
