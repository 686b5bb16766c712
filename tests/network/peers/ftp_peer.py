#!/usr/bin/python3
"""A loopback FTP server (pyftpdlib) for the transfer tests: the guest login and the user "user"
with the password "secret", both reading and writing DIR. Prints its port on the first line of
standard output, then serves until it is killed. Usage: ftp_peer.py DIR"""
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    root = sys.argv[1]
    logging.disable(logging.CRITICAL)
    authorizer = DummyAuthorizer()
    authorizer.add_user("user", "secret", root, perm="elradfmw")
    authorizer.add_anonymous(root, perm="elradfmw")
    handler = FTPHandler
    handler.authorizer = authorizer
    handler.passive_ports = None
    # A refused login is answered at once, not after the usual pause.
    handler.auth_failed_timeout = 0.01
    server = FTPServer(("127.0.0.1", 0), handler)
    print(server.address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
