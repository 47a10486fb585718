#!/usr/bin/env bash
# The whole job on this machine: installs what is missing, builds a release
# build, sets up a demo data directory, serves the free/busy texts of
# demo/freebusy (free/busy texts and one calendar of events) from a loopback
# HTTP server, adds a calendar profile for each
# demo user, runs busytime-harvest and shows what it wrote.
#
# The data directory (build/demo/data) is kept between runs: a second run
# points the profiles at the new server port and the harvest replaces the
# busy-time documents of the first run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-deps.sh

# One demo at a time: two runs would share the build and the data directory.
demo=$root/build/demo
mkdir -p "$demo"
exec 9>"$demo/.lock"
flock 9

build=build/release
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target busytime-harvest nsfutil loopback-http-server

nsfutil=("$root/$build/nsfutil")
harvest="$root/$build/busytime-harvest"
server="$root/$build/loopback-http-server"

data=$demo/data
ini=$data/notes.ini
if [ ! -f "$ini" ]; then
  echo "== Setting up the demo data directory $data"
  "${nsfutil[@]}" init "$data" --mail-server "Mail01/Demo"
fi
nsfutil+=(--ini "$ini")

echo "== Starting the loopback HTTP server for demo/freebusy"
port_file=$demo/server.port
rm -f "$port_file"
"$server" --root "$root/demo/freebusy" --port 0 --port-file "$port_file" >"$demo/server.log" 2>&1 9>&- &
server_pid=$!
stop_server() {
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
}
trap stop_server EXIT

for _ in $(seq 1 100); do
  [ -s "$port_file" ] && break
  kill -0 "$server_pid" 2>/dev/null || { echo "demo: the HTTP server did not start" >&2; exit 1; }
  sleep 0.1
done
[ -s "$port_file" ] || { echo "demo: the HTTP server did not report its port" >&2; exit 1; }
port=$(tr -d '[:space:]' <"$port_file")
base=http://127.0.0.1:$port

echo "== Calendar profiles (server on port $port)"
# address and free/busy file; erin publishes a calendar of recurring events
# (open-ended rules, so its busy times always fall in the run's window); the
# last user's file does not exist (404).
profiles=(
  "alice.busy@demo.example busy-week.ifb"
  "bob.free@demo.example empty-calendar.ifb"
  "carol.typed@demo.example fbtype-folded.ifb"
  "erin.calendar@demo.example team-calendar.ics"
  "dave.gone@demo.example dave-moved-away.ifb"
)
existing=$("${nsfutil[@]}" profile list | cut -f1)
for entry in "${profiles[@]}"; do
  read -r address file <<<"$entry"
  # The port changes from run to run, so a profile of an earlier run is
  # replaced to point at this run's server.
  if grep -qixF "$address" <<<"$existing"; then
    "${nsfutil[@]}" profile remove "$address" >/dev/null
  fi
  "${nsfutil[@]}" profile add "$address" "$base/$file" >/dev/null
done
"${nsfutil[@]}" profile list

echo
echo "== Running busytime-harvest"
status=0
"$harvest" "=$ini" || status=$?
if [ "$status" -ne 0 ]; then
  echo "demo: busytime-harvest ended with exit code $status" >&2
  exit 1
fi
echo "busytime-harvest exit code: $status"

echo
echo "== nsfutil busytime list (NoteId, \$Name, entries of EventList and EventListExt, LastModTime)"
"${nsfutil[@]}" busytime list
echo
echo "== nsfutil busytime show alice.busy@demo.example"
"${nsfutil[@]}" busytime show alice.busy@demo.example
echo
echo "== nsfutil busytime show erin.calendar@demo.example (recurring events of the next 60 days)"
"${nsfutil[@]}" busytime show erin.calendar@demo.example
echo
echo "Demo completed. Data directory: $data"
