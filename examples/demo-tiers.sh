#!/usr/bin/env bash
# demo-tiers.sh BUILD_DIR: the two-tier example on one machine.
#
# Starts the CORBA Naming Service (omniNames) on a free port of 127.0.0.1
# with its data in a temporary folder, two back ends (B1, B2) that bind
# their factories as KroTiers/BackEnds/B1 and B2, and the front end, which
# builds its registry of dependent servers from those bindings (and keeps
# it in step with them) and binds itself as KroTiers/FrontEnds/F1. Then
# two clients run at once (each
# operation holds a back end of its own) and a third after them. Shows what
# each client saw and every server's log, and stops every process on
# every path (SIGTERM, SIGKILL at a deadline). Exits 0 when every client
# succeeded. Every wait has a deadline.
set -euo pipefail

if [ $# -ne 1 ] || [ ! -d "$1" ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
tiers=$build/examples/tiers
back_end=$tiers/KroTiersBackEnd
front_end=$tiers/KroTiersFrontEnd
client=$tiers/KroTiersClient
names_server=$(command -v omniNames || echo /usr/bin/omniNames)
for binary in "$back_end" "$front_end" "$client" "$names_server"; do
  [ -x "$binary" ] || { echo "demo-tiers: $binary is missing" >&2; exit 2; }
done

START_SECONDS=20   # for a server to be ready
CLIENT_SECONDS=90  # for a whole client session
STOP_SECONDS=10    # for a server to end after SIGTERM
PORT_TRIES=5       # ports tried for the naming service

work=$(mktemp -d "${TMPDIR:-/tmp}/kro-tiers-XXXXXX")
names=()   # every process started, in order
pids=()    # their process ids
drains=()  # the readers that copy their logs

# Ends process $1 (SIGTERM, then SIGKILL at the deadline) and reaps it;
# returns its exit status.
stop_process() {
  local pid=$1
  kill -TERM "$pid" 2>/dev/null || true
  sleep "$STOP_SECONDS" &   # the deadline
  local deadline=$!
  local finished= status=0
  wait -n -p finished "$pid" "$deadline" || status=$?
  if [ "$finished" != "$pid" ]; then
    kill -KILL "$pid" 2>/dev/null || true
    status=0
    wait "$pid" || status=$?
  fi
  kill "$deadline" 2>/dev/null || true
  wait "$deadline" 2>/dev/null || true
  return "$status"
}

# Stops every process still running, the last started first.
stop_all() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    [ -n "${pids[i]}" ] || continue
    local status=0
    stop_process "${pids[i]}" || status=$?
    echo "${names[i]}: exit status $status"
    pids[i]=
  done
  for pid in "${drains[@]}"; do wait "$pid" 2>/dev/null || true; done
  drains=()
}

cleanup() {
  stop_all >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# Shows the log (standard error) and the printed exceptions (standard
# output) of process $1.
show_logs() {
  echo "== $1 =="
  sed 's/^/  /' "$work/$1.log" 2>/dev/null || true
  if [ -s "$work/$1.out" ]; then
    echo "  -- printed --"
    sed 's/^/  /' "$work/$1.out"
  fi
}

# start NAME READY_TEXT COMMAND...: runs COMMAND in the background, its
# standard output in $work/NAME.out, its standard error in $work/NAME.log,
# and waits until the log shows READY_TEXT. Fails when the process ends or
# START_SECONDS pass first.
start() {
  local name=$1 ready=$2
  shift 2
  local fifo=$work/$name.fifo log=$work/$name.log
  rm -f "$fifo" "$log"
  mkfifo "$fifo"
  "$@" </dev/null >"$work/$name.out" 2>"$fifo" &
  names+=("$name")
  pids+=($!)
  local fd line found=
  exec {fd}<"$fifo"
  local deadline=$((SECONDS + START_SECONDS))
  while [ "$SECONDS" -lt "$deadline" ] && IFS= read -r -t "$((deadline - SECONDS))" -u "$fd" line; do
    printf '%s\n' "$line" >>"$log"
    case $line in *"$ready"*) found=1; break ;; esac
  done
  # The rest of the log goes on to the file, so the process never blocks on it.
  cat <&"$fd" >>"$log" &
  drains+=($!)
  exec {fd}<&-
  if [ -z "$found" ]; then
    echo "demo-tiers: $name was not ready within ${START_SECONDS}s" >&2
    return 1
  fi
}

echo "== Naming service: omniNames on 127.0.0.1, data in $work/names =="
port=
for ((try = 0; try < PORT_TRIES; try++)); do
  candidate=$((20000 + RANDOM % 40000))
  # Someone answers there already: another port.
  if (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then continue; fi
  rm -rf "$work/names" && mkdir "$work/names"
  if start naming-service "Root context is" "$names_server" -start "$candidate" -always \
       -datadir "$work/names" -ORBendPoint "giop:tcp:127.0.0.1:$candidate"; then
    port=$candidate
    break
  fi
  stop_all >/dev/null 2>&1 || true
  names=() pids=()
done
[ -n "$port" ] || { echo "demo-tiers: omniNames did not start" >&2; exit 1; }
names_ref=(-ORBInitRef "NameService=corbaloc::127.0.0.1:$port/NameService")
echo "naming service: corbaloc::127.0.0.1:$port/NameService"

echo
echo "== Back ends B1 and B2 =="
for name in B1 B2; do
  start "back-end-$name" "KroTiersBackEnd ready" "$back_end" --name "$name" \
    -ORBendPoint giop:tcp:127.0.0.1: "${names_ref[@]}"
  echo "back end $name: factory bound as KroTiers/BackEnds/$name.factory"
done

echo
echo "== Front end =="
start front-end "KroTiersFrontEnd ready" "$front_end" --name F1 -ORBendPoint giop:tcp:127.0.0.1: "${names_ref[@]}"
echo "front end: factory bound as KroTiers/FrontEnds/F1.factory; its registry:"
grep -o 'back end "[^"]*" in the registry' "$work/front-end.log" | sed 's/^/  /'
if command -v nameclt >/dev/null; then
  echo "nameclt list KroTiers/BackEnds:"
  timeout 10 nameclt "${names_ref[@]}" list KroTiers/BackEnds 2>&1 | sed 's/^/  /' || true
fi

# run_client USER STEPS: one client session, its output in $work/client-USER.txt.
run_client() {
  timeout "$CLIENT_SECONDS" "$client" --token "$1" --steps "$2" \
    -ORBendPoint giop:tcp:127.0.0.1: "${names_ref[@]}" >"$work/client-$1.txt" 2>&1
}

# show_client USER STATUS
show_client() {
  echo "-- $1 (exit status $2) --"
  sed 's/^/  /' "$work/client-$1.txt"
}

echo
echo "== Two clients at once: alice and bob =="
status_alice=0 status_bob=0
run_client alice 6 &
alice_pid=$!
run_client bob 6 &
bob_pid=$!
wait "$alice_pid" || status_alice=$?
wait "$bob_pid" || status_bob=$?
show_client alice "$status_alice"
show_client bob "$status_bob"

echo
echo "== Then carol, on a back end freed again =="
status_carol=0
run_client carol 3 || status_carol=$?
show_client carol "$status_carol"

echo
echo "== Stopping the front end, the back ends and the naming service (SIGTERM) =="
stop_all
echo
for name in "${names[@]}"; do show_logs "$name"; done

overall=0
for status in "$status_alice" "$status_bob" "$status_carol"; do
  [ "$status" -eq 0 ] || overall=1
done
echo
echo "== Clients' exit statuses: alice $status_alice, bob $status_bob, carol $status_carol =="
exit "$overall"
