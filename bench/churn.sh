#!/usr/bin/env bash
# churn.sh: client churn against one server. Short client processes (the
# smallest example client: three counts, one cancelled while it waits, one
# while it runs) run one after another for N minutes, P at a time, each
# taking its callbacks on a fixed port from a small set that is used over
# and over: every new client gets the port of one that has just ended, with
# the server's stale connection to it. Prints the operations started and
# ended, the clients that took long, and the server's connections left in
# CLOSE-WAIT; ends non-zero when an operation did not end or a client failed.
#
#   bench/churn.sh [--build-dir DIR] [--minutes N] [--parallel P] [--ports-each K]
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=build
MINUTES=10
PARALLEL=4      # clients at a time
PORTS_EACH=2    # callback ports each of them cycles through
SLOW_SECONDS=10 # a client this long waited for something
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) BUILD_DIR=$2; shift 2 ;;
    --minutes) MINUTES=$2; shift 2 ;;
    --parallel) PARALLEL=$2; shift 2 ;;
    --ports-each) PORTS_EACH=$2; shift 2 ;;
    *) echo "usage: $0 [--build-dir DIR] [--minutes N] [--parallel P] [--ports-each K]" >&2; exit 2 ;;
  esac
done

SERVER=$BUILD_DIR/examples/smallest/KroSmallestServer
CLIENT=$BUILD_DIR/examples/smallest/KroSmallestClient
for program in "$SERVER" "$CLIENT"; do
  [ -x "$program" ] || { echo "churn: $program is not built" >&2; exit 2; }
done

WORK=$(mktemp -d)
SERVER_PID=
cleanup() {
  if [ -n "$SERVER_PID" ]; then
    kill "$SERVER_PID" 2>/dev/null || true
    wait "$SERVER_PID" 2>/dev/null || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT

# Ports of 127.0.0.1 nobody listens on now, for the clients' callbacks.
taken=$(ss -Htan | awk '{print $4}' | sed 's/.*://' | sort -u)
PORTS=()
port=$((20000 + RANDOM % 20000))
while [ ${#PORTS[@]} -lt $((PARALLEL * PORTS_EACH)) ]; do
  port=$((port + 1))
  grep -qx "$port" <<<"$taken" || PORTS+=("$port")
done

"$SERVER" --ior-file "$WORK/server.ior" --idle-seconds 3600 -ORBendPoint giop:tcp:127.0.0.1: \
  >"$WORK/server.out" 2>"$WORK/server.err" &
SERVER_PID=$!
for _ in $(seq 200); do  # at most 20 s for the server to publish its IOR
  [ -s "$WORK/server.ior" ] && break
  kill -0 "$SERVER_PID" 2>/dev/null || { cat "$WORK/server.err" >&2; exit 1; }
  sleep 0.1
done
[ -s "$WORK/server.ior" ] || { echo "churn: no IOR from the server" >&2; exit 1; }

END=$((SECONDS + MINUTES * 60))
# One line per client: port, exit status, milliseconds, counts that ended.
worker() {  # worker INDEX
  local index=$1 turn=0 port out status started ms ended
  while [ $SECONDS -lt $END ]; do
    port=${PORTS[$((index * PORTS_EACH + turn % PORTS_EACH))]}
    turn=$((turn + 1))
    out=$WORK/client$index.out
    started=$(date +%s%N)
    status=0
    timeout 120 "$CLIENT" "$WORK/server.ior" -ORBendPoint "giop:tcp:127.0.0.1:$port" >"$out" 2>&1 || status=$?
    ms=$((($(date +%s%N) - started) / 1000000))
    ended=$(grep -aEc '^count [0-9]+  (Finished|Cancelled|Failed)$' "$out" || true)
    echo "$port $status $ms $ended" >>"$WORK/clients$index"
    if [ "$status" -ne 0 ] || [ "$ended" -ne 3 ]; then
      { echo "== client on port $port: status $status, $ms ms, $ended of 3 ended"; grep -av '\]' "$out" | tail -5; } \
        >>"$WORK/problems"
    fi
  done
}
echo "churn: $MINUTES min, $PARALLEL clients at a time, callback ports ${PORTS[*]}, server pid $SERVER_PID"
for index in $(seq 0 $((PARALLEL - 1))); do
  worker "$index" &
done
wait $(jobs -p | grep -vx "$SERVER_PID")

cat "$WORK"/clients* >"$WORK/all"
clients=$(wc -l <"$WORK/all")
read -r ended failed slow longest < <(awk -v slow=$((SLOW_SECONDS * 1000)) '
  { ended += $4; if ($2 != 0) failed++; if ($3 > slow) slow_++; if ($3 > longest) longest = $3 }
  END { printf "%d %d %d %.1f\n", ended, failed, slow_, longest / 1000 }' "$WORK/all")
started=$((clients * 3))
echo "churn: $clients clients, operations started $started, ended $ended, not ended $((started - ended))"
echo "churn: clients that failed $failed, took over $SLOW_SECONDS s $slow, longest $longest s"
echo "churn: server's connections in CLOSE-WAIT: $(ss -Htanp state close-wait | grep -c "pid=$SERVER_PID," || true)" \
     "(all of the machine's: $(ss -tan state close-wait | wc -l) lines of 'ss -tan state close-wait')"
if [ -s "$WORK/problems" ]; then
  head -n 40 "$WORK/problems"
fi
if ! kill -0 "$SERVER_PID" 2>/dev/null; then
  echo "churn: FAILED, the server ended"; exit 1
fi
if [ "$ended" -ne "$started" ] || [ "$failed" -ne 0 ]; then
  echo "churn: FAILED"; exit 1
fi
echo "churn: passed"
