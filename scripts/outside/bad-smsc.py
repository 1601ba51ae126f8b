#!/usr/bin/env python3
"""A message centre that misbehaves on purpose, for the link sender's
bad-input checks from outside. It binds every client, answers enquire_link
and unbind, and answers the first BAD submissions wrongly in the way MODE
says; every later submission is accepted and logged like smsc-sim.js logs
("n", "to", "status", "id"; one JSON line each).

  bad-smsc.py --port P --mode MODE [--bad 3] [--late-seconds 4] --log F.jsonl
              [--max-seconds 600]

MODE: garbage   bytes that are no PDU instead of the answer
      late      the answer after --late-seconds (the link's time-out is shorter)
      midpdu    half an answer, then the connection is closed
      nack      generic_nack instead of the answer
      unknown   an unknown command to the client, then the proper answer
      silent    no answer at all (the connection stays open)
Stops at --max-seconds or on SIGTERM.
"""
import argparse
import json
import os
import signal
import socket
import struct
import sys
import threading
import time

from smpp_wire import BIND, ENQUIRE, GENERIC_NACK, SUBMIT, UNBIND, pdu, read_exact


lock = threading.Lock()
state = {"bad_left": 0, "n": 0}
args = None
log = None


def cstring(body, at):
    end = body.index(b"\0", at)
    return body[at:end].decode("latin1"), end + 1


def destination(body):
    at = 0
    _, at = cstring(body, at)  # service_type
    at += 2
    _, at = cstring(body, at)  # source
    at += 2
    dest, _ = cstring(body, at)
    return dest


def take_bad():
    with lock:
        if state["bad_left"] > 0:
            state["bad_left"] -= 1
            return True
        return False


def accept_submit(conn, seq, dest):
    with lock:
        state["n"] += 1
        n = state["n"]
        log.write(json.dumps({"n": n, "t": int(time.time() * 1000), "to": dest, "status": 0,
                              "id": "B%d" % n}) + "\n")
        log.flush()
    conn.sendall(pdu(SUBMIT | 0x80000000, 0, seq, b"B%d\0" % n))


def serve(conn):
    late = []
    try:
        while True:
            command_length, command, _, seq = struct.unpack(">IIII", read_exact(conn, 16))
            if command_length < 16 or command_length > 65536:
                return
            body = read_exact(conn, command_length - 16)
            if command in BIND:
                conn.sendall(pdu(command | 0x80000000, 0, seq, b"bad-smsc\0"))
            elif command == ENQUIRE:
                conn.sendall(pdu(ENQUIRE | 0x80000000, 0, seq))
            elif command == UNBIND:
                conn.sendall(pdu(UNBIND | 0x80000000, 0, seq))
                return
            elif command == SUBMIT:
                dest = destination(body)
                if not take_bad():
                    accept_submit(conn, seq, dest)
                elif args.mode == "garbage":
                    conn.sendall(b"\xde\xad\xbe\xef" * 8)
                elif args.mode == "late":
                    t = threading.Timer(args.late_seconds, lambda s=seq, d=dest: late_answer(conn, s, d))
                    t.daemon = True
                    t.start()
                    late.append(t)
                elif args.mode == "midpdu":
                    conn.sendall(pdu(SUBMIT | 0x80000000, 0, seq, b"HALF\0")[:10])
                    return
                elif args.mode == "nack":
                    conn.sendall(pdu(GENERIC_NACK, 0x00000008, seq))
                elif args.mode == "unknown":
                    conn.sendall(pdu(0x00000777, 0, 0x7FFF0000 + seq % 1000))
                    accept_submit(conn, seq, dest)
                elif args.mode == "silent":
                    pass
            elif command & 0x80000000:
                pass  # answers to what we sent (generic_nack for the unknown command)
            else:
                conn.sendall(pdu(GENERIC_NACK, 0x00000003, seq))
    except (ConnectionError, OSError, ValueError, struct.error):
        pass
    finally:
        try:
            conn.close()
        except OSError:
            pass


def late_answer(conn, seq, dest):
    # The answer the link gave up on: logged as accepted by the centre, so
    # that a second copy after the reconnect counts as a duplicate.
    try:
        accept_submit(conn, seq, dest)
    except OSError:
        pass


def main():
    global args, log
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--mode", required=True,
                   choices=["garbage", "late", "midpdu", "nack", "unknown", "silent"])
    p.add_argument("--bad", type=int, default=3)
    p.add_argument("--late-seconds", type=float, default=4.0)
    p.add_argument("--log", required=True)
    p.add_argument("--max-seconds", type=float, default=600)
    args = p.parse_args()
    state["bad_left"] = args.bad
    log = open(args.log, "a")
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    srv = socket.socket()
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", args.port))
    srv.listen(16)
    srv.settimeout(1.0)
    end = time.time() + args.max_seconds
    while time.time() < end:
        try:
            conn, _ = srv.accept()
        except socket.timeout:
            continue
        threading.Thread(target=serve, args=(conn,), daemon=True).start()
    return 0


if __name__ == "__main__":
    sys.exit(main())
