# Shared pieces of the outside checks and benchmarks (sourced, not run):
# free ports, the SMSC simulator, the gateway on a temporary data
# directory, HTTP submissions, and stopping everything started here by its
# process id.
#
#   ROOT     the repository          BIN    the gateway program
#   ORACLES  the third-party peers   WORK   this run's temporary directory
set -u
ROOT=${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
ORACLES=${VEKSMS_ORACLES:-$ROOT/../shared/oracles}
BUILD=${BUILD:-build/rel}
BIN=${BIN:-$ROOT/$BUILD/src/service/veksms}
SIM="$ORACLES/node/smsc-sim.js"
WORK=${WORK:-$(mktemp -d "${TMPDIR:-/tmp}/veksms-outside.XXXXXX")}
STARTED=()

need() {
  [ -x "$BIN" ] || { echo "no gateway program at $BIN (ninja -C $BUILD veksms)" >&2; exit 1; }
  [ -f "$SIM" ] || { echo "no SMSC simulator at $SIM" >&2; exit 1; }
  for t in "$@"; do command -v "$t" > /dev/null || { echo "$t is not installed" >&2; exit 1; }; done
}

free_port() {
  local p
  for _ in $(seq 1 100); do
    p=$((20000 + RANDOM % 30000))
    ss -ltnH "sport = :$p" | grep -q . || { echo "$p"; return; }
  done
  echo "no free port" >&2
  exit 1
}

# stop_pid PID: TERM, up to 10 s, then KILL.
stop_pid() {
  local p=$1
  kill -0 "$p" 2>/dev/null || return 0
  kill -TERM "$p" 2>/dev/null
  for _ in $(seq 1 40); do kill -0 "$p" 2>/dev/null || return 0; sleep 0.25; done
  kill -KILL "$p" 2>/dev/null
}

cleanup_started() {
  for ((i = ${#STARTED[@]} - 1; i >= 0; i--)); do stop_pid "${STARTED[i]}"; done
  if [ "${KEEP:-0}" = 1 ]; then echo "kept: $WORK" >&2; else rm -rf "$WORK"; fi
}

# start_sim NAME PORT [simulator options...]: log NAME.jsonl, summary
# NAME.json; sets SIM_PID.
start_sim() {
  local name=$1 port=$2
  shift 2
  node "$SIM" --port "$port" --max-seconds "${SIM_SECONDS:-900}" --log "$WORK/$name.jsonl" \
    --summary-file "$WORK/$name.json" "$@" > "$WORK/$name.out" 2> "$WORK/$name.err" &
  SIM_PID=$!
  STARTED+=("$SIM_PID")
  for _ in $(seq 1 100); do
    ss -ltnH "sport = :$port" | grep -q . && return 0
    sleep 0.1
  done
  echo "simulator $name did not start" >&2
  return 1
}

# new_data NAME: a fresh data directory; prints its path.
new_data() {
  local d="$WORK/$1"
  rm -rf "$d"
  mkdir -p "$d"
  echo "$d"
}

# ini DATA LINE...: writes SMSGW.INI from lines ("[Section]" or "Key=Value"),
# CR LF, replacing the file whole (a running gateway never reads half of it).
ini() {
  local d=$1
  shift
  : > "$d/.SMSGW.INI.new"
  for l in "$@"; do printf '%s\r\n' "$l" >> "$d/.SMSGW.INI.new"; done
  mv -f "$d/.SMSGW.INI.new" "$d/SMSGW.INI"
}

# start_gw DATA WEBPORT: starts the gateway, waits until it answers HTTP; sets GW_PID.
start_gw() {
  local d=$1 port=$2
  "$BIN" --data-dir "$d" >> "$d/gateway.out" 2>&1 &
  GW_PID=$!
  STARTED+=("$GW_PID")
  for _ in $(seq 1 120); do
    [ "$(curl -s -o /dev/null -w '%{http_code}' --max-time 1 "http://127.0.0.1:$port/?x=1")" != 000 ] &&
      return 0
    kill -0 "$GW_PID" 2>/dev/null || break
    sleep 0.25
  done
  echo "gateway on $d did not start" >&2
  tail -5 "$d/gateway.out" >&2
  return 1
}

# submit PORT RECIPIENT TEXT [extra query]: one HTTP submission; prints the answer.
submit() {
  curl -s --max-time 10 "http://127.0.0.1:$1/?PhoneNumber=$2&Text=$3${4:-}"
}

# sim_lines NAME: submit_sm records in the simulator's log.
sim_lines() {
  [ -f "$WORK/$1.jsonl" ] && wc -l < "$WORK/$1.jsonl" || echo 0
}

# wait_sim NAME COUNT SECONDS: until the log holds COUNT records.
wait_sim() {
  local name=$1 count=$2 limit=$3
  for _ in $(seq 1 $((limit * 4))); do
    [ "$(sim_lines "$name")" -ge "$count" ] && return 0
    sleep 0.25
  done
  return 1
}

# queue_files DATA: request files still queued.
queue_files() {
  find "$1/Q" -iname '*.req' 2> /dev/null | wc -l
}
