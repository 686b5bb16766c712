#!/usr/bin/python3
"""A socket-level FTP server that answers one scripted way, for replies that real servers do not
give. Prints its port on the first line of standard output. Usage: ftp_mock.py SCENARIO
  multiline  a greeting of several lines whose middle lines begin with anything, then a download
             of "hello world" with its size in the 150 reply
  endless    a multi-line greeting that never ends
  pasv5      a PASV reply with five numbers
  garbage    a greeting without a code"""
import socket
import sys
import threading

DATA = b"hello world"


def lines(conn):
    buffer = b""
    while True:
        while b"\n" not in buffer:
            piece = conn.recv(4096)
            if not piece:
                return
            buffer += piece
        line, buffer = buffer.split(b"\n", 1)
        yield line.strip().decode("latin-1")


def session(conn, scenario):
    if scenario == "endless":
        conn.sendall(b"220-welcome\r\n")
        while True:
            conn.sendall(b"220-and more\r\n" * 100)
    if scenario == "garbage":
        conn.sendall(b"hello there\r\n")
        return
    conn.sendall(b"220-Welcome\r\nthis line has no code\r\n220-nor\r\n   this\r\n220 ready\r\n")
    data = None
    for line in lines(conn):
        verb = line.split(" ")[0].lower()
        if verb == "user":
            conn.sendall(b"331 password please\r\n")
        elif verb == "pass":
            conn.sendall(b"230-logged in\r\n230 fine\r\n")
        elif verb == "pasv":
            if scenario == "pasv5":
                conn.sendall(b"227 Entering Passive Mode (127,0,0,1,4)\r\n")
                continue
            data = socket.socket()
            data.bind(("127.0.0.1", 0))
            data.listen(1)
            port = data.getsockname()[1]
            conn.sendall(b"227 Entering Passive Mode (127,0,0,1,%d,%d).\r\n" % (port // 256, port % 256))
        elif verb == "type":
            conn.sendall(b"200 type set\r\n")
        elif verb == "retr":
            conn.sendall(b"150 Opening data connection for x (%d bytes)\r\n" % len(DATA))
            client, _ = data.accept()
            client.sendall(DATA)
            client.close()
            conn.sendall(b"226 done\r\n")
        elif verb == "quit":
            conn.sendall(b"221 bye\r\n")
            return
        else:
            conn.sendall(b"502 no\r\n")


def serve(conn, scenario):
    try:
        session(conn, scenario)
    except OSError:
        pass
    finally:
        conn.close()


def main():
    scenario = sys.argv[1]
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print(listener.getsockname()[1], flush=True)
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn, scenario), daemon=True).start()


if __name__ == "__main__":
    main()
