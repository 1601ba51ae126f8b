#!/bin/bash
# HTTP submission throughput: the gateway program against Kannel's sendsms,
# with the same load generator (wrk, one thread, keep-alive connections).
#
#   http_submit_bench.sh [-b BUILD_DIR=build-submit-rel] [-d SECONDS=10]
#                        [-n KANNEL_REQUESTS=20000] [-c CONNECTIONS=16]
#                        [-p PARENT_DIR=/tmp] [-l SLOW] [-s] [-k] [-K]
#     -p  where the gateway's temporary data directories are made
#     -s  also measure with SyncQueueWrites=Yes
#     -k  keep the temporary data directories
#     -K  skip the Kannel run
#     -l  also measure with SLOW slow connections open (each sends a request
#         head one byte every 2 s, from 127.0.10.x, 20 to an address;
#         scripts/outside/web-attack.js), MaxHTTPConnections raised to hold them
#
# Cases (one line each):
#   gateway        -- submissions for SECONDS (one recipient, short text, each
#                     a new recipient) over C keep-alive connections; rate =
#                     request files found in the queue / wrk's run time;
#                     cpu_us_per_file = the gateway's CPU time (user + system,
#                     /proc) during the run / files (steadier than the rate
#                     on a machine shared with other work)
#   gateway-sync   -- the same with SyncQueueWrites=Yes (-s)
#   gateway-slow   -- the same with SLOW slow connections open (-l)
#   kannel         -- ../shared/oracles/kannel/kannel-bench.sh -g wrk -c C -n N
#                     (HTTP sendsms to an SMPP simulator; end-to-end rate)
#
# The gateway runs on a fresh data directory with a free WebPort on
# 127.0.0.1 and is stopped by its process id. Build it first:
#   ninja -C build-submit-rel veksms
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/.." && pwd)
BUILD=build-submit-rel D=10 N=20000 C=16 SYNC=0 KEEP=0 KANNEL=1 PARENT=/tmp SLOW=0
while getopts "b:d:n:c:p:l:skK" o; do
  case $o in
    b) BUILD=$OPTARG ;; d) D=$OPTARG ;; n) N=$OPTARG ;; c) C=$OPTARG ;; p) PARENT=$OPTARG ;;
    l) SLOW=$OPTARG ;; s) SYNC=1 ;; k) KEEP=1 ;; K) KANNEL=0 ;;
    *) sed -n '2,12p' "$0"; exit 2 ;;
  esac
done
BIN="$ROOT/$BUILD/src/service/veksms"
[ -x "$BIN" ] || { echo "no gateway program at $BIN (ninja -C $BUILD veksms)" >&2; exit 1; }
command -v wrk > /dev/null || { echo "wrk is not installed" >&2; exit 1; }

free_port() {
  local p
  for _ in $(seq 1 50); do
    p=$((20000 + RANDOM % 20000))
    ss -ltnH "sport = :$p" | grep -q . || { echo "$p"; return; }
  done
  echo "no free port" >&2; exit 1
}

GWPID=""
SLOWPID=""
DATAS=()
stop_gateway() {
  [ -n "$SLOWPID" ] && kill "$SLOWPID" 2>/dev/null && wait "$SLOWPID" 2>/dev/null
  SLOWPID=""
  [ -n "$GWPID" ] || return
  kill -TERM "$GWPID" 2>/dev/null
  for _ in $(seq 1 40); do kill -0 "$GWPID" 2>/dev/null || break; sleep 0.25; done
  kill -0 "$GWPID" 2>/dev/null && kill -KILL "$GWPID" 2>/dev/null
  GWPID=""
}
# The data directories go only at the end: deleting a hundred thousand
# files makes the next run's file creation slower on ext4 without a journal
# (it skips inodes deleted in the last minutes), which would bias the next
# case.
cleanup() {
  stop_gateway
  if [ "$KEEP" = 0 ]; then for d in "${DATAS[@]}"; do rm -rf "$d"; done; else echo "kept: ${DATAS[*]}" >&2; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# CPU clock ticks (user + system) the process has used so far.
cpu_ticks() {
  awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat"
}

# run_gateway NAME SYNC [SLOW]: prints one JSON line for the case
run_gateway() {
  local name=$1 sync=$2 slow=${3:-0} port
  port=$(free_port)
  DATA=$(mktemp -d "$PARENT/veksms-submit-bench.XXXXXX")
  DATAS+=("$DATA")
  printf '[SMSGW]\r\nWebPort=%s\r\nIPAddress=127.0.0.1\r\nSyncQueueWrites=%s\r\n' \
    "$port" "$([ "$sync" = 1 ] && echo Yes || echo No)" > "$DATA/SMSGW.INI"
  [ "$slow" -gt 0 ] && printf 'MaxHTTPConnections=%s\r\n' $((slow + C + 100)) >> "$DATA/SMSGW.INI"
  "$BIN" --data-dir "$DATA" > "$DATA/gateway.out" 2>&1 &
  GWPID=$!
  for _ in $(seq 1 60); do
    [ "$(curl -s -o /dev/null -w '%{http_code}' --max-time 1 "http://127.0.0.1:$port/?x=1")" != 000 ] && break
    sleep 0.25
  done
  local probe
  probe=$(curl -s --max-time 5 "http://127.0.0.1:$port/?PhoneNumber=%2B4400&Text=probe")
  echo "$probe" | grep -q "MessageID=" || { echo "probe failed: $probe" >&2; cat "$DATA/gateway.out" >&2; exit 1; }
  local open_slow=0
  if [ "$slow" -gt 0 ]; then
    node "$ROOT/scripts/outside/web-attack.js" slowloris --port "$port" --count "$slow" \
      --prefix 127.0.10. --per-address 20 --interval 2000 --seconds $((D + 30)) > /dev/null &
    SLOWPID=$!
    for _ in $(seq 1 80); do
      open_slow=$(ss -tnH state established "( sport = :$port )" | wc -l)
      [ "$open_slow" -ge "$slow" ] && break
      sleep 0.25
    done
  fi
  local before after wrk_line
  before=$(find "$DATA/Q" -name '*.req' | wc -l)
  local cpu_before cpu_after
  cpu_before=$(cpu_ticks "$GWPID")
  wrk_line=$(wrk -t1 -c"$C" -d"${D}s" -s "$HERE/http_submit.lua" "http://127.0.0.1:$port/" | tail -1)
  cpu_after=$(cpu_ticks "$GWPID")
  after=$(find "$DATA/Q" -name '*.req' | wc -l)
  node -e '
    const [name, line, files, c, ticks, hz, slow] = process.argv.slice(1);
    const w = JSON.parse(line);
    console.log(JSON.stringify({case: name, connections: +c, slow_open: +slow, requests: w.requests,
      files_in_queue: +files, duration_s: w.duration_s,
      files_per_s: Math.round(files / w.duration_s), http_req_per_s: w.req_per_s,
      cpu_us_per_file: Math.round(ticks / hz * 1e6 / files),
      http_errors: w.errors, non2xx: w.non2xx3xx, p50_ms: w.p50_ms, p99_ms: w.p99_ms}));' \
    "$name" "$wrk_line" "$((after - before))" "$C" "$((cpu_after - cpu_before))" "$(getconf CLK_TCK)" \
    "$open_slow"
  stop_gateway
}

run_gateway gateway 0
[ "$SYNC" = 1 ] && run_gateway gateway-sync 1
[ "$SLOW" -gt 0 ] && run_gateway gateway-slow 0 "$SLOW"
if [ "$KANNEL" = 1 ]; then
  KB="$ROOT/../shared/oracles/kannel/kannel-bench.sh"
  if [ -x "$KB" ] || [ -f "$KB" ]; then
    bash "$KB" -g wrk -c "$C" -n "$N" | node -e '
      let s = ""; process.stdin.on("data", d => s += d).on("end", () => {
        const k = JSON.parse(s.slice(s.lastIndexOf("\n{\n") + 1));
        console.log(JSON.stringify({case: "kannel", connections: k.concurrency, requests: k.requests,
          end_to_end_msgs_per_s: k.end_to_end_msgs_per_s, smsc_submits_per_s: k.smsc_submits_per_s,
          http_errors: k.http_errors, p50_ms: k.http_latency_ms.p50, p99_ms: k.http_latency_ms.p99}));
      });'
  else
    echo '{"case":"kannel","skipped":"../shared/oracles/kannel absent"}'
  fi
fi
