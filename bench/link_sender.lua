-- wrk script for bench/link_sender_bench.sh: count-bounded HTTP submissions
-- to the gateway, each with a new recipient and text; the thread stops after
-- LIMIT responses (argument 1; up to connections - 1 more may be in flight).
-- done() prints one JSON line.
-- Usage: wrk -t1 -c16 -d300s -s link_sender.lua http://127.0.0.1:PORT/ -- 20000
local n, got, limit = 0, 0, 20000
function init(args) limit = tonumber(args[1] or "20000") end
function request()
  n = n + 1
  return wrk.format("GET", "/?PhoneNumber=%2B4471" .. string.format("%07d", n) ..
                    "&Text=wrk+message+" .. n)
end
function response(status, headers, body)
  got = got + 1
  if got >= limit then wrk.thread:stop() end
end
function done(summary, latency, requests)
  local e = summary.errors
  local secs = summary.duration / 1e6
  io.write(string.format('{"requests":%d,"duration_s":%.3f,"req_per_s":%.0f,"errors":%d,"non2xx3xx":%d,"p50_ms":%.2f,"p99_ms":%.2f}\n',
    summary.requests, secs, summary.requests / secs, e.connect + e.read + e.write + e.timeout, e.status,
    latency:percentile(50) / 1000, latency:percentile(99) / 1000))
end
