#!/usr/bin/env bash
# several-hosts-test.sh BUILD_DIR: the two-tier example on separate network
# hosts, made here with network namespaces joined by a bridge (root only):
#
#   names  10.231.7.1   omniNames and the front end F1
#   b1     10.231.7.11  back end B1          b2  10.231.7.12  back end B2
#   b3     10.231.7.13  back end B3, added while work runs
#   cl     10.231.7.21  the clients
#
# Each process listens on its host's address only; the hosts reach each
# other through the bridge (in a namespace of its own) and nothing else:
# no route leads out. The cases, in order, on the same processes:
#   1. two clients at once: each is served by a back end of its own;
#   2. B3's host added while a long operation holds a back end: the front
#      end takes B3 into its registry, and of the next two clients at once
#      one uses it;
#   3. the link of the back end that runs a long operation cut: the front
#      end withdraws the entry and runs the work again on another free back
#      end (the client hears "retrying on" it, then its results and
#      Finished), and the next client is served elsewhere too;
#   4. the back ends still linked end on SIGTERM and take their bindings
#      away.
# Every name made here starts with krh<pid>; what a crashed earlier run
# left (its pid gone) is removed first, and everything of this run on every
# exit path. Without the rights to make namespaces the test fails, saying
# so. Every wait has a deadline.
set -euo pipefail

if [ $# -ne 1 ] || [ ! -d "$1/examples/tiers" ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
tiers=$(cd "$1/examples/tiers" && pwd)
names_server=$(command -v omniNames || echo /usr/bin/omniNames)
name_client=$(command -v nameclt || echo /usr/bin/nameclt)

PREFIX=krh          # of every namespace of every run
RUN=$PREFIX$$       # of this run's namespaces and links
NET=10.231.7        # the test hosts' network; nothing is routed out of it
NAMES_PORT=2809
STEP_MS=100         # one step of a back end's work
READY_SECONDS=20    # for a server to be bound, a line to be logged
CLIENT_SECONDS=40   # for a client's whole session
STOP_SECONDS=10     # for a process to end after SIGTERM

fail() { echo "several-hosts: FAIL: $*" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kro-hosts-XXXXXX")
pids=()   # every process started here
names=()  # their names, for the logs

# Host name -> address.
declare -A address=([names]=$NET.1 [b1]=$NET.11 [b2]=$NET.12 [b3]=$NET.13 [cl]=$NET.21)
declare -A port_of  # host name -> its link's end on the bridge

# Removes the namespaces (and with them their links) of runs whose process
# is gone; with an argument, those of that run too.
remove_namespaces() {
  local own=${1:-} ns run
  for ns in $(ip netns list 2>/dev/null | awk '{print $1}'); do
    case $ns in "$PREFIX"*-*) ;; *) continue ;; esac
    run=${ns%%-*}
    if [ "$run" = "$own" ] || ! kill -0 "${run#"$PREFIX"}" 2>/dev/null; then
      ip netns delete "$ns" 2>/dev/null || true
    fi
  done
}

# Ends process $1 (SIGTERM, then SIGKILL at the deadline); its exit status.
stop_process() {
  local pid=$1 finished= status=0
  kill -TERM "$pid" 2>/dev/null || true
  sleep "$STOP_SECONDS" &   # the deadline
  local deadline=$!
  wait -n -p finished "$pid" "$deadline" || status=$?
  if [ "$finished" != "$pid" ]; then
    kill -KILL "$pid" 2>/dev/null || true
    status=137
    wait "$pid" 2>/dev/null || true
  fi
  kill "$deadline" 2>/dev/null || true
  wait "$deadline" 2>/dev/null || true
  return "$status"
}

cleanup() {
  local status=$? i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    [ -n "${pids[i]}" ] && { stop_process "${pids[i]}" || true; }
  done
  remove_namespaces "$RUN"
  if [ "$status" -ne 0 ]; then
    for i in "${!names[@]}"; do
      echo "== ${names[i]} =="; sed 's/^/  /' "$work/${names[i]}".{log,out} 2>/dev/null | tail -n 60
    done
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# wait_for_line FILE TEXT [SECONDS]: until FILE has a line with TEXT.
wait_for_line() {
  local file=$1 text=$2 seconds=${3:-$READY_SECONDS}
  touch "$file"
  local lines reader status=0
  exec {lines}< <(exec timeout "$seconds" tail -n +1 -f "$file")
  reader=$!
  grep -q -m1 -F -- "$text" <&"$lines" || status=$?
  exec {lines}<&-
  kill "$reader" 2>/dev/null || true
  wait "$reader" 2>/dev/null || true
  return "$status"
}

# run_in HOST NAME COMMAND...: COMMAND in the background on HOST, its
# standard output in $work/NAME.out, its standard error in $work/NAME.log.
run_in() {
  local host=$1 name=$2
  shift 2
  ip netns exec "$RUN-$host" "$@" </dev/null >"$work/$name.out" 2>"$work/$name.log" &
  pids+=($!)
  names+=("$name")
}

# pid_of NAME: the pid of the process started as NAME.
pid_of() {
  local i
  for i in "${!names[@]}"; do [ "${names[i]}" = "$1" ] && { echo "${pids[i]}"; return; }; done
}

# wait_exit NAME [SECONDS]: waits for NAME's end; its exit status (124 at the deadline).
wait_exit() {
  local pid finished= status=0 i
  pid=$(pid_of "$1")
  sleep "${2:-$CLIENT_SECONDS}" &
  local deadline=$!
  wait -n -p finished "$pid" "$deadline" || status=$?
  kill "$deadline" 2>/dev/null || true
  wait "$deadline" 2>/dev/null || true
  [ "$finished" = "$pid" ] || return 124
  for i in "${!pids[@]}"; do [ "${pids[i]}" = "$pid" ] && pids[i]=; done
  return "$status"
}

naming=(-ORBInitRef "NameService=corbaloc::${address[names]}:$NAMES_PORT/NameService")

# The hosts: a bridge in a namespace of its own, and each host's eth0 on it.
add_host() {
  local host=$1 index=$2
  ip netns add "$RUN-$host"
  ip -n "$RUN-sw" link add "${RUN}p$index" type veth peer name eth0 netns "$RUN-$host"
  ip -n "$RUN-sw" link set "${RUN}p$index" master br0 up
  port_of[$host]=${RUN}p$index
  ip -n "$RUN-$host" addr add "${address[$host]}/24" dev eth0
  ip -n "$RUN-$host" link set eth0 up
  ip -n "$RUN-$host" link set lo up
}

# back_end NAME HOST: starts back end NAME on HOST, on a fixed port.
back_end() {
  run_in "$2" "$1" "$tiers/KroTiersBackEnd" --name "$1" --step-ms "$STEP_MS" --ior-file "$work/$1.ior" \
    "${naming[@]}" -ORBendPoint "giop:tcp:${address[$2]}:7001"
  wait_for_line "$work/$1.log" "KroTiersBackEnd ready" || fail "back end $1 did not start"
}

# client NAME STEPS: a client on host cl, user NAME.
client() {
  run_in cl "$1" "$tiers/KroTiersClient" --token "$1" --steps "$2" --timeout-seconds "$CLIENT_SECONDS" \
    "${naming[@]}" -ORBendPoint "giop:tcp:${address[cl]}:"
}

# served_by NAME: the back end whose results client NAME got ("" when none).
served_by() {
  sed -n 's/^client: Results "\([^:]*\): .*/\1/p' "$work/$1.out"
}

# expect_success NAME: client NAME ended well, with results.
expect_success() {
  wait_exit "$1" || fail "client $1 failed (status $?)"
  [ -n "$(served_by "$1")" ] || fail "client $1 got no results"
}

for tool in ip timeout "$names_server" "$name_client" "$tiers/KroTiersBackEnd" "$tiers/KroTiersFrontEnd" \
            "$tiers/KroTiersClient"; do
  command -v "$tool" >/dev/null || fail "$tool is missing"
done
remove_namespaces
if ! ip netns add "$RUN-sw" 2>"$work/netns.err"; then
  fail "cannot make network namespaces ($(cat "$work/netns.err")); this test needs root (CAP_SYS_ADMIN, CAP_NET_ADMIN) and ip netns"
fi
ip -n "$RUN-sw" link add br0 type bridge
ip -n "$RUN-sw" link set br0 up
index=0
for host in names b1 b2 cl; do add_host "$host" $((++index)); done

echo "== naming service and front end F1 on names (${address[names]}); B1 on b1, B2 on b2 =="
mkdir "$work/names-data"
run_in names names "$names_server" -start "$NAMES_PORT" -datadir "$work/names-data" \
  -ORBendPoint "giop:tcp:${address[names]}:$NAMES_PORT"
wait_for_line "$work/names.log" "Root context is" || fail "omniNames did not start"
back_end B1 b1
back_end B2 b2
run_in names F1 "$tiers/KroTiersFrontEnd" --name F1 --refresh-ms 1000 --call-ms 2000 --wait-seconds 60 \
  "${naming[@]}" -ORBendPoint "giop:tcp:${address[names]}:"
wait_for_line "$work/F1.log" "KroTiersFrontEnd ready" || fail "front end F1 did not start"

echo "== 1: two clients at once, each on a back end of its own =="
client alice 30
wait_for_line "$work/alice.out" "client: Progress" || fail "alice's operation does not run"
client bob 4
expect_success alice
expect_success bob
[ "$(served_by alice)" != "$(served_by bob)" ] || fail "alice and bob both on $(served_by alice)"
echo "alice on $(served_by alice), bob on $(served_by bob)"

echo "== 2: host b3 with back end B3 added while carol's operation runs =="
client carol 60
wait_for_line "$work/carol.out" "client: Progress" || fail "carol's operation does not run"
add_host b3 $((++index))
back_end B3 b3
wait_for_line "$work/F1.log" 'back end "B3" in the registry' || fail "the front end did not take B3 in"
client dave 30
wait_for_line "$work/dave.out" "client: Progress" || fail "dave's operation does not run"
client erin 4
expect_success dave
expect_success erin
served="$(served_by dave) $(served_by erin)"
case " $served " in *" B3 "*) ;; *) fail "B3 unused: dave and erin on $served (carol holds one)" ;; esac
echo "carol holds a back end; dave and erin on $served"
expect_success carol

echo "== 3: the link of frank's back end cut mid-operation: the work runs again elsewhere =="
client frank 100
wait_for_line "$work/frank.out" "client: Progress" || fail "frank's operation does not run"
cut=
for backEnd in B1 B2 B3; do
  grep -q "KroTiersBackEnd $backEnd: 100 steps for frank" "$work/$backEnd.log" && cut=$backEnd
done
[ -n "$cut" ] || fail "no back end runs frank's operation"
cut_host=$(echo "$cut" | tr 'B' 'b')
ip -n "$RUN-sw" link set "${port_of[$cut_host]}" down
echo "cut ${port_of[$cut_host]}: $cut's host's link"
cut_at=$SECONDS
expect_success frank
grep -q '^client: Status "retrying on B[1-3]"$' "$work/frank.out" || fail "frank heard of no retry"
! grep -q '^client: Error' "$work/frank.out" || fail "frank got an Error"
retried_on=$(sed -n 's/^client: Status "retrying on \(B[1-3]\)"$/\1/p' "$work/frank.out")
[ "$retried_on" != "$cut" ] && [ "$(served_by frank)" = "$retried_on" ] ||
  fail "frank retried on ${retried_on:-nothing}, served by $(served_by frank), cut $cut"
grep -q "^client: Results \"$retried_on: 100 steps done for frank\"$" "$work/frank.out" || fail "frank's results are wrong"
echo "frank: retried on $retried_on, Finished $((SECONDS - cut_at)) s after the cut"
wait_for_line "$work/F1.log" "back end \"$cut\" failed and left the registry" 5 || fail "the entry of $cut stays"
client gina 4
expect_success gina
[ "$(served_by gina)" != "$cut" ] || fail "gina served by the cut $cut"
echo "gina on $(served_by gina)"

echo "== 4: the linked back ends end cleanly and take their bindings away =="
for backEnd in B1 B2 B3; do
  [ "$backEnd" = "$cut" ] && continue
  pid=$(pid_of "$backEnd")
  stop_process "$pid" || fail "$backEnd ended with status $?"
  for i in "${!pids[@]}"; do [ "${pids[i]}" = "$pid" ] && pids[i]=; done
done
bound=$(ip netns exec "$RUN-names" "$name_client" "${naming[@]}" list KroTiers/BackEnds)
echo "still bound: $(echo $bound)"
for backEnd in B1 B2 B3; do
  [ "$backEnd" = "$cut" ] && continue
  case " $(echo $bound) " in *" $backEnd.factory "*) fail "$backEnd is still bound" ;; esac
done
echo "several-hosts: PASS"
