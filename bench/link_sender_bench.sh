#!/bin/bash
# End to end: HTTP submission -> queue -> link sender -> SMPP -> smsc-sim.js,
# beside Kannel doing the same job, all on 127.0.0.1 with the same load
# generator (wrk, one thread, keep-alive connections).
#
#   link_sender_bench.sh [-b BUILD_DIR=build/rel] [-n MESSAGES=20000] [-c CONNECTIONS=16]
#                        [-w WINDOW=100] [-q STANDING=100000] [-s] [-K] [-k] [-o CASES]
#     -s  also the case with SyncQueueWrites=Yes      -K  skip Kannel
#     -k  keep the temporary directory                 -o  only these cases (comma list)
#   Environment: TMPDIR=DIR puts the gateway's data directories there (the
#   queue's file system matters: see bench/RESULTS.md); EXTRA_SMSGW="K=V ..."
#   adds keys to section SMSGW.
#
# Cases (one JSON line each):
#   gateway   -- N submissions over C connections; the simulator exits after
#                the probe and N submits; rate = N / (last submit_sm - wrk start)
#   sync      -- the same with SyncQueueWrites=Yes (-s)
#   standing  -- Q request files queued over HTTP while the simulator is down,
#                then the simulator starts; rate = Q / (last - first submit_sm)
#   kannel    -- ../shared/oracles/kannel/kannel-bench.sh -g wrk -c C -n N -w W
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/.." && pwd)
BUILD=build/rel N=20000 C=16 W=100 Q=100000 SYNC=0 KANNEL=1 KEEP=0 ONLY=""
while getopts "b:n:c:w:q:sKko:" o; do
  case $o in
    b) BUILD=$OPTARG ;; n) N=$OPTARG ;; c) C=$OPTARG ;; w) W=$OPTARG ;; q) Q=$OPTARG ;;
    s) SYNC=1 ;; K) KANNEL=0 ;; k) KEEP=1 ;; o) ONLY=$OPTARG ;;
    *) sed -n '2,16p' "$0"; exit 2 ;;
  esac
done
export ROOT BUILD KEEP
. "$ROOT/scripts/outside/lib.sh"
need node wrk curl
trap cleanup_started EXIT
trap 'exit 130' INT TERM

want() { [ -z "$ONLY" ] || [[ ",$ONLY," == *",$1,"* ]]; }

# gateway_ini DATA WEBPORT SIMPORT SYNC
gateway_ini() {
  ini "$1" "[SMSGW]" "WebPort=$2" "IPAddress=127.0.0.1" "Modem1=SMPP - 127.0.0.1:$3" \
    "SyncQueueWrites=$4" "InitRetryDelay=1" "InitRetryDelayMax=2" ${EXTRA_SMSGW:-} \
    "[SMPP - 127.0.0.1:$3]" "UserName=bench" "Password=bench" "WindowSize=$W"
}

# run_gateway NAME SYNC
run_gateway() {
  local name=$1 sync=$2 web sim data t0 wrk_line
  web=$(free_port)
  sim=$(free_port)
  data=$(new_data "$name")
  start_sim "$name" "$sim" --exit-after $((N + 1)) --rate-skip 1 || return 1
  local sim_pid=$SIM_PID
  gateway_ini "$data" "$web" "$sim" "$sync"
  start_gw "$data" "$web" || return 1
  submit "$web" "%2B4400" "probe" | grep -q "MessageID=" || { echo "probe refused" >&2; return 1; }
  wait_sim "$name" 1 30 || { echo "probe did not reach the simulator" >&2; return 1; }
  t0=$(date +%s.%N)
  # wrk stops issuing requests after N answers but runs until its time is
  # up: it is interrupted once the simulator has all N.
  wrk -t1 -c"$C" -d600s -s "$HERE/link_sender.lua" "http://127.0.0.1:$web/" -- "$N" \
    > "$WORK/$name.wrk" 2>&1 &
  local wrk_pid=$!
  STARTED+=("$wrk_pid")
  for _ in $(seq 1 2400); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.25; done
  kill -INT "$wrk_pid" 2>/dev/null
  for _ in $(seq 1 40); do kill -0 "$wrk_pid" 2>/dev/null || break; sleep 0.25; done
  wrk_line=$(tail -1 "$WORK/$name.wrk")
  local left
  left=$(queue_files "$data")
  stop_pid "$GW_PID"
  node -e '
    const fs = require("fs");
    const [name, line, sf, lf, t0, c, w, left] = process.argv.slice(1);
    const h = JSON.parse(line), s = JSON.parse(fs.readFileSync(sf));
    const lines = fs.readFileSync(lf, "utf8").trim().split("\n");
    const last = JSON.parse(lines[lines.length - 1]);
    const n = s.submits - 1;
    console.log(JSON.stringify({case: name, connections: +c, window: +w, http_requests: h.requests,
      http_errors: h.errors, non2xx: h.non2xx3xx, http_p50_ms: h.p50_ms, http_p99_ms: h.p99_ms,
      smsc_submits: n, smsc_submits_per_s: s.submits_per_s,
      end_to_end_msgs_per_s: Math.round(n / (last.t / 1000 - Number(t0))),
      queued_after: +left, sim_reason: s.reason}));' \
    "$name" "$wrk_line" "$WORK/$name.json" "$WORK/$name.jsonl" "$t0" "$C" "$W" "$left"
}

# run_standing NAME: Q files queued while the simulator is down, then drained.
run_standing() {
  local name=$1 web sim data queued
  web=$(free_port)
  sim=$(free_port)
  data=$(new_data "$name")
  gateway_ini "$data" "$web" "$sim" No
  start_gw "$data" "$web" || return 1
  wrk -t1 -c"$C" -d600s -s "$HERE/link_sender.lua" "http://127.0.0.1:$web/" -- "$Q" \
    > "$WORK/$name.wrk" 2>&1 &
  local wrk_pid=$!
  STARTED+=("$wrk_pid")
  for _ in $(seq 1 2400); do [ "$(queue_files "$data")" -ge "$Q" ] && break; sleep 0.5; done
  kill -INT "$wrk_pid" 2>/dev/null
  for _ in $(seq 1 40); do kill -0 "$wrk_pid" 2>/dev/null || break; sleep 0.25; done
  queued=$(queue_files "$data")
  start_sim "$name" "$sim" --exit-after "$queued" || return 1
  local sim_pid=$SIM_PID t0
  t0=$(date +%s.%N)
  for _ in $(seq 1 2400); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.25; done
  stop_pid "$GW_PID"
  node -e '
    const fs = require("fs");
    const [name, sf, queued, c, w] = process.argv.slice(1);
    const s = JSON.parse(fs.readFileSync(sf));
    console.log(JSON.stringify({case: name, window: +w, queued: +queued, smsc_submits: s.submits,
      drain_msgs_per_s: s.submits_per_s, drain_seconds: s.submit_window_s, sim_reason: s.reason}));' \
    "$name" "$WORK/$name.json" "$queued" "$C" "$W"
}

want gateway && run_gateway gateway No
[ "$SYNC" = 1 ] && want sync && run_gateway sync Yes
want standing && run_standing standing
if [ "$KANNEL" = 1 ] && want kannel; then
  KB="$ORACLES/kannel/kannel-bench.sh"
  bash "$KB" -g wrk -c "$C" -n "$N" -w "$W" | node -e '
    let s = ""; process.stdin.on("data", d => s += d).on("end", () => {
      const k = JSON.parse(s.slice(s.lastIndexOf("\n{\n") + 1));
      console.log(JSON.stringify({case: "kannel", connections: k.concurrency, window: k.smpp_window,
        http_requests: k.requests, http_errors: k.http_errors, smsc_submits: k.smsc_submits,
        smsc_submits_per_s: k.smsc_submits_per_s, end_to_end_msgs_per_s: k.end_to_end_msgs_per_s}));
    });'
fi
