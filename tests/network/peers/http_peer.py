#!/usr/bin/python3
"""A loopback HTTP/1.1 server for the transfer tests: well-behaved and hostile replies chosen by
the request path. Prints its port on the first line of standard output, then serves until it is
killed. Usage: http_peer.py [--root DIR]"""
import os
import socket
import struct
import sys
import threading
import time

ROOT = "."


def read_head(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        piece = conn.recv(65536)
        if not piece:
            return None, b""
        data += piece
    head, rest = data.split(b"\r\n\r\n", 1)
    return head.decode("latin-1"), rest


def header(head, name):
    for line in head.split("\r\n")[1:]:
        key, _, value = line.partition(":")
        if key.strip().lower() == name:
            return value.strip()
    return None


def reply(conn, status, body=b"", extra="", length=True):
    text = "HTTP/1.1 %s\r\n%s" % (status, extra)
    if length:
        text += "Content-Length: %d\r\n" % len(body)
    conn.sendall(text.encode("latin-1") + b"\r\n" + body)


def wait_close(conn, seconds=30):
    conn.settimeout(seconds)
    try:
        while conn.recv(65536):
            pass
    except OSError:
        pass


def handle(conn, port):
    head, rest = read_head(conn)
    if head is None:
        return
    method, target, _ = head.split("\r\n")[0].split(" ", 2)
    length = int(header(head, "content-length") or 0)
    while len(rest) < length:
        piece = conn.recv(65536)
        if not piece:
            break
        rest += piece
    if target.startswith("http://"):
        # A request through a proxy names the whole URL.
        target = "/" + target[7:].partition("/")[2]
    path, _, query = target.partition("?")
    parts = path.strip("/").split("/")
    name = parts[0]

    if name == "record":
        reply(conn, "200 OK", (head + "\r\n\r\n").encode("latin-1") + rest)
    elif name == "echo":
        reply(conn, "200 OK", ("%s %s\n" % (method, target)).encode() + rest)
    elif name == "file":
        with open(os.path.join(ROOT, parts[1]), "rb") as f:
            reply(conn, "200 OK", f.read())
    elif name == "chunked":
        conn.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n"
                     b"5;name=value\r\nhello\r\n6 \r\n world\r\n0\r\n\r\n")
    elif name == "redirect":
        n = int(parts[1])
        if n == 0:
            reply(conn, "200 OK", b"done")
        elif n % 2:
            reply(conn, "301 Moved", b"redirect %d" % n,
                  "Location: http://127.0.0.1:%d/redirect/%d\r\n" % (port, n - 1))
        else:
            reply(conn, "302 Found", b"redirect %d" % n, "location:   /redirect/%d\r\n" % (n - 1))
    elif name == "relative":
        if parts[-1] == "b":
            reply(conn, "307 Temporary", b"", "Location: c?x=1\r\n")
        else:
            reply(conn, "200 OK", ("%s %s" % (method, target)).encode())
    elif name == "seeother":
        reply(conn, "303 See Other", b"", "Location: /echo\r\n")
    elif name == "status":
        code = int(parts[1])
        reply(conn, "%d Status" % code, b"" if code in (204, 304) else b"status %d" % code)
    elif name == "continue":
        conn.sendall(b"HTTP/1.1 100 Continue\r\nX-A: b\r\n\r\n"
                     b"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")
    elif name == "keepalive-empty":
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: keep-alive\r\n\r\n")
        wait_close(conn)
    elif name == "close-delimited":
        conn.sendall(b"HTTP/1.1 200 OK\r\n\r\n" + b"x" * 20000)
    elif name == "headers":
        # Blanks around names and values, names in any case, a 1023-byte line whose tail must not
        # be taken for a header of its own.
        conn.sendall(b"HTTP/1.1 200 OK\r\nX-Long: " + b"y" * 1015 + b"Content-Length: 999\r\n"
                     b"content-LENGTH :  3 \r\n\r\nabc")
    elif name == "big":
        total = int(parts[1])
        block = bytes(range(256)) * 4096
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % total)
        while total > 0:
            n = min(total, len(block))
            conn.sendall(block[:n])
            total -= n
    elif name == "cut":
        # Announces a body and closes after part of it.
        sent, announced = int(parts[1]), int(parts[2])
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % announced)
        conn.sendall(b"c" * sent)
    elif name == "bad-chunk-line":
        conn.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                     b"5\r\nhello\r\nzz\r\nmore\r\n0\r\n\r\n")
    elif name == "slow":
        # The body in pieces of 64 KiB, one every 20 ms.
        total = int(parts[1])
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % total)
        while total > 0:
            n = min(total, 65536)
            conn.sendall(b"s" * n)
            total -= n
            time.sleep(0.02)
    elif name == "stall":
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc")
        wait_close(conn)
    elif name == "silent":
        wait_close(conn)
    elif name == "midclose":
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789")
    elif name == "reset":
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + b"z" * 1000)
        time.sleep(0.1)
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    elif name == "endless-headers":
        conn.sendall(b"HTTP/1.1 200 OK\r\n")
        try:
            while True:
                conn.sendall(b"X-Filler: " + b"f" * 100 + b"\r\n")
        except OSError:
            pass
    elif name == "huge-length":
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 1000000000000\r\n\r\nhello")
    elif name == "big-chunk":
        conn.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                     b"FFFFFFFFFFFFFFFFFFFF\r\nabc")
        wait_close(conn, 5)
    elif name == "no-http":
        conn.sendall(b"HTTX/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")
    elif name == "gzip":
        conn.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\nxx")
    else:
        reply(conn, "404 Not Found", b"no such page")


def serve(conn, port):
    try:
        handle(conn, port)
    except OSError:
        pass
    finally:
        conn.close()


def main():
    global ROOT
    if len(sys.argv) > 2 and sys.argv[1] == "--root":
        ROOT = sys.argv[2]
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    port = listener.getsockname()[1]
    print(port, flush=True)
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn, port), daemon=True).start()


if __name__ == "__main__":
    main()
