#!/bin/bash
# SMPP submission throughput: submit_sm accepted into the queue per second,
# beside the plain file-publish rate of the same file system in the same run
# and beside Kannel's own SMPP path as a reference.
#
#   smpp_server_bench.sh [-b BUILD_DIR=build/release] [-n MESSAGES=20000]
#                        [-p PARENT_DIR=/tmp] [-K]
#     -p  where the data directories are made (the same file system for all cases)
#     -K  skip the Kannel run
#
# Cases (one JSON line each):
#   inprocess    -- bench/smpp_server_bench: BM_PlainPublish/1 and /8 (threads
#                   publishing request files with CreateQueueFile) and
#                   BM_SmppSubmit/1 and /8 (in-process SMPP clients, window 100)
#   gateway-1    -- the gateway program and one node smpp-client.js: N
#                   messages, window 100; rate = the client's answers per
#                   second over its submit span; files counted in the queue
#   gateway-8    -- eight node clients at once, N/8 each; rate = all answers
#                   / the longest submit span
#   kannel       -- ../shared/oracles/kannel/kannel-bench.sh -g wrk -n N -c 10
#                   (HTTP sendsms -> smsbox -> bearerbox -> SMPP simulator)
#
# Build first: ninja -C build/release veksms smpp_server_bench
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/.." && pwd)
BUILD=build/release N=20000 PARENT=/tmp KANNEL=1
while getopts "b:n:p:K" o; do
  case $o in
    b) BUILD=$OPTARG ;; n) N=$OPTARG ;; p) PARENT=$OPTARG ;; K) KANNEL=0 ;;
    *) sed -n '2,9p' "$0"; exit 2 ;;
  esac
done
BIN="$ROOT/$BUILD/src/service/veksms"
BENCH="$ROOT/$BUILD/bench/smpp_server_bench"
CLIENT="$ROOT/../shared/oracles/node/smpp-client.js"
[ -x "$BIN" ] || { echo "no gateway program at $BIN" >&2; exit 1; }
[ -x "$BENCH" ] || { echo "no benchmark program at $BENCH" >&2; exit 1; }
[ -f "$CLIENT" ] || { echo "no $CLIENT" >&2; exit 1; }

free_port() {
  local p
  for _ in $(seq 1 50); do
    p=$((20000 + RANDOM % 20000))
    ss -ltnH "sport = :$p" | grep -q . || { echo "$p"; return; }
  done
  echo "no free port" >&2; exit 1
}

GWPID=""
DATAS=()
PIDS=()
stop_gateway() {
  [ -n "$GWPID" ] || return
  kill -TERM "$GWPID" 2>/dev/null
  for _ in $(seq 1 40); do kill -0 "$GWPID" 2>/dev/null || break; sleep 0.25; done
  kill -0 "$GWPID" 2>/dev/null && kill -KILL "$GWPID" 2>/dev/null
  GWPID=""
}
cleanup() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; done
  stop_gateway
  for d in "${DATAS[@]}"; do rm -rf "$d"; done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# 1. In-process figures on the same file system.
VEKSMS_BENCH_DIR="$PARENT" "$BENCH" --benchmark_min_time=2 --benchmark_format=json 2>/dev/null |
  node -e '
    let s = ""; process.stdin.on("data", d => s += d).on("end", () => {
      const r = JSON.parse(s).benchmarks.filter(b => !b.error_occurred);
      console.log(JSON.stringify({case: "inprocess", per_s: Object.fromEntries(
        r.map(b => [b.name.replace("/real_time", ""), Math.round(b.items_per_second)]))}));
    });'

# 2. The gateway program with CLIENTS node clients sending N messages in all.
run_gateway() {
  local clients=$1 port data
  port=$(free_port)
  data=$(mktemp -d "$PARENT/veksms-smpp-bench.XXXXXX")
  DATAS+=("$data")
  "$BIN" --data-dir "$data" user add bench --password bench --smpp yes --throughput 0/1/16 > /dev/null
  printf '[SMSGW]\r\nWebPort=%s\r\nSMPPPort=%s\r\nIPAddress=127.0.0.1\r\n' \
    "$(free_port)" "$port" > "$data/SMSGW.INI"
  "$BIN" --data-dir "$data" > "$data/gateway.out" 2>&1 &
  GWPID=$!
  for _ in $(seq 1 60); do ss -ltnH "sport = :$port" | grep -q . && break; sleep 0.25; done
  local each=$((N / clients)) outs=()
  for c in $(seq 1 "$clients"); do
    node "$CLIENT" --port "$port" --system-id bench --password bench --bind tx --count "$each" \
      --window 100 --to-range 1000 --max-seconds 300 > "$data/client-$c.json" 2> /dev/null &
    PIDS+=($!)
  done
  wait "${PIDS[@]}" 2> /dev/null
  PIDS=()
  local files
  files=$(find "$data/Q" -name '*.req' | wc -l)
  node -e '
    const fs = require("fs"), [name, files, ...paths] = process.argv.slice(1);
    const r = paths.map(p => JSON.parse(fs.readFileSync(p, "utf8")));
    const ok = r.reduce((a, x) => a + x.resp_ok, 0);
    const span = Math.max(...r.map(x => x.submit_span_s));
    console.log(JSON.stringify({case: name, clients: r.length, resp_ok: ok, files_in_queue: +files,
      submit_sm_per_s: Math.round(ok / span), span_s: span,
      p50_ms: r[0].latency_ms.p50, p99_ms: r[0].latency_ms.p99}));' \
    "gateway-$clients" "$files" "$data"/client-*.json
  stop_gateway
}
run_gateway 1
run_gateway 8

# 3. Kannel's SMPP client path, fed by its own smsbox.
if [ "$KANNEL" = 1 ]; then
  KB="$ROOT/../shared/oracles/kannel/kannel-bench.sh"
  if [ -f "$KB" ]; then
    bash "$KB" -g wrk -c 10 -n "$N" -p 23100 | node -e '
      let s = ""; process.stdin.on("data", d => s += d).on("end", () => {
        const k = JSON.parse(s.slice(s.lastIndexOf("\n{\n") + 1));
        console.log(JSON.stringify({case: "kannel", requests: k.requests,
          smsc_submits_per_s: k.smsc_submits_per_s, end_to_end_msgs_per_s: k.end_to_end_msgs_per_s}));
      });'
  else
    echo '{"case":"kannel","skipped":"../shared/oracles/kannel absent"}'
  fi
fi
