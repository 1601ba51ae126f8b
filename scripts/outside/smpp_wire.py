"""SMPP framing shared by the message centres of the outside checks
(bad-smsc.py, mo-smsc.py): command ids, one PDU built, bytes read exactly."""
import struct

BIND_RX, BIND_TX, BIND_TRX = 0x00000001, 0x00000002, 0x00000009
BIND = {BIND_RX, BIND_TX, BIND_TRX}
SUBMIT, DELIVER, UNBIND, ENQUIRE = 0x00000004, 0x00000005, 0x00000006, 0x00000015
RESP = GENERIC_NACK = 0x80000000


def pdu(command, status, seq, body=b""):
    return struct.pack(">IIII", 16 + len(body), command, status, seq) + body


def read_exact(conn, n):
    buf = b""
    while len(buf) < n:
        chunk = conn.recv(n - len(buf))
        if not chunk:
            raise ConnectionError("closed")
        buf += chunk
    return buf
