"""Runs pyftpdlib for the benchmark: one user, passive ports, limits raised.

Usage: pyftpd_server.py PORT HOME USER PASSWORD PASV_LOW PASV_HIGH
(pyftpdlib itself comes from PYTHONPATH: the benchmark unpacks the Debian
package into a folder of its own.)
"""

import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    port, home, user, password, low, high = sys.argv[1:7]
    # Only problems: per-command logging would measure the terminal, not the server.
    logging.basicConfig(level=logging.WARNING)
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, home, perm="elradfmwMT")
    handler = FTPHandler
    handler.authorizer = authorizer
    handler.passive_ports = range(int(low), int(high) + 1)
    handler.banner = "pyftpdlib ready."
    server = FTPServer(("127.0.0.1", int(port)), handler, backlog=1024)
    server.max_cons = 2000
    server.max_cons_per_ip = 0
    server.serve_forever()


if __name__ == "__main__":
    main()
