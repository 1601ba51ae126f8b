#!/usr/bin/env node
// Load and attack clients for scripts/outside/web-attack: one mode per run,
// loopback only, every mode bounded by --seconds; prints one JSON line.
//
//   probe     --port P --from ADDR [--rate 20] [--concurrency 2] [--path /x] [--auth U:PW]
//             normal clients: a new connection per request ("Connection: close"),
//             --rate requests a second; status counts and latency percentiles
//   slowloris --port P --count N --prefix 127.0.10. --per-address 20 [--interval 2000]
//             N connections that send a request head one byte every --interval ms;
//             one closed by the server is opened again
//   flood     --port P --clients N --prefix 127.0.20. --per-address 20 --user U
//             N clients looping on a wrong password for U (kept-alive connections,
//             a new one when the server closes)
//   guess     --port P --guessers 30 --from ADDR --target U --own U:PW
//             guessers looping on passwords for --target while the same address logs
//             in with its own account in between; counts the answered guesses
//   upload    --port P --count 60 --size BYTES --prefix 127.0.30. [--per-address 20]
//             [--auth U:PW] [--rate BYTES_PER_S]
//             uploads of --size bytes, each sent at --rate (default: as fast as read)
//             and held open until the end
//   idle      --port P --count N --prefix 127.0.40. --per-address 50
//             N connections that say nothing
// Common: --seconds S (default 20).
'use strict';
const net = require('net');

function parseArgs(argv) {
  const o = {};
  for (let i = 0; i < argv.length; i++) {
    if (!argv[i].startsWith('--')) continue;
    const k = argv[i].slice(2);
    if (i + 1 < argv.length && !argv[i + 1].startsWith('--')) o[k] = argv[++i]; else o[k] = true;
  }
  return o;
}
const mode = process.argv[2];
const a = parseArgs(process.argv.slice(3));
const port = Number(a.port);
const seconds = Number(a.seconds || 20);
const t0 = Date.now();
const deadline = t0 + seconds * 1000;
const over = () => Date.now() >= deadline;
if (!port) { console.error('--port is required'); process.exit(2); }
for (const k of ['from', 'prefix']) {
  if (a[k] && !String(a[k]).startsWith('127.')) { console.error('loopback only'); process.exit(2); }
}

// The address of client i when clients are spread over a prefix.
function spread(i, prefix, per) { return prefix + String(1 + Math.floor(i / per)); }
function basic(userPw) { return 'Authorization: Basic ' + Buffer.from(userPw).toString('base64') + '\r\n'; }
function percentile(sorted, q) { return sorted.length ? sorted[Math.min(sorted.length - 1, Math.floor(q * sorted.length))] : null; }
function finish(out) { console.log(JSON.stringify({ mode, elapsed_s: (Date.now() - t0) / 1000, ...out })); process.exit(0); }

// Reads responses from a socket: calls onResponse(status, text) per response
// (by Content-Length), onEnd() when the socket ends.
function responses(sock, onResponse) {
  let buf = Buffer.alloc(0);
  sock.on('data', (d) => {
    buf = Buffer.concat([buf, d]);
    for (;;) {
      const end = buf.indexOf('\r\n\r\n');
      if (end < 0) return;
      const head = buf.slice(0, end).toString('latin1');
      const m = /content-length:\s*(\d+)/i.exec(head);
      const len = m ? Number(m[1]) : 0;
      if (buf.length < end + 4 + len) return;
      const status = Number(head.split(' ')[1]);
      buf = buf.slice(end + 4 + len);
      onResponse(status, head);
    }
  });
}

function probe() {
  const rate = Number(a.rate || 20), conc = Number(a.concurrency || 2);
  const path = a.path || '/?PhoneNumber=%2B4411{n}&Text=probe+{n}';
  const auth = a.auth ? basic(a.auth) : '';
  const st = { sent: 0, status: {}, errors: 0, latency_ms: null };
  const lat = [];
  let inFlight = 0, n = 0;
  function one() {
    if (over()) return;
    inFlight++; st.sent++; n++;
    const start = process.hrtime.bigint();
    let done = false;
    const s = net.connect({ port, host: '127.0.0.1', localAddress: a.from });
    const end = (status) => {
      if (done) return;
      done = true; inFlight--;
      if (status) {
        st.status[status] = (st.status[status] || 0) + 1;
        lat.push(Number(process.hrtime.bigint() - start) / 1e6);
      } else st.errors++;
      s.destroy();
    };
    s.setTimeout(10000, () => end(0));
    s.on('error', () => end(0));
    s.on('close', () => end(0));
    responses(s, (status) => end(status));
    s.write('GET ' + path.replace(/\{n\}/g, String(n)) + ' HTTP/1.1\r\nHost: gw\r\nConnection: close\r\n' + auth + '\r\n');
  }
  const timer = setInterval(() => {
    if (over()) {
      clearInterval(timer);
      const wait = setInterval(() => {
        if (inFlight === 0 || Date.now() > deadline + 15000) {
          clearInterval(wait);
          const s = lat.sort((x, y) => x - y);
          st.latency_ms = { p50: percentile(s, 0.5), p90: percentile(s, 0.9), p99: percentile(s, 0.99), max: s[s.length - 1] };
          finish(st);
        }
      }, 50);
      return;
    }
    if (inFlight < conc) one();
  }, 1000 / rate);
}

function slowloris() {
  const count = Number(a.count || 2000), per = Number(a['per-address'] || 20);
  const interval = Number(a.interval || 2000);
  const head = 'GET /?PhoneNumber=1&Text=slow HTTP/1.1\r\nHost: gw\r\nX-Slow: ';
  const st = { count, opened: 0, closed_by_server: 0, errors: 0, open_now: 0, max_open: 0, bytes_sent: 0, answered: 0 };
  const samples = [];
  function open(i) {
    if (over()) return;
    const s = net.connect({ port, host: '127.0.0.1', localAddress: spread(i, a.prefix, per) });
    let pos = 0, alive = false, timer = null;
    s.on('connect', () => {
      alive = true; st.opened++; st.open_now++; st.max_open = Math.max(st.max_open, st.open_now);
      const tick = () => {
        if (!alive) return;
        const byte = pos < head.length ? head[pos] : 'a';
        pos++; st.bytes_sent++;
        s.write(byte);
        timer = setTimeout(tick, interval);
      };
      timer = setTimeout(tick, Math.floor(Math.random() * interval));
    });
    s.on('data', () => { st.answered++; });
    const gone = (err) => {
      if (timer) clearTimeout(timer);
      if (alive) { alive = false; st.open_now--; if (!err) st.closed_by_server++; }
      if (err) st.errors++;
      s.destroy();
      if (!over()) setTimeout(() => open(i), 100);
    };
    s.on('error', () => gone(true));
    s.on('end', () => gone(false));
  }
  for (let i = 0; i < count; i++) setTimeout(() => open(i), Math.floor(i / 50) * 20);
  const sampler = setInterval(() => samples.push(st.open_now), 1000);
  setTimeout(() => { clearInterval(sampler); samples.sort((x, y) => x - y); st.open_min_after_10s = Math.min(...samples.slice(10)); finish(st); }, seconds * 1000);
}

function flood() {
  const clients = Number(a.clients || 420), per = Number(a['per-address'] || 20);
  const st = { clients, attempts: 0, status: {}, errors: 0 };
  let n = 0;
  function client(i) {
    if (over()) return;
    const s = net.connect({ port, host: '127.0.0.1', localAddress: spread(i, a.prefix, per) });
    const send = () => { if (!over()) { st.attempts++; n++; s.write('GET /?PhoneNumber=1&Text=x HTTP/1.1\r\nHost: gw\r\n' + basic(a.user + ':wrong' + n) + '\r\n'); } };
    s.on('connect', send);
    responses(s, (status) => { st.status[status] = (st.status[status] || 0) + 1; send(); });
    let again = false;
    const gone = (err) => { if (err) st.errors++; s.destroy(); if (!again && !over()) { again = true; setTimeout(() => client(i), 50); } };
    s.on('error', () => gone(true));
    s.on('end', () => gone(false));
  }
  for (let i = 0; i < clients; i++) client(i);
  setTimeout(() => finish(st), seconds * 1000);
}

function guess() {
  const guessers = Number(a.guessers || 30);
  const st = { guessers, guesses_sent: 0, guesses_answered: 0, answered_by_second: [], own_logins: 0, own_ok: 0, status: {} };
  let n = 0;
  function guesser() {
    const s = net.connect({ port, host: '127.0.0.1', localAddress: a.from });
    const send = () => { if (!over()) { st.guesses_sent++; n++; s.write('GET /?PhoneNumber=1&Text=g HTTP/1.1\r\nHost: gw\r\n' + basic(a.target + ':guess' + n) + '\r\n'); } };
    s.on('connect', send);
    responses(s, (status) => {
      st.status[status] = (st.status[status] || 0) + 1;
      if (!over()) { st.guesses_answered++; st.answered_by_second.push(Math.round((Date.now() - t0) / 100) / 10); }
      send();
    });
    s.on('error', () => s.destroy());
  }
  function own() {
    if (over()) return;
    const s = net.connect({ port, host: '127.0.0.1', localAddress: a.from });
    st.own_logins++;
    s.on('connect', () => s.write('GET /?PhoneNumber=1&Text=own HTTP/1.1\r\nHost: gw\r\nConnection: close\r\n' + basic(a.own) + '\r\n'));
    responses(s, (status) => { if (status === 200) st.own_ok++; s.destroy(); });
    s.on('error', () => s.destroy());
    s.on('close', () => setTimeout(own, 200));
  }
  for (let i = 0; i < guessers; i++) guesser();
  own();
  setTimeout(() => { st.answered_by_second = st.answered_by_second.slice(0, 40); finish(st); }, seconds * 1000);
}

function upload() {
  const count = Number(a.count || 60), size = Number(a.size || 15000000), per = Number(a['per-address'] || 20);
  const rate = Number(a.rate || 0);
  const auth = a.auth ? basic(a.auth) : '';
  const st = { count, size, status: {}, closed_by_server: 0, errors: 0, body_bytes_sent: 0, open_at_end: 0 };
  const chunk = Buffer.alloc(65536, 'u');
  const socks = [];
  for (let i = 0; i < count; i++) {
    const s = net.connect({ port, host: '127.0.0.1', localAddress: spread(i, a.prefix, per) });
    let sent = 0, alive = true;
    socks.push(() => alive);
    s.on('connect', () => {
      s.write('POST /?PhoneNumber=1&Text=up HTTP/1.1\r\nHost: gw\r\n' + auth + 'Content-Length: ' + size + '\r\n\r\n');
      const pump = () => {
        while (alive && sent < size && !over()) {
          const n = Math.min(chunk.length, size - sent, rate ? Math.ceil(rate / 10) : chunk.length);
          sent += n; st.body_bytes_sent += n;
          if (!s.write(chunk.slice(0, n))) { s.once('drain', pump); return; }
          if (rate) { setTimeout(pump, 100); return; }
        }
      };
      pump();
    });
    responses(s, (status) => { st.status[status] = (st.status[status] || 0) + 1; });
    s.on('error', () => { if (alive) st.errors++; alive = false; });
    s.on('end', () => { if (alive) st.closed_by_server++; alive = false; });
  }
  setTimeout(() => { st.open_at_end = socks.filter((f) => f()).length; finish(st); }, seconds * 1000);
}

function idle() {
  const count = Number(a.count || 10000), per = Number(a['per-address'] || 50);
  const st = { count, opened: 0, errors: 0, closed_by_server: 0, open_at_end: 0 };
  let open = 0, i = 0;
  function next() {
    for (let k = 0; k < 200 && i < count; k++, i++) {
      const s = net.connect({ port, host: '127.0.0.1', localAddress: spread(i, a.prefix, per) });
      let alive = false;
      s.on('connect', () => { alive = true; st.opened++; open++; });
      s.on('error', () => { st.errors++; if (alive) open--; alive = false; });
      s.on('end', () => { st.closed_by_server++; if (alive) open--; alive = false; });
    }
    if (i < count) setTimeout(next, 20);
  }
  next();
  const report = setInterval(() => { if (st.opened + st.errors >= count) { console.error('idle: ' + st.opened + ' open'); clearInterval(report); } }, 250);
  setTimeout(() => { st.open_at_end = open; finish(st); }, seconds * 1000);
}

const modes = { probe, slowloris, flood, guess, upload, idle };
if (!modes[mode]) { console.error('modes: ' + Object.keys(modes).join(' ')); process.exit(2); }
modes[mode]();
