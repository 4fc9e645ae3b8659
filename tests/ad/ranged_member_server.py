#!/usr/bin/env python3
"""A tiny LDAP server holding one group, handing out its `member` values in
ranges as Windows Active Directory does (Samba does not): a search gets
"member;range=0-1499", a search for "member;range=1500-*" the next 1500,
and the last range ends in "*". Any bind succeeds. It prints its port on
standard output, serves one client connection at a time, and ends when
killed or after a minute without a new connection.

Usage: ranged_member_server.py GROUP_DN MEMBER_COUNT [RANGE]
"""
import socket
import sys

GROUP_DN, COUNT = sys.argv[1], int(sys.argv[2])
RANGE = int(sys.argv[3]) if len(sys.argv) > 3 else 1500
MEMBERS = ["CN=Member %04d,OU=Staff,DC=example,DC=org" % i for i in range(COUNT)]


def tlv(tag, body):
    n = len(body)
    if n < 0x80:
        length = bytes([n])
    else:
        raw = n.to_bytes((n.bit_length() + 7) // 8, "big")
        length = bytes([0x80 | len(raw)]) + raw
    return bytes([tag]) + length + body


def integer(tag, value):
    return tlv(tag, value.to_bytes(max(1, (value.bit_length() + 8) // 8), "big"))


def read_tlv(data, at):
    tag, length = data[at], data[at + 1]
    at += 2
    if length & 0x80:
        size = length & 0x7F
        length = int.from_bytes(data[at:at + size], "big")
        at += size
    return tag, data[at:at + length], at + length


def message(msgid, op):
    return tlv(0x30, integer(0x02, msgid) + op)


def done(tag, code=0):
    return tlv(tag, integer(0x0A, code) + tlv(0x04, b"") + tlv(0x04, b""))


def entry(attributes):
    """The group's entry with the values the requested attributes ask for."""
    out = tlv(0x04, b"objectClass") + tlv(0x31, tlv(0x04, b"top") + tlv(0x04, b"group"))
    parts = [tlv(0x30, out)]
    for name in attributes:
        low = name.lower()
        if low == "member" or low.startswith("member;range="):
            first = int(low.split("=")[1].split("-")[0]) if ";range=" in low else 0
            last = min(first + RANGE, COUNT) - 1
            shown = "*" if last == COUNT - 1 else str(last)
            values = b"".join(tlv(0x04, m.encode()) for m in MEMBERS[first:last + 1])
            parts.append(tlv(0x30, tlv(0x04, ("member;range=%d-%s" % (first, shown)).encode()) + tlv(0x31, values)))
    return tlv(0x64, tlv(0x04, GROUP_DN.encode()) + tlv(0x30, b"".join(parts)))


def serve(conn):
    data = b""
    while True:
        chunk = conn.recv(65536)
        if not chunk:
            return
        data += chunk
        while len(data) >= 2:
            try:
                _, body, end = read_tlv(data, 0)
            except IndexError:
                break
            if end > len(data):
                break
            data = data[end:]
            _, msgid_raw, at = read_tlv(body, 0)
            msgid = int.from_bytes(msgid_raw, "big")
            op, request, _ = read_tlv(body, at)
            if op == 0x60:  # bind
                conn.sendall(message(msgid, done(0x61)))
            elif op == 0x63:  # search: base, scope, deref, size, time, types only, filter, attributes
                at, fields = 0, []
                while at < len(request):
                    _, value, at = read_tlv(request, at)
                    fields.append(value)
                wanted, attributes, at = [], fields[-1], 0
                while at < len(attributes):
                    _, value, at = read_tlv(attributes, at)
                    wanted.append(value.decode())
                if fields[0].decode().lower() == GROUP_DN.lower():
                    conn.sendall(message(msgid, entry(wanted)))
                    conn.sendall(message(msgid, done(0x65)))
                else:
                    conn.sendall(message(msgid, done(0x65, 32)))  # noSuchObject
            elif op == 0x42:  # unbind
                return


def main():
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen(1)
    print(server.getsockname()[1], flush=True)
    server.settimeout(60)
    try:
        while True:
            conn, _ = server.accept()
            with conn:
                serve(conn)
    except socket.timeout:
        pass


main()
