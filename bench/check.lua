-- wrk script of bench/run: checks every answer wrk reads and reports the
-- round as one machine-readable line.
--
--   wrk ... -s bench/check.lua <url> -- launcher    the launcher's exact answer
--   wrk ... -s bench/check.lua <url> -- nginx       status 200 and the same body
--
-- The launcher's answer is exactly
--   "HTTP/1.1 200 OK\r\nContent-Type: text/javascript\r\nContent-Length: 126\r\n\r\n" .. BODY
-- (197 bytes). wrk hands over the status, the headers (as a table, so order and
-- the status text are lost) and the body; the byte count that wrk read is
-- compared by bench/run against 197 per answer, which covers the rest.

local BODY = 'cb1({"request-id":"17","secret-key":"","request-type": "getAppStatus",'
  .. '"response":{"result":"Success","message":"NotRunning"}})'

local threads = {}

function setup(thread)
  table.insert(threads, thread)
end

function init(args)
  mode = args[1] or "launcher"
  ok = 0
  bad = 0
  first_bad = ""
end

local function describe(status, headers, body)
  local names = {}
  for name, value in pairs(headers) do
    table.insert(names, name .. "=" .. value)
  end
  table.sort(names)
  return string.format("status %d, headers {%s}, body %q", status, table.concat(names, "; "), body)
end

local function exact(status, headers, body)
  if status ~= 200 or body ~= BODY then
    return false
  end
  if mode ~= "launcher" then
    return true
  end
  local count = 0
  for _ in pairs(headers) do
    count = count + 1
  end
  return count == 2 and headers["Content-Type"] == "text/javascript" and headers["Content-Length"] == "126"
end

function response(status, headers, body)
  if exact(status, headers, body) then
    ok = ok + 1
  else
    bad = bad + 1
    if first_bad == "" then
      first_bad = describe(status, headers, body)
    end
  end
end

function done(summary, latency, requests)
  local ok_total, bad_total, first = 0, 0, ""
  for _, thread in ipairs(threads) do
    ok_total = ok_total + thread:get("ok")
    bad_total = bad_total + thread:get("bad")
    if first == "" then
      first = thread:get("first_bad")
    end
  end
  local e = summary.errors
  io.write(string.format(
    "BENCH-RESULT requests=%d duration_us=%d bytes=%d ok=%d bad=%d connect=%d read=%d write=%d status=%d timeout=%d p50_us=%d p99_us=%d max_us=%d\n",
    summary.requests, summary.duration, summary.bytes, ok_total, bad_total,
    e.connect, e.read, e.write, e.status, e.timeout,
    latency:percentile(50), latency:percentile(99), latency.max))
  if first ~= "" then
    io.write("BENCH-FIRST-BAD " .. first .. "\n")
  end
end
