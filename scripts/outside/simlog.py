#!/usr/bin/env python3
"""Reads smsc-sim.js --log files and the accepted-submission lists of
submit.js, and checks what the outside checks ask; prints one JSON line.

  simlog.py once ACCEPTED LOG...        every accepted recipient accepted once by the
                                        centres (duplicates counted, not allowed)
  simlog.py atleast ACCEPTED LOG...     every accepted recipient at least once;
                                        duplicates counted
  simlog.py segments LOG...             each recipient's segments on one log, in order
  simlog.py ids STOREDB LINK LOG...     every accepted id of the logs in the message-id store
Exit status 0 when the check holds.
"""
import json
import sqlite3
import sys
from collections import Counter, defaultdict


def records(paths):
    for i, p in enumerate(paths):
        try:
            with open(p, encoding="utf-8", errors="replace") as f:
                for line in f:
                    line = line.strip()
                    if line:
                        r = json.loads(line)
                        r["_log"] = i
                        yield r
        except FileNotFoundError:
            pass


def accepted_list(path):
    out = {}
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) == 2:
                out[parts[0]] = parts[1]
    return out


def main(argv):
    mode = argv[1]
    if mode in ("once", "atleast"):
        want = accepted_list(argv[2])
        ok = Counter(r["to"] for r in records(argv[3:]) if r.get("status") == 0)
        missing = [r for r in want if ok[r] == 0]
        dups = sum(n - 1 for r, n in ok.items() if n > 1)
        extra = [r for r in ok if r not in want]
        refused = sum(1 for r in records(argv[3:]) if r.get("status") != 0)
        good = not missing and (mode == "atleast" or (dups == 0 and not extra))
        print(json.dumps({"check": mode, "accepted_by_gateway": len(want),
                          "accepted_by_centre": sum(ok.values()), "distinct": len(ok),
                          "missing": len(missing), "missing_sample": missing[:5],
                          "duplicates": dups, "not_submitted_here": len(extra),
                          "refused_answers": refused, "ok": good}))
        return 0 if good else 1
    if mode == "segments":
        where = defaultdict(set)
        order = defaultdict(list)
        for r in records(argv[2:]):
            if r.get("status") != 0:
                continue
            where[r["to"]].add(r["_log"])
            for u in r.get("udh", []):
                e = u[2:] if u.startswith("050003") else u
                if e.startswith("0003") and len(e) == 10:
                    order[r["to"]].append(int(e[8:10], 16))
        split = [t for t, logs in where.items() if len(logs) > 1]
        unordered = [t for t, o in order.items() if o != sorted(o) or o != list(range(1, len(o) + 1))]
        per_log = Counter(min(logs) for logs in where.values())
        good = not split and not unordered
        print(json.dumps({"check": "segments", "messages": len(where), "split": len(split),
                          "out_of_order": len(unordered), "sample": (split + unordered)[:5],
                          "messages_per_link": dict(per_log), "ok": good}))
        return 0 if good else 1
    if mode == "ids":
        db, link = argv[2], argv[3]
        ids = {r["id"] for r in records(argv[4:]) if r.get("status") == 0 and r.get("id")}
        con = sqlite3.connect(db)
        stored = {row[0] for row in con.execute(
            "SELECT smsc_id FROM message_ids WHERE link = ? COLLATE NOCASE", (link,))}
        missing = sorted(ids - stored)
        print(json.dumps({"check": "ids", "centre_ids": len(ids), "stored": len(stored),
                          "missing": len(missing), "missing_sample": missing[:5],
                          "ok": not missing}))
        return 0 if not missing else 1
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
