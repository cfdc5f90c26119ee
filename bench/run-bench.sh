#!/usr/bin/env bash
# run-bench.sh: the end-to-end benchmark of the asynchronous pipeline.
#
#   bench/run-bench.sh [--build-dir DIR] [--seconds S] [--runs R] [--smoke]
#
# Runs the job (submit returns an id, queue places, one Progress per step,
# Finished; 5 pool threads; steps do no work) on the library server, on the
# library server with its relays' non-waiting delivery (lib-async), and on
# the two bare omniORB baselines (two-way and oneway callbacks), server and
# client in separate processes on 127.0.0.1, for steps {0, 10} x clients
# {1, 8, 32}, interleaved (library, two-way, oneway, library, ...), S measured
# seconds per cell (default 3), R rounds (default 1; medians are printed);
# then a synchronous ping through the library's server interceptor against a
# bare ping, the time a fresh library server takes until 8 clients each have
# a first job finished, and the server memory kept per finished job (growth
# of the server's resident set over many jobs on one object, divided by
# their count); and the client library's watch: an AsyncClient with it
# against one without, same process, in turns (KroBenchWatch), steps 0 and
# 10, 8 jobs in flight, as on/off ratios of ops/s with the watch's request
# count. --smoke: one second per cell and a reduced matrix, for CI.
#
# Prints one table. Ends non-zero when a cell failed or printed no sane
# numbers (never because of speed).
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=build
SECONDS_PER_CELL=3
ROUNDS=1
SMOKE=false
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) BUILD_DIR=$2; shift 2 ;;
    --seconds) SECONDS_PER_CELL=$2; shift 2 ;;
    --runs) ROUNDS=$2; shift 2 ;;
    --smoke) SMOKE=true; shift ;;
    *) echo "usage: $0 [--build-dir DIR] [--seconds S] [--runs R] [--smoke]" >&2; exit 2 ;;
  esac
done

BIN=$BUILD_DIR/bench
STEPS=(0 10)
CLIENTS=(1 8 32)
KEPT_OPS=20000
WARMUP=0.5
if $SMOKE; then
  SECONDS_PER_CELL=1
  ROUNDS=1
  STEPS=(0 10)
  CLIENTS=(8)
  KEPT_OPS=2000
  WARMUP=0.2
fi
ENDPOINT=(-ORBendPoint giop:tcp:127.0.0.1:)
POOL_THREADS=5
# As a server under a long queue that moves fast should: waiting jobs hear
# their latest place at most every 10 ms, not on every move of the queue.
# KRO_BENCH_LIB_SETTINGS replaces this (empty: the pool's defaults).
LIB_SETTINGS=${KRO_BENCH_LIB_SETTINGS-"--place-report-ms 10"}

WORK=$(mktemp -d)
SERVER_PIDS=()
cleanup() {
  local pid
  for pid in "${SERVER_PIDS[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
  rm -rf "$WORK"
}
trap cleanup EXIT

# start_server lib|libasync|bare NAME: starts a server, waits (at most 10 s) for its
# IOR file, and sets SERVER_PID and SERVER_IOR.
start_server() {
  local kind=$1 name=$2
  SERVER_IOR=$WORK/$name.ior
  rm -f "$SERVER_IOR"
  if [ "$kind" = lib ] || [ "$kind" = libasync ]; then
    local mode=()
    if [ "$kind" = libasync ]; then mode=(--non-waiting-relays); fi
    # shellcheck disable=SC2206  # the library servers' settings, word-split on purpose
    local settings=($LIB_SETTINGS)
    "$BIN/KroBenchLibServer" --ior-file "$SERVER_IOR" --pool-threads $POOL_THREADS "${mode[@]}" "${settings[@]}" "${ENDPOINT[@]}" \
      >"$WORK/$name.out" 2>"$WORK/$name.err" &
  else
    "$BIN/KroBenchBareServer" --ior-file "$SERVER_IOR" --pool-threads $POOL_THREADS "${ENDPOINT[@]}" \
      >"$WORK/$name.out" 2>"$WORK/$name.err" &
  fi
  SERVER_PID=$!
  SERVER_PIDS+=("$SERVER_PID")
  local tries=0
  # The IOR file is written atomically once the server is ready.
  until [ -s "$SERVER_IOR" ]; do
    tries=$((tries + 1))
    if [ $tries -gt 200 ] || ! kill -0 "$SERVER_PID" 2>/dev/null; then
      echo "bench: $name did not start" >&2; cat "$WORK/$name.err" >&2; exit 1
    fi
    sleep 0.05
  done
}

# stop_server PID: SIGTERM, then SIGKILL if it has not ended within 5 s.
stop_server() {
  local pid=$1 tries=0
  kill -TERM "$pid" 2>/dev/null || true
  while kill -0 "$pid" 2>/dev/null && [ $tries -lt 100 ]; do tries=$((tries + 1)); sleep 0.05; done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

# client IOR PID ARGS...: runs the client (bounded), appends its RESULT line
# to the results file (with target=$LABEL instead of target=lib when LABEL is set).
client() {
  local ior=$1 pid=$2; shift 2
  local label=${LABEL:-lib}
  local out
  if ! out=$(timeout 300 "$BIN/KroBenchClient" --ior-file "$ior" --server-pid "$pid" "$@" "${ENDPOINT[@]}" 2>&1); then
    echo "bench: client failed: $*" >&2; echo "$out" >&2
    FAILED=1
  fi
  echo "$out" | grep '^RESULT' | sed "s/ target=lib / target=$label /" >>"$WORK/results" || true
}

FAILED=0
: >"$WORK/results"
start_server lib lib; LIB_PID=$SERVER_PID; LIB_IOR=$SERVER_IOR
start_server libasync libasync; ASYNC_PID=$SERVER_PID; ASYNC_IOR=$SERVER_IOR
start_server bare bare; BARE_PID=$SERVER_PID; BARE_IOR=$SERVER_IOR

# The library's pool grows one thread at a time: load until it has all of them.
for ior in "$LIB_IOR" "$ASYNC_IOR"; do
  timeout 60 "$BIN/KroBenchClient" --ior-file "$ior" --target lib --clients 8 --steps 10 \
    --warmup 0.2 --pool-threads $POOL_THREADS --seconds 0.2 "${ENDPOINT[@]}" >/dev/null 2>&1 || true
done

for round in $(seq "$ROUNDS"); do
  for steps in "${STEPS[@]}"; do
    for clients in "${CLIENTS[@]}"; do
      for target in lib libasync twoway oneway; do
        case $target in
          lib) ior=$LIB_IOR pid=$LIB_PID ;;
          libasync) ior=$ASYNC_IOR pid=$ASYNC_PID ;;
          *) ior=$BARE_IOR pid=$BARE_PID ;;
        esac
        LABEL=$target client "$ior" "$pid" --target "${target/libasync/lib}" --clients "$clients" \
          --steps "$steps" --warmup $WARMUP --seconds "$SECONDS_PER_CELL"
      done
    done
  done
  client "$LIB_IOR" "$LIB_PID" --target lib --ping --warmup $WARMUP --seconds "$SECONDS_PER_CELL"
  client "$BARE_IOR" "$BARE_PID" --target twoway --ping --warmup $WARMUP --seconds "$SECONDS_PER_CELL"
done
# The client's watch: on and off in turns, 1 s each, medians.
: >"$WORK/watch"
if [ -x "$BIN/KroBenchWatch" ]; then
  for steps in "${STEPS[@]}"; do
    if ! timeout 300 "$BIN/KroBenchWatch" "$LIB_IOR" --steps "$steps" --window 8 --seconds 1 \
         --rounds "$($SMOKE && echo 1 || echo $((ROUNDS * 5)))" "${ENDPOINT[@]}" >>"$WORK/watch" 2>&1; then
      echo "bench: the watch's measurement failed (steps $steps)" >&2; cat "$WORK/watch" >&2
      FAILED=1
    fi
  done
fi
stop_server "$LIB_PID"
stop_server "$ASYNC_PID"
stop_server "$BARE_PID"

# A fresh library server: 8 clients, each its first job.
start_server lib fresh
client "$SERVER_IOR" "$SERVER_PID" --target lib --clients 8 --steps 0 --first-ops
stop_server "$SERVER_PID"

# Memory kept per finished job, on a server of its own.
start_server lib kept
client "$SERVER_IOR" "$SERVER_PID" --target lib --steps 0 --kept-ops $KEPT_OPS
stop_server "$SERVER_PID"

echo "KroServer benchmark: $SECONDS_PER_CELL s per cell, $ROUNDS round(s) (medians), $(nproc) CPUs$($SMOKE && echo ', smoke')"
echo "library servers: --pool-threads $POOL_THREADS $LIB_SETTINGS; bare servers: --pool-threads $POOL_THREADS"
awk -v failed=$FAILED -v watchFile="$WORK/watch" '
  function field(name,   i, kv) {
    for (i = 2; i <= NF; ++i) { split($i, kv, "="); if (kv[1] == name) return kv[2] }
    return ""
  }
  function median(key,   n, i, j, v, t) {
    n = count[key]; if (n == 0) return -1
    for (i = 1; i <= n; ++i) v[i] = values[key, i]
    for (i = 2; i <= n; ++i) { t = v[i]; for (j = i - 1; j >= 1 && v[j] > t; --j) v[j + 1] = v[j]; v[j + 1] = t }
    return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
  }
  function add(key, value) { values[key, ++count[key]] = value }
  function ratio(a, b) { return (a > 0 && b > 0) ? sprintf("%.2f", a / b) : "-" }
  function cell(row, target,   k) {
    k = row SUBSEP target
    if (count[k SUBSEP "ops"] == 0) return sprintf(" %8s %7s %7s %7s |", "-", "-", "-", "-")
    return sprintf(" %8.0f %7.0f %7.0f %7.1f |", median(k SUBSEP "ops"), median(k SUBSEP "p50"),
                   median(k SUBSEP "p99"), median(k SUBSEP "cpu"))
  }
  $1 == "RESULT" && field("ops_per_s") != "" {
    row = field("ping") == 1 ? "ping" : field("steps") "," field("clients")
    target = field("ping") == 1 && field("target") != "lib" ? "twoway" : field("target")
    if (!(row in seen)) { seen[row] = 1; order[++rows] = row }
    k = row SUBSEP target
    add(k SUBSEP "ops", field("ops_per_s")); add(k SUBSEP "p50", field("p50_us"))
    add(k SUBSEP "p99", field("p99_us")); add(k SUBSEP "cpu", field("cpu_us_per_op"))
    if (field("ops") + 0 <= 0 || field("errors") + 0 != 0 || field("p50_us") + 0 <= 0 || field("cpu_us_per_op") + 0 <= 0) {
      insane = insane " " row "/" target
    }
  }
  $1 == "RESULT" && field("first_ops_ms") != "" { first = field("first_ops_ms") }
  $1 == "RESULT" && field("bytes_per_op") != "" { kept = field("bytes_per_op"); keptOps = field("kept_ops") }
  END {
    printf "| %-8s | %8s %7s %7s %7s | %8s %7s %7s %7s | %8s %7s %7s %7s | %8s %7s %7s %7s | %-15s | %-15s | %-17s | %-9s |\n",
           "steps,N", "lib op/s", "p50 us", "p99 us", "cpu us", "lib-async", "p50", "p99", "cpu",
           "2way", "p50", "p99", "cpu", "1way", "p50", "p99", "cpu",
           "lib/2way op,cpu", "lib/1way op,cpu", "async/1way op,cpu", "lib N/N8"
    for (r = 1; r <= rows; ++r) {
      row = order[r]
      lib = row SUBSEP "lib"; async = row SUBSEP "libasync"; two = row SUBSEP "twoway"; one = row SUBSEP "oneway"
      split(row, rc, ",")
      n8 = rc[1] ",8" SUBSEP "lib"
      printf "| %-8s |%s%s%s%s %-15s | %-15s | %-17s | %-9s |\n", row, cell(row, "lib"), cell(row, "libasync"),
             cell(row, "twoway"), cell(row, "oneway"),
             ratio(median(lib SUBSEP "ops"), median(two SUBSEP "ops")) " " ratio(median(lib SUBSEP "cpu"), median(two SUBSEP "cpu")),
             ratio(median(lib SUBSEP "ops"), median(one SUBSEP "ops")) " " ratio(median(lib SUBSEP "cpu"), median(one SUBSEP "cpu")),
             ratio(median(async SUBSEP "ops"), median(one SUBSEP "ops")) " " ratio(median(async SUBSEP "cpu"), median(one SUBSEP "cpu")),
             row == "ping" ? "-" : ratio(median(lib SUBSEP "ops"), median(n8 SUBSEP "ops"))
    }
    print "ping: synchronous request on a server object (library, through its server interceptor) against bare omniORB (2way columns); 1 client"
    printf "fresh library server: %s ms until 8 clients each had a first job finished (server objects created first)\n", first == "" ? "-" : first
    printf "kept per finished job: %s bytes (server resident-set growth over %s jobs on one object / count)\n", kept == "" ? "-" : kept, keptOps
    while ((getline line < watchFile) > 0) {
      nw = split(line, w, " ")
      if (nw < 2 || w[1] != "RESULT" || w[2] != "watch") continue
      for (i = 3; i <= nw; ++i) { split(w[i], kv, "="); wv[kv[1]] = kv[2] }
      printf "client watch (AsyncClient, steps %s, %s jobs in flight): on %s op/s, off %s op/s, on/off %s, watch requests %s\n",
             wv["steps"], wv["window"], wv["on_ops_per_s"], wv["off_ops_per_s"], wv["on_off"], wv["watch_requests"]
    }
    if (insane != "") print "bench: cells without sane numbers:" insane > "/dev/stderr"
    if (rows == 0 || first + 0 <= 0 || kept == "") print "bench: a measurement is missing" > "/dev/stderr"
    exit (failed || insane != "" || rows == 0 || first + 0 <= 0 || kept == "") ? 1 : 0
  }' "$WORK/results"
