#!/usr/bin/env python3
"""An HTTPS server on 127.0.0.1 for the tests: serves the files of ROOT with
the certificate chain CERT and key KEY on a free port, which it writes to
PORT_FILE once it listens. Runs until it is killed.

    tls_server.py ROOT CERT KEY PORT_FILE
"""
import functools
import http.server
import os
import ssl
import sys

root, cert, key, port_file = sys.argv[1:5]


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Quiet, directory=root))
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
server.socket = context.wrap_socket(server.socket, server_side=True)
with open(port_file + ".part", "w") as f:
    f.write(str(server.server_address[1]))
os.rename(port_file + ".part", port_file)
server.serve_forever()
