# Sourced by the benchmark scripts: the loopback HTTP server they download from.

# start_loopback_server PROGRAM WORK TEXTS [OPTION ...]
# Starts PROGRAM (loopback-http-server) on a free port of 127.0.0.1 serving
# the files in TEXTS with the OPTIONs given, its log in WORK/server.log; stops
# it when the script exits. Sets server_base to "http://127.0.0.1:PORT", or
# exits when the server does not come up within ten seconds.
start_loopback_server() {
  local program=$1 work=$2 texts=$3
  shift 3
  local port_file=$work/server.port
  rm -f "$port_file"
  "$program" --root "$texts" --port 0 --port-file "$port_file" "$@" >"$work/server.log" 2>&1 &
  server_pid=$!
  trap 'kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true' EXIT
  for _ in $(seq 1 100); do
    [ -s "$port_file" ] && break
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ ! -s "$port_file" ]; then
    echo "$(basename "$0"): the HTTP server did not start (see $work/server.log)" >&2
    exit 1
  fi
  server_base=http://127.0.0.1:$(tr -d '[:space:]' <"$port_file")
}
