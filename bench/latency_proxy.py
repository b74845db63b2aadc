#!/usr/bin/python3
"""A TCP proxy that puts network latency between a TDS client and a server.

    latency_proxy.py --port N [--delay-ms MS]

It listens on 127.0.0.1 on a port the system picks and prints "PORT <n>" as
the first line of standard output; every connection to it is passed on to
127.0.0.1:N. What the client sends goes on at once. What the server sends is
read as TDS packets and held message by message: once the packet with the
end-of-message status bit has arrived, the whole message (every packet up to
and with that one) goes on to the client DELAY milliseconds later (default
0.5). Every request a client waits for thus costs at least one delay, as a
round trip over a network would.

It ends when its standard input reaches end of file or on SIGTERM. Threads,
not asyncio: asyncio's epoll loop rounds its timeouts up to whole
milliseconds, which would turn 0.5 ms into 1.
"""
import argparse
import ctypes
import os
import queue
import signal
import socket
import struct
import sys
import threading
import time

EOM = 0x01
PR_SET_TIMERSLACK = 29


def recv_exact(sock, n):
    data = bytearray()
    while len(data) < n:
        chunk = sock.recv(n - len(data))
        if not chunk:
            return None
        data += chunk
    return bytes(data)


def close_quietly(*socks):
    for sock in socks:
        try:
            sock.shutdown(socket.SHUT_RDWR)  # wakes a thread blocked reading it
        except OSError:
            pass
        sock.close()


def client_to_server(client, server):
    """Passes the client's bytes on unchanged, as they come."""
    try:
        while True:
            data = client.recv(65536)
            if not data:
                break
            server.sendall(data)
    except OSError:
        pass
    try:
        server.shutdown(socket.SHUT_WR)
    except OSError:
        pass


def server_to_client(server, held):
    """Reads the server's packets; a complete message goes to the queue with
    the time it is due at. None in the queue: the server closed."""
    message = bytearray()
    try:
        while True:
            header = recv_exact(server, 8)
            if header is None:
                break
            length = struct.unpack(">H", header[2:4])[0]
            body = recv_exact(server, max(length - 8, 0))
            if body is None:
                break
            message += header + body
            if header[1] & EOM:
                held.put((time.monotonic(), bytes(message)))
                message = bytearray()
    except OSError:
        pass
    if message:  # a cut message goes on as it is
        held.put((time.monotonic(), bytes(message)))
    held.put(None)


def precise_sleeps():
    """Lets this thread's sleeps end when asked: Linux lets a sleep run up to
    the thread's timer slack (50 us by default) late."""
    try:
        ctypes.CDLL(None).prctl(PR_SET_TIMERSLACK, 1, 0, 0, 0)
    except (OSError, AttributeError):
        pass


def deliver(client, server, held, delay):
    """Sends each held message once its delay has passed, in order."""
    precise_sleeps()
    try:
        while True:
            item = held.get()
            if item is None:
                break
            arrived, message = item
            wait = arrived + delay - time.monotonic()
            if wait > 0:
                time.sleep(wait)
            client.sendall(message)
    except OSError:
        pass
    close_quietly(client, server)


def serve(client, port, delay):
    try:
        server = socket.create_connection(("127.0.0.1", port))
    except OSError as error:
        sys.stderr.write("latency_proxy: cannot reach 127.0.0.1:%d: %s\n" % (port, error))
        close_quietly(client)
        return
    for sock in (client, server):
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    held = queue.SimpleQueue()
    threading.Thread(target=client_to_server, args=(client, server), daemon=True).start()
    threading.Thread(target=server_to_client, args=(server, held), daemon=True).start()
    deliver(client, server, held, delay)


def main():
    parser = argparse.ArgumentParser(description="TDS latency proxy")
    parser.add_argument("--port", type=int, required=True, help="the server's port on 127.0.0.1")
    parser.add_argument("--delay-ms", type=float, default=0.5,
                        help="how long each server message is held (milliseconds, default 0.5)")
    args = parser.parse_args()
    if args.delay_ms < 0:
        parser.error("--delay-ms must not be negative")

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)

    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))

    def watch_stdin():
        try:
            while sys.stdin.buffer.read(4096):
                pass
        finally:
            os._exit(0)
    threading.Thread(target=watch_stdin, daemon=True).start()

    sys.stdout.write("PORT %d\n" % listener.getsockname()[1])
    sys.stdout.flush()

    while True:
        try:
            client, _ = listener.accept()
        except OSError:
            continue
        threading.Thread(target=serve, args=(client, args.port, args.delay_ms / 1000.0), daemon=True).start()


if __name__ == "__main__":
    main()
