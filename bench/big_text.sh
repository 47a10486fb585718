#!/usr/bin/env bash
# A big free/busy text, downloaded and read as the run reads it, against a
# bare libcurl download of the same text from a loopback server.
#
#   bench/big_text.sh [MIB] [REPEAT]      (default 12 MiB, 10 times)
#
# Prints: the bare download (bench/curl_loop.cc), the harvest's client only
# downloading (fetch_read download), downloading and reading (fetch_read
# read), each as time per text, and the peak memory of one read.
# Environment: BUILD_DIR (default build/release), WORK_DIR (default
# build/bench/big-MIB).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. bench/loopback_server.sh
mib=${1:-12}
repeat=${2:-10}
[ -x /usr/bin/time ] || { echo "big_text: /usr/bin/time is missing (apt-get install time)" >&2; exit 1; }

build=${BUILD_DIR:-build/release}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHARVEST_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target loopback-http-server curl_loop fetch_read >/dev/null
work=${WORK_DIR:-$root/build/bench/big-$mib}
rm -rf "$work"
mkdir -p "$work/texts"

# One period a line, as a calendar publishing years of meetings writes them.
awk -v size=$((mib * 1024 * 1024)) 'BEGIN {
  printf "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VFREEBUSY\r\n"
  written = 45
  for (i = 0; written < size - 40; i++) {
    d = int(i / 8); h = 8 + i % 8
    line = sprintf("FREEBUSY:%04d%02d%02dT%02d0000Z/%04d%02d%02dT%02d4500Z\r\n",
                   2000 + int(d / 336), int(d / 28) % 12 + 1, d % 28 + 1, h,
                   2000 + int(d / 336), int(d / 28) % 12 + 1, d % 28 + 1, h)
    printf "%s", line
    written += length(line)
  }
  printf "END:VFREEBUSY\r\nEND:VCALENDAR\r\n"
}' >"$work/texts/big.ifb"

start_loopback_server "$root/$build/loopback-http-server" "$work" "$work/texts"
url=$server_base/big.ifb
for _ in $(seq 1 "$repeat"); do echo "$url"; done >"$work/urls.txt"

echo "== a text of $(stat -c %s "$work/texts/big.ifb") bytes, $repeat times"
printf '%-26s %s\n' "curl loop:" "$("$root/$build/bench/curl_loop" "$work/urls.txt")"
fetch=$root/$build/bench/fetch_read
printf '%-26s %s\n' "harvest client, download:" "$("$fetch" "$url" "$repeat" download 2>&1 >/dev/null)"
printf '%-26s %s\n' "harvest client, read:" "$("$fetch" "$url" "$repeat" read 2>&1 >/dev/null)"
for mode in download read; do
  /usr/bin/time -f '%M' -o "$work/rss" "$fetch" "$url" 1 "$mode" >/dev/null 2>&1
  printf '%-26s %.1f MB\n' "peak memory, one $mode:" "$(echo "$(cat "$work/rss") / 1024" | bc -l)"
done
