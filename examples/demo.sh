#!/usr/bin/env bash
# demo.sh BUILD_DIR [async|sync|both] [--verbose|--quiet]: the examples from
# end to end, each as a server and a client process on 127.0.0.1. --verbose
# and --quiet go to the servers (every log line and omniORB's trace, or
# notices and worse only); their log lines carry the time of day.
#
# async (the default): KroExampleAsyncServer with a pool of two threads and
#   a short idle interval, and KroExampleAsyncClient, which runs six
#   computations on it, cancels, re-attaches and removes; the server then
#   ends by itself once it is idle.
# sync: KroExampleSyncServer and KroExampleSyncClient; the server is stopped
#   with SIGTERM.
#
# Each server prints its factory's IOR on standard output once it is ready;
# reading that line is the wait. Every wait has a deadline; each server is
# reaped on every path. Exits with the first failing client's status.
set -euo pipefail

usage() { echo "usage: $0 BUILD_DIR [async|sync|both] [--verbose|--quiet]" >&2; exit 2; }
[ $# -ge 1 ] && [ $# -le 3 ] && [ -d "$1" ] || usage
build=$(cd "$1" && pwd)
which=${2:-async}
case "$which" in async|sync|both) ;; *) usage ;; esac
log_level=()
case "${3:-}" in --verbose|--quiet) log_level=("$3") ;; "") ;; *) usage ;; esac

START_SECONDS=20   # for a server to publish its IOR
CLIENT_SECONDS=120 # for a whole client session
IDLE_SECONDS=2     # the asynchronous server's idle interval
STOP_SECONDS=20    # for a server to end (by itself, or after SIGTERM)
STATUS_PORT=${KRO_DEMO_STATUS_PORT:-0}  # the asynchronous server's status page (0: a free port)

work=$(mktemp -d "${TMPDIR:-/tmp}/kro-demo-XXXXXX")
server_pid=
printer_pid=

# Waits for the server's end, at most STOP_SECONDS, and reaps it. Returns
# 0 with the exit status in server_status, or 1 if it still runs.
await_server() {
  sleep "$STOP_SECONDS" &   # the deadline
  local deadline=$! finished=
  server_status=0
  wait -n -p finished "$server_pid" "$deadline" || server_status=$?
  kill "$deadline" 2>/dev/null || true
  wait "$deadline" 2>/dev/null || true
  if [ "$finished" = "$server_pid" ]; then
    server_pid=
    return 0
  fi
  return 1
}

# Ends the server (SIGTERM, then SIGKILL at the deadline) and reaps it.
stop_server() {
  [ -n "$server_pid" ] || return 0
  kill -TERM "$server_pid" 2>/dev/null || true
  if ! await_server; then
    kill -KILL "$server_pid" 2>/dev/null || true
    server_status=0
    wait "$server_pid" || server_status=$?
    server_pid=
  fi
}

# The server's standard output after the IOR, once it has ended.
show_server_output() {
  [ -n "$printer_pid" ] && { wait "$printer_pid" 2>/dev/null || true; printer_pid=; }
  echo "== Printed by the server (exceptions the library handled) =="
  sed 's/^/  /' "$work/printed" 2>/dev/null || true
  echo "== Server log =="
  sed 's/^/  /' "$work/server.log" 2>/dev/null || true
}

cleanup() {
  stop_server >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# start_server BINARY ARGS...: starts it on 127.0.0.1, waits for its IOR
# (kept in $work/server.ior) and keeps copying its further output to
# $work/printed.
start_server() {
  local binary=$1; shift
  : >"$work/printed"
  coproc SERVER { exec "$binary" --ior-file "$work/server.ior" --print-ior \
                    -ORBendPoint giop:tcp:127.0.0.1: ${log_level[@]+"${log_level[@]}"} "$@" \
                    </dev/null 2>"$work/server.log"; }
  server_pid=$SERVER_PID
  local ior=
  if ! read -r -t "$START_SECONDS" -u "${SERVER[0]}" ior || [ -z "$ior" ]; then
    echo "demo: the server published no IOR within ${START_SECONDS}s" >&2
    stop_server || true
    show_server_output
    return 1
  fi
  # A copy of the pipe that a background reader may use (bash keeps the
  # coprocess's own descriptors from subshells).
  local out
  exec {out}<&"${SERVER[0]}"
  cat <&"$out" >"$work/printed" &
  printer_pid=$!
  exec {out}<&-
  echo "server: factory published in $work/server.ior (${ior:0:48}...)"
}

for binary in "$build"/examples/KroExample{Async,Sync}{Server,Client}; do
  [ -x "$binary" ] || { echo "demo: $binary is not built" >&2; exit 2; }
done

demo_status=0

if [ "$which" != sync ]; then
  echo "== The asynchronous example: KroExampleAsyncServer on 127.0.0.1 (pool of 2 threads) =="
  start_server "$build/examples/KroExampleAsyncServer" --max-threads 2 --idle-seconds "$IDLE_SECONDS" \
    --status-port "$STATUS_PORT"
  # The endpoint logs its address once the server serves (tail ends with the server).
  status_url=
  read -r -t "$START_SECONDS" status_url < <(tail --pid="$server_pid" -n +1 -f "$work/server.log" \
    | grep --line-buffered -m1 -o 'status endpoint at http://[^ ]*') || true
  status_url=${status_url#status endpoint at }
  echo "status page: ${status_url:-(not started)} (metrics, health, operations; up while the server runs)"
  echo
  echo "== KroExampleAsyncClient: six computations, two at a time =="
  client_status=0
  timeout "$CLIENT_SECONDS" "$build/examples/KroExampleAsyncClient" --ior-file "$work/server.ior" \
    --token demo-user -ORBendPoint giop:tcp:127.0.0.1: || client_status=$?
  echo
  echo "== Waiting for the server to end by itself (idle for two checks, ${IDLE_SECONDS}s apart) =="
  if await_server; then
    echo "server: ended by its idle-shutdown task, exit status $server_status"
  else
    echo "server: still running after ${STOP_SECONDS}s; stopping it with SIGTERM"
    stop_server
    echo "server: exit status $server_status"
    [ "$client_status" -ne 0 ] || client_status=1  # the server should have ended by itself
  fi
  echo
  show_server_output
  echo
  echo "== Asynchronous client exit status: $client_status =="
  [ "$client_status" -eq 0 ] || demo_status=$client_status
fi

if [ "$which" != async ]; then
  [ "$which" = both ] && echo
  echo "== The synchronous example: KroExampleSyncServer on 127.0.0.1 =="
  start_server "$build/examples/KroExampleSyncServer"
  echo
  echo "== KroExampleSyncClient =="
  client_status=0
  timeout "$CLIENT_SECONDS" "$build/examples/KroExampleSyncClient" --ior-file "$work/server.ior" \
    --token demo-user --new-token demo-user-renamed || client_status=$?
  echo
  echo "== Stopping the server (SIGTERM) =="
  stop_server
  echo "server: exit status $server_status"
  echo
  show_server_output
  echo
  echo "== Synchronous client exit status: $client_status =="
  [ "$client_status" -eq 0 ] || [ "$demo_status" -ne 0 ] || demo_status=$client_status
fi

exit "$demo_status"
