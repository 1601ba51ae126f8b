#!/usr/bin/env node
// Test peer: an SMPP message centre whose delivery receipts carry the
// receipt only in the text form ("id:... stat:DELIVRD ..."), with neither
// receipted_message_id nor message_state. Ids count up in decimal, or in
// upper-case hexadecimal with --hex. With --dlr-first the receipt goes out
// before the submit_sm_resp that names the id (which follows 500 ms later).
//
//   NODE_PATH=<oracles>/node/node_modules node text_receipt_smsc.js --port P
//       [--hex] [--dlr-first] [--max-seconds 60]
'use strict';
const smpp = require('smpp');

const args = process.argv.slice(2);
const opt = (name, def) => {
  const i = args.indexOf('--' + name);
  return i >= 0 && i + 1 < args.length ? args[i + 1] : def;
};
const flag = (name) => args.includes('--' + name);
const port = Number(opt('port', 2775));
const hex = flag('hex');
const dlrFirst = flag('dlr-first');
const maxSeconds = Number(opt('max-seconds', 60));
let seq = 0x1F0;

const server = smpp.createServer((session) => {
  session.on('bind_transceiver', (pdu) => session.send(pdu.response()));
  session.on('enquire_link', (pdu) => session.send(pdu.response()));
  session.on('unbind', (pdu) => { session.send(pdu.response()); session.close(); });
  session.on('error', () => {});
  session.on('submit_sm', (pdu) => {
    const id = hex ? (++seq).toString(16).toUpperCase() : String(++seq);
    const receipt = () => session.deliver_sm({
      source_addr: pdu.destination_addr, destination_addr: pdu.source_addr, esm_class: 0x04,
      data_coding: 0,
      short_message: Buffer.from(`id:${id} sub:001 dlvrd:001 submit date:2612081430 ` +
                                 `done date:2612081431 stat:DELIVRD err:000 text:receipt`, 'latin1'),
    });
    if (dlrFirst) {
      receipt();
      setTimeout(() => session.send(pdu.response({ message_id: id })), 500);
    } else {
      session.send(pdu.response({ message_id: id }));
      setTimeout(receipt, 20);
    }
  });
});
server.listen(port, '127.0.0.1');
setTimeout(() => process.exit(0), maxSeconds * 1000).unref();
process.on('SIGTERM', () => process.exit(0));
