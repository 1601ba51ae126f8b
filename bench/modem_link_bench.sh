#!/bin/bash
# Messages per minute through one modem link of the gateway program: the
# modem simulator (../shared/oracles/modem/modem-sim.js, TCP, --send-delay 0)
# answers at once, so the rate shows the whole link session's cost per
# message (queue pass, claim, PDU dialogue, id store, message log, delete),
# with the real modem waits. The messages are queued first (the link is
# held back by a route it does not serve until they are all in), then the
# rate is taken from the simulator's log: first to last accepted submission.
#
#   bench/modem_link_bench.sh [-b BUILD_DIR=build/rel] [-n MESSAGES=1000]
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/.." && pwd)
BUILD=build/rel N=1000
while getopts "b:n:" o; do
  case $o in b) BUILD=$OPTARG ;; n) N=$OPTARG ;; *) sed -n '2,11p' "$0"; exit 2 ;; esac
done
export ROOT BUILD
. "$ROOT/scripts/outside/lib.sh"
need node curl python3
trap cleanup_started EXIT
MP=$(free_port) WEB=$(free_port)
node "$ORACLES/modem/modem-sim.js" --tcp "$MP" --send-delay 0 --log "$WORK/sim.jsonl" \
  --max-seconds 900 > "$WORK/sim.out" 2> "$WORK/sim.err" &
STARTED+=("$!")
D="$WORK/gw" && mkdir -p "$D"
LINK="IPModem - 127.0.0.1:$MP"
ini() { # ini MODEM_KEY: the link configured or not
  printf '[SMSGW]\r\nWebPort=%s\r\nIPAddress=127.0.0.1\r\n%s\r\n[%s]\r\nReceiveSMS=No\r\n' \
    "$WEB" "$1" "$LINK" > "$D/SMSGW.INI.tmp" && mv "$D/SMSGW.INI.tmp" "$D/SMSGW.INI"
}
ini ""
"$BIN" --data-dir "$D" > "$WORK/gw.out" 2>&1 &
STARTED+=("$!")
for _ in $(seq 1 100); do curl -s -o /dev/null "http://127.0.0.1:$WEB/" && break; sleep 0.2; done
node "$ROOT/scripts/outside/submit.js" --port "$WEB" --count "$N" --prefix 4670 > "$WORK/submit.json"
ini "Modem1=$LINK"  # the supervisor starts the link within a minute
for _ in $(seq 1 1800); do
  [ "$(grep -c '"result":"ok"' "$WORK/sim.jsonl" 2>/dev/null)" -ge "$N" ] && break
  sleep 0.5
done
python3 - "$WORK/sim.jsonl" "$N" <<'PY'
import json, sys, datetime
ts = [datetime.datetime.fromisoformat(json.loads(l)["ts"].replace("Z", "+00:00"))
      for l in open(sys.argv[1]) if '"type":"submit"' in l and '"result":"ok"' in l]
n = len(ts)
span = (ts[-1] - ts[0]).total_seconds() if n > 1 else 0
rate = (n - 1) / span * 60 if span > 0 else 0
print(json.dumps({"messages": n, "wanted": int(sys.argv[2]), "seconds": round(span, 2),
                  "per_minute": round(rate), "ms_per_message": round(span * 1000 / max(n - 1, 1), 2)}))
PY
