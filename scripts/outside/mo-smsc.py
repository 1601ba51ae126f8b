#!/usr/bin/env python3
"""A message centre that sends messages from phones (deliver_sm) and
redelivers every one the client does not take, for the receive path's
checks from outside. It binds every client and answers enquire_link,
unbind and submit_sm; to each receiver or transceiver session it sends
COUNT numbered texts ("<PREFIX> 1" ... "<PREFIX> COUNT"), at most WINDOW
unanswered at a time. A message answered with a non-zero command_status,
not answered within --resp-timeout, or in flight when its connection went
is delivered again after --retry-delay (at most --max-attempts times), as a
centre does with a temporary error.

  mo-smsc.py --port P --count N [--from 447700900555] [--from-ton 1]
             [--to 4490] [--to-ton 0]
             [--prefix "MO redeliver"] [--window 5] [--retry-delay 0.2]
             [--resp-timeout 5] [--max-attempts 1000] [--wait-for FILE]
             [--summary F.json] [--stay] [--max-seconds 600]

Nothing is sent before FILE exists (--wait-for), so that a check can make
the client's storage fail first. The summary (JSON) is rewritten while the
centre runs ("done": false) and at the end ("done": true): when every
message was accepted (the centre then ends, or with --stay keeps serving),
on SIGTERM, or at --max-seconds; the final one is also printed. Per
message it gives the attempts, temporary errors and acceptances.
"""
import argparse
import heapq
import json
import os
import signal
import socket
import struct
import sys
import threading
import time

from smpp_wire import (BIND_RX, BIND_TRX, BIND_TX, DELIVER, ENQUIRE, GENERIC_NACK, RESP, SUBMIT,
                       UNBIND, pdu, read_exact)


args = None
lock = threading.Condition()
stop = threading.Event()


class Message:
    def __init__(self, n):
        self.n = n
        self.attempts = 0
        self.temp_errors = 0
        self.timeouts = 0
        self.lost = 0
        self.accepted = 0
        self.in_flight = 0  # copies sent and not answered yet
        self.expired = False  # out of attempts and nothing in flight


class State:
    """Everything the centre knows; used with `lock` held. The totals are
    kept as they change, so that a summary costs nothing per message."""

    def __init__(self, count):
        self.messages = [Message(n) for n in range(1, count + 1)]
        now = time.monotonic()
        self.due = [(now, m.n) for m in self.messages]  # (when, n) to send
        heapq.heapify(self.due)
        self.scheduled = {m.n for m in self.messages}
        self.waiting = {}  # sequence -> (message n, session, sent at)
        self.timed_out = {}  # sequence -> message n, for answers after the time-out
        self.sessions = []  # bound receiver and transceiver sessions
        self.next_session = 0
        self.seq = 0
        self.binds = {"receiver": 0, "transmitter": 0, "transceiver": 0}
        self.disconnects = 0
        self.enquire_links = 0
        self.error_statuses = set()
        self.late_answers = 0
        self.started = None
        self.changed = True
        self.totals = dict.fromkeys(["acked", "sent", "attempted", "temp_errors",
                                     "messages_with_temp_errors", "timeouts", "lost",
                                     "accepted_total", "expired"], 0)

    def attempt(self, m):
        m.attempts += 1
        m.in_flight += 1
        self.totals["sent"] += 1
        self.totals["attempted"] += m.attempts == 1

    def accept(self, m):
        m.accepted += 1
        self.totals["accepted_total"] += 1
        self.totals["acked"] += m.accepted == 1
        if m.expired:
            m.expired = False
            self.totals["expired"] -= 1

    def refuse(self, m, status):
        m.temp_errors += 1
        self.totals["temp_errors"] += 1
        self.totals["messages_with_temp_errors"] += m.temp_errors == 1
        self.error_statuses.add(status)

    def timeout(self, m):
        m.timeouts += 1
        self.totals["timeouts"] += 1

    def lose(self, m):
        m.lost += 1
        self.totals["lost"] += 1

    def give_up(self, m):
        if not m.expired:
            m.expired = True
            self.totals["expired"] += 1

    def finished(self):
        return self.totals["acked"] + self.totals["expired"] == len(self.messages)

    def summary(self, done):
        t = self.totals
        out = {
            "count": len(self.messages),
            "acked": t["acked"],
            "sent": t["sent"],
            "redeliveries": t["sent"] - t["attempted"],
            "temp_errors": t["temp_errors"],
            "messages_with_temp_errors": t["messages_with_temp_errors"],
            "timeouts": t["timeouts"],
            "lost_in_disconnect": t["lost"],
            "accepted_total": t["accepted_total"],
            "late_answers": self.late_answers,
            "expired": t["expired"],
            "error_statuses": ",".join(sorted("0x%08X" % s for s in self.error_statuses)),
            "rx_binds": self.binds["receiver"] + self.binds["transceiver"],
            "tx_binds": self.binds["transmitter"],
            "disconnects": self.disconnects,
            "enquire_links": self.enquire_links,
            "sending": self.started is not None,
            "done": done,
        }
        if done:  # per message only at the end: it grows with the count
            out["per_message"] = [{"n": m.n, "attempts": m.attempts, "temporary": m.temp_errors,
                                   "timed_out": m.timeouts, "accepted": m.accepted}
                                  for m in self.messages]
        return out


state = None


class Session:
    def __init__(self, conn):
        self.conn = conn
        self.send_lock = threading.Lock()
        self.receiver = False
        self.open = True

    def send(self, data):
        with self.send_lock:
            self.conn.sendall(data)


def deliver_body(n):
    text = ("%s %d" % (args.prefix, n)).encode("ascii")
    return (b"\0"                                    # service_type
            + bytes([args.from_ton, 1]) + args.source.encode() + b"\0"
            + bytes([args.to_ton, 1]) + args.to.encode() + b"\0"
            + bytes([0, 0, 0])                       # esm_class, protocol_id, priority
            + b"\0\0"                                # schedule, validity
            + bytes([0, 0, 0, 0])                    # registered, replace, data_coding, default id
            + bytes([len(text)]) + text)


def reschedule(m, now):
    # Called with the lock held: one pending delivery per message at most.
    if m.accepted or m.n in state.scheduled:
        return
    if m.attempts >= args.max_attempts:
        if m.in_flight == 0:
            state.give_up(m)
        return
    state.scheduled.add(m.n)
    heapq.heappush(state.due, (now + args.retry_delay, m.n))


def answered(seq, status):
    with lock:
        entry = state.waiting.pop(seq, None)
        if entry is None:
            # An answer after its time-out: the message went again already,
            # but an acceptance still counts (a second acceptance shows as
            # accepted_total above acked).
            n = state.timed_out.pop(seq, None)
            if n is None:
                return
            state.late_answers += 1
            if status == 0:
                state.accept(state.messages[n - 1])
            state.changed = True
            return
        n, _, _ = entry
        m = state.messages[n - 1]
        m.in_flight -= 1
        if status == 0:
            state.accept(m)
        else:
            state.refuse(m, status)
            reschedule(m, time.monotonic())
        state.changed = True
        lock.notify_all()


def serve(conn):
    s = Session(conn)
    try:
        while not stop.is_set():
            command_length, command, status, seq = struct.unpack(">IIII", read_exact(conn, 16))
            if command_length < 16 or command_length > 65536:
                return
            body = read_exact(conn, command_length - 16)
            if command in (BIND_RX, BIND_TX, BIND_TRX):
                s.send(pdu(command | RESP, 0, seq, b"mo-smsc\0"))
                with lock:
                    kind = {BIND_RX: "receiver", BIND_TX: "transmitter",
                            BIND_TRX: "transceiver"}[command]
                    state.binds[kind] += 1
                    if command != BIND_TX and not s.receiver:
                        s.receiver = True
                        state.sessions.append(s)
                    state.changed = True
                    lock.notify_all()
            elif command == ENQUIRE:
                s.send(pdu(ENQUIRE | RESP, 0, seq))
                with lock:
                    state.enquire_links += 1
            elif command == UNBIND:
                s.send(pdu(UNBIND | RESP, 0, seq))
                return
            elif command == SUBMIT:
                s.send(pdu(SUBMIT | RESP, 0, seq, b"M%d\0" % seq))
            elif command == DELIVER | RESP:
                answered(seq, status)
            elif command & RESP:
                pass
            else:
                s.send(pdu(GENERIC_NACK, 0x00000003, seq))
    except (ConnectionError, OSError, ValueError, struct.error):
        pass
    finally:
        with lock:
            s.open = False
            if s in state.sessions:
                state.sessions.remove(s)
            now = time.monotonic()
            for seq, (n, owner, _) in list(state.waiting.items()):
                if owner is s:
                    del state.waiting[seq]
                    m = state.messages[n - 1]
                    m.in_flight -= 1
                    state.lose(m)
                    reschedule(m, now)
            state.disconnects += 1
            state.changed = True
            lock.notify_all()
        try:
            conn.close()
        except OSError:
            pass


def expire_unanswered(now):
    for seq, (n, _, sent) in list(state.waiting.items()):
        if now - sent >= args.resp_timeout:
            del state.waiting[seq]
            if len(state.timed_out) < 100000:
                state.timed_out[seq] = n
            m = state.messages[n - 1]
            m.in_flight -= 1
            state.timeout(m)
            reschedule(m, now)
            state.changed = True


def next_to_send(now):
    """With the lock held: (session, message n, sequence) or None."""
    if state.started is None or not state.sessions or len(state.waiting) >= args.window:
        return None
    while state.due and state.due[0][0] <= now:
        _, n = heapq.heappop(state.due)
        state.scheduled.discard(n)
        m = state.messages[n - 1]
        if m.accepted:
            continue
        s = state.sessions[state.next_session % len(state.sessions)]
        state.next_session += 1
        state.seq = state.seq % 0x7FFFFFFF + 1
        state.attempt(m)
        state.waiting[state.seq] = (n, s, now)
        state.changed = True
        return s, n, state.seq
    return None


def write_summary(done):
    with lock:
        text = json.dumps(state.summary(done), indent=1)
        state.changed = False
    if args.summary:
        tmp = args.summary + ".tmp"
        with open(tmp, "w") as f:
            f.write(text + "\n")
        os.replace(tmp, args.summary)
    return text


def dispatch(end):
    last_write = 0.0
    while not stop.is_set() and time.monotonic() < end:
        now = time.monotonic()
        if state.started is None and (not args.wait_for or os.path.exists(args.wait_for)):
            with lock:
                state.started = now
                state.changed = True
        send = None
        with lock:
            expire_unanswered(now)
            send = next_to_send(now)
            finished = state.finished()
            if send is None and not finished:
                lock.wait(0.02)
        if send:
            s, n, seq = send
            try:
                s.send(pdu(DELIVER, 0, seq, deliver_body(n)))
            except OSError:
                pass  # the reader sees the closed connection and reschedules
        if (state.changed and now - last_write >= 0.05) or (finished and not args.stay):
            write_summary(False)
            last_write = now
        if finished and not args.stay:
            return
        if finished:
            time.sleep(0.05)


def guarded_dispatch(end):
    # A fault here ends the centre with its summary instead of leaving it
    # bound and silent.
    try:
        dispatch(end)
    except Exception as e:  # noqa: BLE001 (reported, then the centre stops)
        print("mo-smsc: %r" % e, file=sys.stderr)
        stop.set()


def main():
    global args, state
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--count", type=int, required=True)
    p.add_argument("--from", dest="source", default="447700900555")
    p.add_argument("--from-ton", type=int, default=1, help="1: international")
    p.add_argument("--to", default="4490")
    p.add_argument("--to-ton", type=int, default=0, help="0: unknown (a short number as it is)")
    p.add_argument("--prefix", default="MO redeliver")
    p.add_argument("--window", type=int, default=5)
    p.add_argument("--retry-delay", type=float, default=0.2)
    p.add_argument("--resp-timeout", type=float, default=5.0)
    p.add_argument("--max-attempts", type=int, default=1000)
    p.add_argument("--wait-for", default="")
    p.add_argument("--summary", default="")
    p.add_argument("--stay", action="store_true")
    p.add_argument("--max-seconds", type=float, default=600)
    args = p.parse_args()
    if not 0 < args.count <= 1000000 or not 0 < args.window <= 10000:
        p.error("--count and --window must be positive (count up to 1,000,000)")
    state = State(args.count)
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    srv = socket.socket()
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", args.port))
    srv.listen(16)
    srv.settimeout(0.2)
    end = time.monotonic() + args.max_seconds
    sender = threading.Thread(target=guarded_dispatch, args=(end,), daemon=True)
    sender.start()
    while not stop.is_set() and time.monotonic() < end:
        if not sender.is_alive() and not args.stay:
            break
        try:
            conn, _ = srv.accept()
        except socket.timeout:
            continue
        threading.Thread(target=serve, args=(conn,), daemon=True).start()
    stop.set()
    sender.join(2)
    print(write_summary(True))
    sys.stdout.flush()
    return 0 if state.totals["acked"] == args.count else 1


if __name__ == "__main__":
    sys.exit(main())
