#!/usr/bin/env node
// Usage: node submit.js --port P --count N [--from 0] [--concurrency 16] [--out FILE]
//          [--extra '&SMSCRoute=RA'] [--text-length 20] [--prefix 4477] [--max-seconds 600]
//          [--text URL-ENCODED-TEXT]  (the same text for every message)
//
// HTTP submissions to the gateway on 127.0.0.1 over kept-alive connections:
// recipient +<prefix><7-digit number> for numbers from..from+N-1, each with its
// own text. Every submission the gateway accepted (its answer carries
// "MessageID=") is written to FILE as "recipient messageid"; a submission
// that failed (connection refused or reset, e.g. while the gateway is being
// restarted) is not retried and not written. Prints a JSON summary.
'use strict';
const http = require('http');
const fs = require('fs');

const a = {};
for (let i = 2; i < process.argv.length; i++) {
  const k = process.argv[i];
  if (!k.startsWith('--')) continue;
  const v = process.argv[i + 1];
  if (v !== undefined && !v.startsWith('--')) { a[k.slice(2)] = v; i++; } else a[k.slice(2)] = true;
}
const port = Number(a.port), count = Number(a.count || 0), from = Number(a.from || 0);
const conc = Number(a.concurrency || 16), prefix = a.prefix || '4477';
const textLength = Number(a['text-length'] || 0), extra = a.extra || '';
const maxSeconds = Number(a['max-seconds'] || 600);
if (!port || !count) { console.error('usage: node submit.js --port P --count N ...'); process.exit(2); }
const out = a.out ? fs.openSync(a.out, 'a') : null;
const agent = new http.Agent({ keepAlive: true, maxSockets: conc });
const t0 = Date.now();
let next = 0, done = 0, accepted = 0, failed = 0;

function text(n) {
  if (a.text && a.text !== true) return a.text;
  const base = 'message+' + n;
  return textLength > base.length ? base + '+' + 'x'.repeat(textLength - base.length - 1) : base;
}

function one() {
  if (next >= count || Date.now() - t0 > maxSeconds * 1000) return;
  const n = from + next++;
  const recipient = prefix + String(n).padStart(7, '0');
  const path = `/?PhoneNumber=%2B${recipient}&Text=${text(n)}${extra}`;
  const req = http.get({ host: '127.0.0.1', port, path, agent }, (res) => {
    let body = '';
    res.setEncoding('latin1');
    res.on('data', (d) => { body += d; });
    res.on('end', () => {
      const m = /MessageID=([^,\s]+)/.exec(body);
      if (m) { accepted++; if (out) fs.writeSync(out, `${recipient} ${m[1]}\n`); } else failed++;
      finish();
    });
  });
  req.setTimeout(10000, () => req.destroy(new Error('timeout')));
  req.on('error', () => { failed++; setTimeout(finish, 50); });
}
function finish() {
  done++;
  if (done >= count || (next >= count && done >= next)) {
    console.log(JSON.stringify({ count, accepted, failed, seconds: (Date.now() - t0) / 1000 }));
    process.exit(0);
  }
  one();
}
for (let i = 0; i < conc; i++) one();
setTimeout(() => { console.log(JSON.stringify({ count, accepted, failed, timeout: true })); process.exit(1); },
  maxSeconds * 1000 + 5000).unref();
