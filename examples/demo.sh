#!/usr/bin/env bash
# demo.sh BUILD_DIR: the synchronous example from end to end.
#
# Starts KroExampleSyncServer on 127.0.0.1 in the background, waits for its
# factory's IOR, runs KroExampleSyncClient against it, stops the server
# with SIGTERM and shows both sides. Exits with the client's status.
# Every wait has a deadline; the server is reaped on every path.
set -euo pipefail

if [ $# -ne 1 ] || [ ! -d "$1" ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
server_bin=$build/examples/KroExampleSyncServer
client_bin=$build/examples/KroExampleSyncClient
for binary in "$server_bin" "$client_bin"; do
  [ -x "$binary" ] || { echo "demo: $binary is not built" >&2; exit 2; }
done

START_SECONDS=20   # for the server to publish its IOR
CLIENT_SECONDS=60  # for the whole client session
STOP_SECONDS=10    # for the server to end after SIGTERM

work=$(mktemp -d "${TMPDIR:-/tmp}/kro-demo-XXXXXX")
ior_file=$work/server.ior
server_log=$work/server.log
server_pid=

# Ends the server (SIGTERM, then SIGKILL at the deadline) and reaps it;
# returns its exit status.
stop_server() {
  [ -n "$server_pid" ] || return 0
  kill -TERM "$server_pid" 2>/dev/null || true
  sleep "$STOP_SECONDS" &   # the deadline
  local deadline=$!
  local finished= status=0
  wait -n -p finished "$server_pid" "$deadline" || status=$?
  if [ "$finished" != "$server_pid" ]; then
    kill -KILL "$server_pid" 2>/dev/null || true
    status=0
    wait "$server_pid" || status=$?
  fi
  kill "$deadline" 2>/dev/null || true
  wait "$deadline" 2>/dev/null || true
  server_pid=
  return "$status"
}

show_server_log() {
  echo "== Server log =="
  sed 's/^/  /' "$server_log" 2>/dev/null || true
}

cleanup() {
  stop_server >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "== Starting the example server on 127.0.0.1 =="
# The server prints its IOR on standard output once it is ready (and writes
# it to the IOR file before that); reading that line is the wait.
coproc SERVER { exec "$server_bin" --ior-file "$ior_file" --print-ior \
                  -ORBendPoint giop:tcp:127.0.0.1: </dev/null 2>"$server_log"; }
server_pid=$SERVER_PID
ior=
if ! read -r -t "$START_SECONDS" -u "${SERVER[0]}" ior || [ -z "$ior" ]; then
  echo "demo: the server published no IOR within ${START_SECONDS}s" >&2
  stop_server || true
  show_server_log
  exit 1
fi
echo "server: factory published in $ior_file (${ior:0:48}...)"

echo
echo "== Running the example client =="
client_status=0
timeout "$CLIENT_SECONDS" "$client_bin" --ior-file "$ior_file" \
  --token demo-user --new-token demo-user-renamed || client_status=$?

echo
echo "== Stopping the server (SIGTERM) =="
server_status=0
stop_server || server_status=$?
echo "server: exit status $server_status"
echo
show_server_log

echo
echo "== Client exit status: $client_status =="
exit "$client_status"
