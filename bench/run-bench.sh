#!/usr/bin/env bash
# run-bench.sh: the end-to-end benchmark of the asynchronous pipeline.
#
#   bench/run-bench.sh [--build-dir DIR] [--seconds S] [--runs R] [--smoke] [--tsv FILE]
#                      [--impls "NAME..."] [--steps "S..."] [--clients "N..."] (spaces or commas)
#
# Runs the job (submit returns an id, queue places, one Progress per step,
# Finished; 5 pool threads; steps do no work) on each implementation in
# IMPLS below (the library server; the bare omniORB baselines with two-way
# and oneway callbacks; gRPC's callback API), server and client in separate
# processes on 127.0.0.1, for steps {0, 10} x clients {1, 8, 32},
# interleaved (each cell on every implementation in turn), S measured
# seconds per cell (default 3), R rounds (default 1; medians are printed);
# then a synchronous ping on the library (through its server interceptor),
# bare omniORB and gRPC, the time a fresh library server takes until 8
# clients each have a first job finished, and the server memory kept per
# finished job (growth of the server's resident set over many jobs on one
# object, divided by their count); and the client library's watch: an
# AsyncClient with it against one without, same process, in turns
# (KroBenchWatch), steps 0 and 10, 8 jobs in flight, as on/off ratios of
# ops/s with the watch's request count. --smoke: one second per cell, a
# reduced matrix and no gRPC, for CI. --tsv FILE: also writes every measured cell of
# every round to FILE, tab-separated, with the columns
# impl steps clients run ops_per_s p50_us p99_us cpu_us_per_op.
# --impls, --steps, --clients: only those implementations (names from IMPLS
# below), steps and client counts, and only the job cells (no ping, watch,
# fresh server or memory): to measure one change quickly.
#
# Prints one table. Ends non-zero when a cell failed or printed no sane
# numbers (never because of speed).
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=build
SECONDS_PER_CELL=3
ROUNDS=1
SMOKE=false
TSV=
ONLY_IMPLS=
ONLY_STEPS=
ONLY_CLIENTS=
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) BUILD_DIR=$2; shift 2 ;;
    --seconds) SECONDS_PER_CELL=$2; shift 2 ;;
    --runs) ROUNDS=$2; shift 2 ;;
    --smoke) SMOKE=true; shift ;;
    --tsv) TSV=$2; shift 2 ;;
    --impls) ONLY_IMPLS=${2//,/ }; shift 2 ;;
    --steps) ONLY_STEPS=${2//,/ }; shift 2 ;;
    --clients) ONLY_CLIENTS=${2//,/ }; shift 2 ;;
    *) echo "usage: $0 [--build-dir DIR] [--seconds S] [--runs R] [--smoke] [--tsv FILE]" \
            "[--impls \"NAME...\"] [--steps \"S...\"] [--clients \"N...\"]" >&2; exit 2 ;;
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
CELLS_ONLY=false
# shellcheck disable=SC2206  # lists given as one word each, split on purpose
if [ -n "$ONLY_STEPS" ]; then STEPS=($ONLY_STEPS); CELLS_ONLY=true; fi
# shellcheck disable=SC2206
if [ -n "$ONLY_CLIENTS" ]; then CLIENTS=($ONLY_CLIENTS); CELLS_ONLY=true; fi
if [ -n "$ONLY_IMPLS" ]; then CELLS_ONLY=true; fi
ENDPOINT=(-ORBendPoint giop:tcp:127.0.0.1:)
POOL_THREADS=5
# As a server under a long queue that moves fast should: waiting jobs hear
# their latest place at most every 10 ms, not on every move of the queue.
# KRO_BENCH_LIB_SETTINGS replaces this (empty: the pool's defaults).
LIB_SETTINGS=${KRO_BENCH_LIB_SETTINGS-"--place-report-ms 10"}

WORK=$(mktemp -d)

# The implementations, one a line, in the order each cell runs them: name,
# server (lib: KroBenchLibServer, bare: KroBenchBareServer, grpc:
# KroBenchGrpcServer), the client's target (KroBenchClient --target; grpc:
# KroBenchGrpcClient), then the server's own options. Each has a server of
# its own. A new mode of the library server is one more line here.
IMPLS=(
  "lib            lib   lib     $LIB_SETTINGS"
  "lib-pipelined  lib   lib     $LIB_SETTINGS --pipelined-relays"
  "lib-journal    lib   lib     $LIB_SETTINGS --journal-dir $WORK"
  "lib-by-reference lib lib     $LIB_SETTINGS --relays-by-reference"
  "lib-relay-itself lib lib     $LIB_SETTINGS --library-alone"
  "bare-twoway    bare  twoway"
  "bare-oneway    bare  oneway"
  "grpc-callback  grpc  grpc"
)
# Those that also run the synchronous ping (oneway's would repeat two-way's).
PING_IMPLS=(lib bare-twoway grpc-callback)
# The printed ratios, "A/B": ops/s and CPU per operation of A against B,
# shown when both ran.
RATIOS=(lib/bare-twoway lib-by-reference/bare-twoway lib-relay-itself/bare-twoway lib-journal/lib lib/bare-oneway lib/grpc-callback lib-pipelined/bare-oneway lib-pipelined/grpc-callback)

SERVER_PIDS=()
cleanup() {
  local pid
  for pid in "${SERVER_PIDS[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
  rm -rf "$WORK"
}
trap cleanup EXIT

declare -A KIND TARGET PID ADDRESS  # per started server, by name

# start_server NAME KIND TARGET [OPTIONS...]: starts a server, waits (at
# most 10 s) for its IOR or address file, and records it under NAME.
start_server() {
  local name=$1 kind=$2 target=$3; shift 3
  local file=$WORK/$name.address
  rm -f "$file"
  case $kind in
    lib) "$BIN/KroBenchLibServer" --ior-file "$file" --pool-threads $POOL_THREADS "$@" "${ENDPOINT[@]}" \
           >"$WORK/$name.out" 2>"$WORK/$name.err" & ;;
    bare) "$BIN/KroBenchBareServer" --ior-file "$file" --pool-threads $POOL_THREADS "$@" "${ENDPOINT[@]}" \
            >"$WORK/$name.out" 2>"$WORK/$name.err" & ;;
    grpc) "$BIN/grpc/KroBenchGrpcServer" --address-file "$file" --pool-threads $POOL_THREADS "$@" \
            >"$WORK/$name.out" 2>"$WORK/$name.err" & ;;
    *) echo "bench: $name: no server kind $kind" >&2; exit 2 ;;
  esac
  local pid=$!
  SERVER_PIDS+=("$pid")
  KIND[$name]=$kind TARGET[$name]=$target PID[$name]=$pid ADDRESS[$name]=$file
  local tries=0
  # The file is written atomically once the server is ready.
  until [ -s "$file" ]; do
    tries=$((tries + 1))
    if [ $tries -gt 200 ] || ! kill -0 "$pid" 2>/dev/null; then
      echo "bench: $name did not start" >&2; cat "$WORK/$name.err" >&2; exit 1
    fi
    sleep 0.05
  done
}

# stop_server NAME: SIGTERM, then SIGKILL if it has not ended within 5 s.
stop_server() {
  local pid=${PID[$1]} tries=0
  kill -TERM "$pid" 2>/dev/null || true
  while kill -0 "$pid" 2>/dev/null && [ $tries -lt 100 ]; do tries=$((tries + 1)); sleep 0.05; done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

# client NAME ROUND ARGS...: runs the client of server NAME (bounded) and
# appends its RESULT line, tagged impl=NAME run=ROUND, to the results file.
client() {
  local name=$1 round=$2; shift 2
  local command out
  if [ "${KIND[$name]}" = grpc ]; then
    command=("$BIN/grpc/KroBenchGrpcClient" --address-file "${ADDRESS[$name]}" --server-pid "${PID[$name]}" "$@")
  else
    command=("$BIN/KroBenchClient" --ior-file "${ADDRESS[$name]}" --server-pid "${PID[$name]}"
             --target "${TARGET[$name]}" "$@" "${ENDPOINT[@]}")
  fi
  if ! out=$(timeout 300 "${command[@]}" 2>&1); then
    echo "bench: $name client failed: $*" >&2; echo "$out" >&2
    FAILED=1
  fi
  echo "$out" | grep '^RESULT' | sed "s/\$/ impl=$name run=$round/" >>"$WORK/results" || true
}

FAILED=0
: >"$WORK/results"
RUN_IMPLS=()
for line in "${IMPLS[@]}"; do
  read -r name kind target options <<<"$line"
  if [ -n "$ONLY_IMPLS" ] && [[ " $ONLY_IMPLS " != *" $name "* ]]; then continue; fi
  if [ "$kind" = grpc ]; then
    if $SMOKE; then continue; fi
    if [ ! -x "$BIN/grpc/KroBenchGrpcServer" ]; then
      echo "bench: $name left out: gRPC's baseline is not built (./run bench installs gRPC)" >&2; continue
    fi
  fi
  # shellcheck disable=SC2086  # the server's options, word-split on purpose
  start_server "$name" "$kind" "$target" $options
  RUN_IMPLS+=("$name")
  # The library's pool grows one thread at a time: load until it has all of them.
  if [ "$kind" = lib ]; then
    timeout 60 "$BIN/KroBenchClient" --ior-file "${ADDRESS[$name]}" --target lib --clients 8 --steps 10 \
      --warmup 0.2 --pool-threads $POOL_THREADS --seconds 0.2 "${ENDPOINT[@]}" >/dev/null 2>&1 || true
  fi
done

for round in $(seq "$ROUNDS"); do
  for steps in "${STEPS[@]}"; do
    for clients in "${CLIENTS[@]}"; do
      for name in "${RUN_IMPLS[@]}"; do
        client "$name" "$round" --clients "$clients" --steps "$steps" --warmup $WARMUP --seconds "$SECONDS_PER_CELL"
      done
    done
  done
  for name in "${PING_IMPLS[@]}"; do
    if ! $CELLS_ONLY && [ -n "${PID[$name]:-}" ]; then
      client "$name" "$round" --ping --warmup $WARMUP --seconds "$SECONDS_PER_CELL"
    fi
  done
done
# The client's watch: on and off in turns, 1 s each, medians.
: >"$WORK/watch"
if ! $CELLS_ONLY && [ -x "$BIN/KroBenchWatch" ]; then
  for steps in "${STEPS[@]}"; do
    if ! timeout 300 "$BIN/KroBenchWatch" "${ADDRESS[lib]}" --steps "$steps" --window 8 --seconds 1 \
         --rounds "$($SMOKE && echo 1 || echo $((ROUNDS * 5)))" "${ENDPOINT[@]}" >>"$WORK/watch" 2>&1; then
      echo "bench: the watch's measurement failed (steps $steps)" >&2; cat "$WORK/watch" >&2
      FAILED=1
    fi
  done
fi
for name in "${RUN_IMPLS[@]}"; do stop_server "$name"; done

if ! $CELLS_ONLY; then
  # A fresh library server: 8 clients, each its first job.
  # shellcheck disable=SC2086  # the library servers' settings, word-split on purpose
  start_server fresh lib lib $LIB_SETTINGS
  client fresh 1 --clients 8 --steps 0 --first-ops
  stop_server fresh

  # Memory kept per finished job, on a server of its own.
  # shellcheck disable=SC2086
  start_server kept lib lib $LIB_SETTINGS
  client kept 1 --steps 0 --kept-ops $KEPT_OPS
  stop_server kept
fi

echo "KroServer benchmark: $SECONDS_PER_CELL s per cell, $ROUNDS round(s) (medians), $(nproc) CPUs$($SMOKE && echo ', smoke')"
echo "servers: --pool-threads $POOL_THREADS; library servers also: $LIB_SETTINGS"
awk -v failed=$FAILED -v cellsOnly=$CELLS_ONLY -v watchFile="$WORK/watch" -v impls="${RUN_IMPLS[*]}" -v ratios="${RATIOS[*]}" -v tsv="$TSV" '
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
  function cell(row, impl, width,   k) {
    k = row SUBSEP impl
    if (count[k SUBSEP "ops"] == 0) return sprintf(" %" width "s %7s %7s %7s |", "-", "-", "-", "-")
    return sprintf(" %" width ".0f %7.0f %7.0f %7.1f |", median(k SUBSEP "ops"), median(k SUBSEP "p50"),
                   median(k SUBSEP "p99"), median(k SUBSEP "cpu"))
  }
  BEGIN {
    n = split(impls, impl, " ")
    for (i = 1; i <= n; ++i) ran[impl[i]] = 1
    split(ratios, all, " "); shown = 0
    for (i = 1; i in all; ++i) { split(all[i], ab, "/"); if ((ab[1] in ran) && (ab[2] in ran)) pair[++shown] = all[i] }
    if (tsv != "") print "impl\tsteps\tclients\trun\tops_per_s\tp50_us\tp99_us\tcpu_us_per_op" > tsv
  }
  $1 == "RESULT" && field("ops_per_s") != "" {
    row = field("ping") == 1 ? "ping" : field("steps") "," field("clients")
    name = field("impl")
    if (!(row in seen)) { seen[row] = 1; order[++rows] = row }
    k = row SUBSEP name
    add(k SUBSEP "ops", field("ops_per_s")); add(k SUBSEP "p50", field("p50_us"))
    add(k SUBSEP "p99", field("p99_us")); add(k SUBSEP "cpu", field("cpu_us_per_op"))
    if (field("ops") + 0 <= 0 || field("errors") + 0 != 0 || field("p50_us") + 0 <= 0 || field("cpu_us_per_op") + 0 <= 0) {
      insane = insane " " row "/" name
    }
    if (tsv != "" && row != "ping") {
      printf "%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", name, field("steps"), field("clients"), field("run"),
             field("ops_per_s"), field("p50_us"), field("p99_us"), field("cpu_us_per_op") > tsv
    }
  }
  $1 == "RESULT" && field("first_ops_ms") != "" { first = field("first_ops_ms") }
  $1 == "RESULT" && field("bytes_per_op") != "" { kept = field("bytes_per_op"); keptOps = field("kept_ops") }
  END {
    line = sprintf("| %-8s |", "steps,N")
    for (i = 1; i <= n; ++i) line = line sprintf(" %s %7s %7s %7s |", impl[i] " op/s", "p50 us", "p99 us", "cpu us")
    for (i = 1; i <= shown; ++i) line = line sprintf(" %-" (length(pair[i]) + 7) "s |", pair[i] " op,cpu")
    print line sprintf(" %-9s |", "lib N/N8")
    for (r = 1; r <= rows; ++r) {
      row = order[r]
      line = sprintf("| %-8s |", row)
      for (i = 1; i <= n; ++i) line = line cell(row, impl[i], length(impl[i] " op/s"))
      for (i = 1; i <= shown; ++i) {
        split(pair[i], ab, "/")
        a = row SUBSEP ab[1]; b = row SUBSEP ab[2]
        line = line sprintf(" %-" (length(pair[i]) + 7) "s |",
                            ratio(median(a SUBSEP "ops"), median(b SUBSEP "ops")) " " ratio(median(a SUBSEP "cpu"), median(b SUBSEP "cpu")))
      }
      split(row, rc, ",")
      print line sprintf(" %-9s |", row == "ping" ? "-" : ratio(median(row SUBSEP "lib" SUBSEP "ops"), median(rc[1] ",8" SUBSEP "lib" SUBSEP "ops")))
    }
    print "ping: a synchronous request that does nothing (on the library through its server interceptor); 1 client"
    if (cellsOnly == "true") {
      if (insane != "") print "bench: cells without sane numbers:" insane > "/dev/stderr"
      exit (failed || insane != "" || rows == 0) ? 1 : 0
    }
    printf "fresh library server: %s ms until 8 clients each had a first job finished (server objects created first)\n", first == "" ? "-" : first
    printf "kept per finished job: %s bytes (server resident-set growth over %s jobs on one object / count)\n", kept == "" ? "-" : kept, keptOps
    while ((getline line < watchFile) > 0) {
      nw = split(line, w, " ")
      if (nw < 2 || w[1] != "RESULT" || w[2] != "watch") continue
      for (i = 3; i <= nw; ++i) { split(w[i], kv, "="); wv[kv[1]] = kv[2] }
      printf "client watch (AsyncClient, steps %s, %s jobs in flight): on %s op/s, off %s op/s, on/off %s; client CPU per job on %s us, off %s us, on/off %s; watch requests %s\n",
             wv["steps"], wv["window"], wv["on_ops_per_s"], wv["off_ops_per_s"], wv["on_off"],
             wv["on_cpu_us"], wv["off_cpu_us"], wv["cpu_on_off"], wv["watch_requests"]
    }
    if (tsv != "") printf "TSV: %s\n", tsv
    if (insane != "") print "bench: cells without sane numbers:" insane > "/dev/stderr"
    if (rows == 0 || first + 0 <= 0 || kept == "") print "bench: a measurement is missing" > "/dev/stderr"
    exit (failed || insane != "" || rows == 0 || first + 0 <= 0 || kept == "") ? 1 : 0
  }' "$WORK/results"
