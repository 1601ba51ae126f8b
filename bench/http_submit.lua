-- wrk script for bench/http_submit_bench.sh: HTTP submissions for wrk's
-- run time (-d), one recipient and a short text each, every request a
-- different recipient. done() prints one JSON line.
-- Usage: wrk -t1 -c16 -d10s -s http_submit.lua http://127.0.0.1:PORT/
local n = 0
function request()
  n = n + 1
  return wrk.format("GET", "/?PhoneNumber=%2B4471" .. string.format("%07d", n) ..
                    "&Text=wrk+message+" .. n)
end
function done(summary, latency, requests)
  local e = summary.errors
  local secs = summary.duration / 1e6
  io.write(string.format('{"requests":%d,"duration_s":%.3f,"req_per_s":%.0f,"errors":%d,"non2xx3xx":%d,"p50_ms":%.2f,"p99_ms":%.2f}\n',
    summary.requests, secs, summary.requests / secs, e.connect + e.read + e.write + e.timeout, e.status,
    latency:percentile(50) / 1000, latency:percentile(99) / 1000))
end
