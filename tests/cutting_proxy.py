"""A proxy to a web server that cuts its first connection short.

    cutting_proxy.py PORT UPSTREAM_PORT CUT_FILE

Relays every connection to 127.0.0.1:UPSTREAM_PORT. The first connection
made once CUT_FILE holds a number is closed after that many answer bytes,
as a network that breaks in the middle of a transfer would; where the
number is followed by "stall", it is kept open with nothing more sent, as
a server that stalls. Every other connection passes everything. The
proxy removes CUT_FILE as it takes its number: writing it again cuts the
next connection made.
"""
import os
import socket
import sys
import threading

port, upstream, cut_file = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]


def relay(source, target, limit, stall=False):
    sent = 0
    try:
        while limit is None or sent < limit:
            data = source.recv(65536 if limit is None else min(65536, limit - sent))
            if not data:
                break
            target.sendall(data)
            sent += len(data)
        while stall:
            threading.Event().wait(3600)
    except OSError:
        pass
    for end in (source, target):
        try:
            end.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        end.close()


def serve(client, limit, stall):
    try:
        server = socket.create_connection(("127.0.0.1", upstream))
    except OSError:
        client.close()
        return
    threading.Thread(target=relay, args=(client, server, None), daemon=True).start()
    relay(server, client, limit, stall)


listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", port))
listener.listen(16)
while True:
    client, _ = listener.accept()
    limit, stall = None, False
    try:
        with open(cut_file) as f:
            words = f.read().split()
        os.remove(cut_file)
        limit, stall = int(words[0]), words[1:] == ["stall"]
    except (OSError, ValueError, IndexError):
        limit, stall = None, False
    threading.Thread(target=serve, args=(client, limit, stall), daemon=True).start()
