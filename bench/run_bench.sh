#!/usr/bin/env bash
# The whole run, measured: N calendar profiles whose free/busy URLs point at a
# loopback HTTP server that answers every request after LATENCY_MS, harvested
# with each HarvestConcurrency given (default: 1 and 8), next to plain libcurl
# loops over the same URLs (bench/curl_loop.cc: one after the other on one
# reused connection, and with as many transfers in flight as each K).
#
#   bench/run_bench.sh N LATENCY_MS [K ...]
#
# Prints, per harvest: wall time, users per second, CPU time of the harvest
# process per user, wall time per user beyond the curl loop with as many
# transfers in flight (at latency 0 that is our own work, the downloads' cost
# taken out), and peak memory. The first harvest of a fresh data directory
# creates every busy-time document; it is reported on its own line and the
# runs after it replace them, which is the steady state of a site.
#
# Environment: BUILD_DIR (default build/release), WORK_DIR (default
# build/bench/N-LATENCY), FIRST_K (the K of the first, creating run; default
# the largest K given), FIRST_ONLY=1 (only the first run), HARVEST (another
# busytime-harvest program to measure, e.g. a copy of an earlier build),
# FIRST_HARVEST (the program of the first run; default HARVEST's),
# SEQUENTIAL_LOOP= (empty: no sequential curl loop, which takes N times the
# latency), HUNG_AT (a position: that user's server reads the request and never
# answers, so the run meets the 30 s idle limit once),
# TIME_LIMIT (seconds: a harvest still running then is stopped, and its
# figures are those of the users it got through; a replacing run does the
# same work for every user, so they stand for the whole run).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. bench/loopback_server.sh

if [ $# -lt 2 ]; then
  echo "usage: bench/run_bench.sh N LATENCY_MS [K ...]" >&2
  exit 2
fi
users=$1
latency=$2
shift 2
ks=("$@")
[ ${#ks[@]} -gt 0 ] || ks=(1 8)
max_k=1
for k in "${ks[@]}"; do [ "$k" -gt "$max_k" ] && max_k=$k; done
first_k=${FIRST_K:-$max_k}

[ -x /usr/bin/time ] || { echo "run_bench: /usr/bin/time is missing (apt-get install time)" >&2; exit 1; }

build=${BUILD_DIR:-build/release}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHARVEST_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)" \
  --target busytime-harvest nsfutil loopback-http-server curl_loop >/dev/null
harvest=${HARVEST:-$root/$build/busytime-harvest}
first_harvest=${FIRST_HARVEST:-$harvest}
nsfutil=$root/$build/nsfutil
server=$root/$build/loopback-http-server
curl_loop=$root/$build/bench/curl_loop

work=${WORK_DIR:-$root/build/bench/$users-$latency}
rm -rf "$work"
mkdir -p "$work/texts"

# A few free/busy texts as publishers write them: a working week, a dense
# month with parameters, several periods per line, durations and folded
# lines, a quarter of meetings, and a calendar with no busy time.
write_texts() {
  local dir=$1
  {
    printf 'BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Bench//Week//EN\r\nMETHOD:PUBLISH\r\n'
    printf 'BEGIN:VFREEBUSY\r\nDTSTART:20250310T000000Z\r\nDTEND:20250315T000000Z\r\n'
    for day in 10 11 12 13 14; do
      printf 'FREEBUSY:202503%sT080000Z/202503%sT093000Z\r\n' "$day" "$day"
      printf 'FREEBUSY:202503%sT130000Z/202503%sT150000Z\r\n' "$day" "$day"
    done
    printf 'END:VFREEBUSY\r\nEND:VCALENDAR\r\n'
  } >"$dir/week.ifb"
  {
    printf 'BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//Bench//Month//EN\nBEGIN:VFREEBUSY\n'
    for day in $(seq -w 1 28); do
      printf 'FREEBUSY;FBTYPE=BUSY:202504%sT090000Z/PT1H,202504%sT140000Z/PT2H30M\n' "$day" "$day"
      printf 'FREEBUSY;FBTYPE=BUSY-TENTATIVE:202504%sT160000Z/202504%sT1\n 70000Z\n' "$day" "$day"
    done
    printf 'END:VFREEBUSY\nEND:VCALENDAR\n'
  } >"$dir/month.ifb"
  {
    printf 'BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Bench//Quarter//EN\r\nBEGIN:VFREEBUSY\r\n'
    for month in 04 05 06; do
      for day in $(seq -w 1 28); do
        printf 'FREEBUSY:2025%s%sT%02d0000Z/2025%s%sT%02d4500Z\r\n' \
          "$month" "$day" $((8 + 10#$day % 8)) "$month" "$day" $((8 + 10#$day % 8))
        printf 'FREEBUSY:2025%s%sT170000Z/2025%s%sT180000Z\r\n' "$month" "$day" "$month" "$day"
      done
    done
    printf 'END:VFREEBUSY\r\nEND:VCALENDAR\r\n'
  } >"$dir/quarter.ifb"
  printf 'BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VFREEBUSY\r\nEND:VFREEBUSY\r\nEND:VCALENDAR\r\n' \
    >"$dir/free.ifb"
}
write_texts "$work/texts"
texts=(week.ifb month.ifb quarter.ifb free.ifb)

start_loopback_server "$server" "$work" "$work/texts" --latency-ms "$latency" --hang /hang

echo "== $users users, server latency $latency ms, texts: ${texts[*]}${HUNG_AT:+, user $HUNG_AT hung}"
"$nsfutil" init "$work/data" >/dev/null
ini=$work/data/notes.ini
awk -v n="$users" -v base="$server_base" -v list="${texts[*]}" -v hung="${HUNG_AT:-0}" 'BEGIN {
  split(list, t, " ")
  print "address,url"
  for (i = 1; i <= n; i++)
    printf "user%06d@bench.example,%s/%s?u=%d\n", i, base, i == hung ? "hang" : t[(i - 1) % 4 + 1], i
}' >"$work/profiles.csv"
tail -n +2 "$work/profiles.csv" | cut -d, -f2 >"$work/urls.txt"
start=$(date +%s.%N)
"$nsfutil" --ini "$ini" profile import "$work/profiles.csv" >/dev/null
printf 'setup: nsfutil profile import of %d profiles took %.1f s\n' "$users" \
  "$(echo "$(date +%s.%N) - $start" | bc)"

seconds_of() { awk '{ for (i = 1; i <= NF; i++) if ($i == "s,") print $(i - 1) }' <<<"$1"; }

# The curl loop with as many transfers in flight as each K: a harvest with K
# is measured against the loop with K, so at any latency the difference is
# what the harvest adds to the downloads.
declare -A loop_s
for k in $(printf '%s\n' ${SEQUENTIAL_LOOP-1} "$first_k" "${ks[@]}" | sort -n -u); do
  loop=$("$curl_loop" "$work/urls.txt" "$k")
  loop_s[$k]=$(seconds_of "$loop")
  if [ "$k" -eq 1 ]; then
    printf '%-34s %s\n' "curl loop, sequential, 1 connection:" "$loop"
  else
    printf '%-34s %s\n' "curl loop, $k in flight:" "$loop"
  fi
done

# One harvest of PROGRAM with HarvestConcurrency K; LABEL names the line.
run_harvest() {
  local program=$1 k=$2 label=$3
  sed -i '/^HarvestConcurrency=/d' "$ini"
  echo "HarvestConcurrency=$k" >>"$ini"
  local out=$work/harvest-$k.out err=$work/harvest-$k.err timing=$work/harvest-$k.time
  local start end status=0
  local limit=()
  [ -n "${TIME_LIMIT:-}" ] && limit=(timeout "$TIME_LIMIT")
  start=$(date +%s.%N)
  /usr/bin/time -v -o "$timing" "${limit[@]}" "$program" "=$ini" >"$out" 2>"$err" || status=$?
  end=$(date +%s.%N)
  local done skipped cpu rss
  done=$(grep -c "^Populating " "$out" || true)
  skipped=$(grep -c "User is skipped" "$out" || true)
  cpu=$(awk -F': ' '/User time|System time/ { s += $2 } END { print s }' "$timing")
  rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$timing")
  # Stopped at the time limit (timeout's status 124): per user done, and the
  # curl loop's share of those users.
  local per=$users note=""
  if [ "$status" = 124 ] && [ "$done" -gt 0 ]; then
    per=$done
    note="  STOPPED after ${TIME_LIMIT} s: figures per user done, whole run ~$((users * ${TIME_LIMIT} / done)) s"
  fi
  awk -v label="$label" -v k="$k" -v n="$per" -v all="$users" -v wall="$(echo "$end - $start" | bc)" \
    -v cpu="$cpu" -v rss="$rss" -v loop="${loop_s[$k]}" -v ok="$done" -v skip="$skipped" \
    -v status="$status" -v note="$note" 'BEGIN {
    printf "%-11s K=%-2d %6.2f s  %7.0f users/s  CPU %.3f ms/user  beyond curl loop %.3f ms/user  peak %.1f MB  (exit %d, %d done, %d skipped)%s\n",
      label, k, wall, n / wall, 1000 * cpu / n, 1000 * (wall - loop * n / all) / n, rss / 1024, status, ok, skip, note
  }'
}

run_harvest "$first_harvest" "$first_k" "first run"
[ "${FIRST_ONLY:-0}" = 1 ] && exit 0
for k in "${ks[@]}"; do run_harvest "$harvest" "$k" "replace"; done
