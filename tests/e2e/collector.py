#!/usr/bin/env python3
"""A TCP syslog collector that fails on purpose, for the forwarding tests.

collector.py PORTFILE OUTFILE MODE [N]: listens on a free loopback port (written to PORTFILE),
takes octet-counted frames and appends each message, one a line, to OUTFILE. MODE:
  good       reads everything
  reset      accepts each connection and resets it at once
  close      reads N bytes on the first connection, then closes it (bytes unread: a reset); reads
             everything on the later ones
  stall      a 4 KiB receive buffer; stops reading for N seconds after the first 4 KiB
Runs until killed.
"""
import os, socket, struct, sys, time

portfile, outfile, mode = sys.argv[1], sys.argv[2], sys.argv[3]
n = int(sys.argv[4]) if len(sys.argv) > 4 else 0
server = socket.socket()
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
if mode == 'stall':
    server.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
server.bind(('127.0.0.1', int(os.environ.get('COLLECTOR_PORT', '0'))))
server.listen(16)
with open(portfile + '.tmp', 'w') as f:
    f.write(str(server.getsockname()[1]))
os.rename(portfile + '.tmp', portfile)
out = open(outfile, 'ab', buffering=0)

def frames(data, pending):
    data = pending + data
    while True:
        space = data.find(b' ')
        if space < 0:
            return data
        length = int(data[:space])
        if len(data) < space + 1 + length:
            return data
        out.write(data[space + 1:space + 1 + length] + b'\n')
        data = data[space + 1 + length:]

stalled = False
closed = False
while True:
    conn, _ = server.accept()
    if mode == 'reset':
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack('ii', 1, 0))
        conn.close()
        continue
    pending, got = b'', 0
    while True:
        if mode == 'close' and not closed and got >= n:
            closed = True
            conn.close()  # with bytes unread: a reset
            break
        want = max(1, n - got) if mode == 'close' and not closed else 65536
        data = conn.recv(want)
        if not data:
            conn.close()
            break
        got += len(data)
        pending = frames(data, pending)
        if mode == 'stall' and not stalled and got >= 4096:
            stalled = True
            time.sleep(n)
