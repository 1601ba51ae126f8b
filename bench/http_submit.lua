-- wrk script for bench/http_submit_bench.sh: count-bounded HTTP submissions,
-- one recipient and a short text each, every request a different recipient.
-- Usage: wrk -t1 -c16 -d60s -s http_submit.lua http://127.0.0.1:PORT/ -- 20000
-- Each thread stops after LIMIT responses (arg 1; up to connections-1 extra
-- requests may already be in flight). done() prints one JSON line.
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
