#!/usr/bin/python3
"""An HTTPS elevation service on 127.0.0.1 for the terrain tests: GET /<file name> answers the file
from ROOT/www when the request carries the expected HTTP Basic credentials, 401 without them and 404
for a missing file. Every request is appended to ROOT/requests.log as "<path> <status>".

Usage: elevation_server.py ROOT CERT KEY PORT USER PASSWORD
"""
import base64
import os
import ssl
import sys
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

root, cert, key, port, user, password = sys.argv[1:7]
expected = "Basic " + base64.b64encode(("%s:%s" % (user, password)).encode()).decode()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        name = self.path.lstrip("/")
        file = os.path.join(root, "www", name)
        if self.headers.get("Authorization") != expected:
            status, body = 401, b"credentials refused"
        elif "/" in name or not os.path.isfile(file):
            status, body = 404, b"no such tile"
        else:
            status = 200
            with open(file, "rb") as f:
                body = f.read()
        with open(os.path.join(root, "requests.log"), "a") as log:
            log.write("%s %d\n" % (self.path, status))
        self.send_response(status)
        if status == 401:
            self.send_header("WWW-Authenticate", 'Basic realm="elevation"')
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *arguments):
        pass


server = ThreadingHTTPServer(("127.0.0.1", int(port)), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
server.socket = context.wrap_socket(server.socket, server_side=True)
server.serve_forever()
