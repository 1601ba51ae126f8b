#!/usr/bin/env bash
# Inbound messages per second from smsc-sim.js --mo to files in an account's
# queue: a Release build of the inbound tests binds SESSIONS receiver
# sessions (default 16) to the simulator, which sends COUNT messages per
# session (default 5000, at most one per millisecond and session); the
# receive callback stores each and the inbound threads route it by the
# routing table. Prints the rate.
#   bench/inbound_mo_bench.sh          SESSIONS=24 COUNT=2000 bench/inbound_mo_bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -G Ninja -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release --target inbound_tests
export VEKSMS_ORACLES="${VEKSMS_ORACLES:-$(cd ../shared/oracles && pwd)}"
VEKSMS_MO_SESSIONS="${SESSIONS:-16}" VEKSMS_MO_COUNT="${COUNT:-5000}" \
    build/release/tests/inbound/inbound_tests \
    --gtest_filter='SmppMoTest.MobileOriginatedMessagesLandInTheTablesAccountOnceEach' |
    grep -E 'smsc-sim --mo|OK|FAILED'
