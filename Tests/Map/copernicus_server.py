# A stand-in for the Copernicus Data Space over TLS on 127.0.0.1 (run with /usr/bin/python3):
#   copernicus_server.py PORT CERT KEY FOLDER
# One server answers for the identity, catalogue and download hosts:
#   POST /auth/realms/CDSE/protocol/openid-connect/token  password grant for USER / PASSWORD, and the
#                                                           refresh-token grant for the refresh token
#                                                           last issued; each grant makes the access
#                                                           and refresh tokens issued before it invalid
#   GET  /odata/v1/Products?$filter=...                    the products whose cloud cover is at most
#                                                           the filter's limit, as the OData JSON list
#   GET  /odata/v1/Products(ID)/$value                      the product (Bearer token required); the
#                                                           "cut" product stops after a third and drops
#                                                           the connection; the "moved" product is
#                                                           redirected to d.test, the "loop" product
#                                                           to itself again and again
#   GET  /files/ID                                          the moved product, refused when it comes
#                                                           with an Authorization header
# FOLDER/whole.bin receives the whole product's bytes for the test to compare. Each request is
# printed as one line: the method, the path with its query decoded, and the form's user name.
import json, os, re, socket, ssl, sys, threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, unquote, urlsplit

USER, PASSWORD = "pilot@example.org", "c0rrect h&rse="
ISSUED = {"serial": 42}  # the tokens valid now: access "eyJhbGciOi.test-token_<serial>", refresh "refresh-<serial>"
token = lambda: "eyJhbGciOi.test-token_%d" % ISSUED["serial"]
refresh_token = lambda: "refresh-%d" % ISSUED["serial"]
WHOLE = os.urandom(300000 + 17)
with open(os.path.join(sys.argv[4], "whole.bin"), "wb") as f:
    f.write(WHOLE)
PRODUCTS = [
    {"Id": "0a1b2c3d-0000-4000-8000-000000000001", "Name": "S2B_MSIL2A_20250704T103629_N0511_R008_T32TLS.SAFE",
     "cloud": 4.25, "start": "2025-07-04T10:36:29.024Z", "bytes": WHOLE},
    {"Id": "0a1b2c3d-0000-4000-8000-000000000002", "Name": "S2A_MSIL2A_20250711T103031_N0511_R108_T32TLS.SAFE",
     "cloud": 27.5, "start": "2025-07-11T10:30:31.024Z", "bytes": None},
    {"Id": "0a1b2c3d-0000-4000-8000-000000000003", "Name": "S2A_MSIL1C_20250721T103031_N0511_R108_T32TLS.SAFE",
     "cloud": 61.0, "start": "2025-07-21T10:30:31.024Z", "bytes": WHOLE},
    {"Id": "0a1b2c3d-0000-4000-8000-000000000004", "Name": "S2B_MSIL2A_20250724T103629_N0511_R008_T32TLT.SAFE",
     "cloud": 70.0, "start": "2025-07-24T10:36:29.024Z", "bytes": WHOLE, "moved": True},
    {"Id": "0a1b2c3d-0000-4000-8000-000000000005", "Name": "S2A_MSIL2A_20250731T103031_N0511_R108_T32TLT.SAFE",
     "cloud": 80.0, "start": "2025-07-31T10:30:31.024Z", "bytes": WHOLE, "loop": True},
]
LOCK = threading.Lock()


def log(line):
    with LOCK:
        print(line, flush=True)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, status, body, content_type="application/json"):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        form = parse_qs(self.rfile.read(length).decode(), keep_blank_values=True)
        first = lambda key: form.get(key, [""])[0]
        log("POST %s user=%s type=%s grant=%s" % (self.path, first("username"), self.headers.get("Content-Type"),
                                                  first("grant_type")))
        if self.path != "/auth/realms/CDSE/protocol/openid-connect/token" or first("client_id") != "cdse-public":
            return self.reply(404, b'{"error":"not_found"}')
        if first("grant_type") == "refresh_token":
            if first("refresh_token") != refresh_token():
                return self.reply(400, json.dumps({"error": "invalid_grant",
                                                   "error_description": "Token is not active"}).encode())
        elif first("grant_type") != "password" or first("username") != USER or first("password") != PASSWORD:
            return self.reply(401, json.dumps({"error": "invalid_grant",
                                               "error_description": "Invalid user credentials"}).encode())
        with LOCK:
            ISSUED["serial"] += 1
        self.reply(200, json.dumps({"access_token": token(), "expires_in": 600, "refresh_token": refresh_token(),
                                    "refresh_expires_in": 3600, "token_type": "Bearer",
                                    "scope": "AUDIENCE_PUBLIC"}).encode())

    def do_GET(self):
        parts = urlsplit(self.path)
        log("GET %s?%s" % (unquote(parts.path), unquote(parts.query)))
        query = parse_qs(parts.query)
        if parts.path == "/odata/v1/Products":
            limit = re.search(r"Value le ([0-9.]+)\)", query.get("$filter", [""])[0])
            ceiling = float(limit.group(1)) if limit else 100.0
            value = [{"@odata.mediaContentType": "application/octet-stream", "Id": p["Id"], "Name": p["Name"],
                      "ContentType": "application/octet-stream", "ContentLength": len(p["bytes"] or WHOLE),
                      "ContentDate": {"Start": p["start"], "End": p["start"]}, "Online": True,
                      "Attributes": [{"@odata.type": "#OData.CSC.StringAttribute", "Name": "tileId",
                                      "Value": "32TLS", "ValueType": "String"},
                                     {"@odata.type": "#OData.CSC.DoubleAttribute", "Value": p["cloud"],
                                      "Name": "cloudCover", "ValueType": "Double"}]}
                     for p in PRODUCTS if p["cloud"] <= ceiling]
            return self.reply(200, json.dumps({"@odata.context": "$metadata#Products(Attributes())",
                                               "value": value}).encode())
        moved = re.fullmatch(r"/files/([0-9a-f-]+)", parts.path)
        if moved:
            host = self.headers.get("Host", "").split(":")[0]
            auth = self.headers.get("Authorization")
            log("FILE %s host=%s auth=%s" % (moved.group(1), host, "yes" if auth else "no"))
            if auth:
                return self.reply(400, b'{"detail":"Only one auth mechanism allowed"}')
            return self.reply(200, WHOLE, "application/zip")
        match = re.fullmatch(r"/odata/v1/Products\(([0-9a-f-]+)\)/\$value", parts.path)
        product = next((p for p in PRODUCTS if match and p["Id"] == match.group(1)), None)
        if product is None:
            return self.reply(404, b'{"detail":"Product not found"}')
        if self.headers.get("Authorization") != "Bearer " + token():
            return self.reply(401, b'{"detail":"Expired signature!"}')
        if product.get("moved") or product.get("loop"):
            hop = int(parse_qs(parts.query).get("hop", ["0"])[0])
            target = ("https://d.test:%d/files/%s" % (self.server.server_address[1], product["Id"])
                      if product.get("moved") else "%s?hop=%d" % (parts.path, hop + 1))
            self.send_response(302)
            self.send_header("Location", target)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if product["bytes"] is None:
            # A third of the product, then the connection is dropped without a TLS close.
            self.send_response(200)
            self.send_header("Content-Type", "application/zip")
            self.send_header("Content-Length", str(len(WHOLE)))
            self.end_headers()
            self.wfile.write(WHOLE[:len(WHOLE) // 3])
            self.wfile.flush()
            raw = socket.socket(fileno=os.dup(self.connection.fileno()))
            raw.shutdown(socket.SHUT_RDWR)
            raw.close()
            self.close_connection = True
            return
        self.reply(200, product["bytes"], "application/zip")


server = ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Handler)
server.daemon_threads = True
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(sys.argv[2], sys.argv[3])
server.socket = context.wrap_socket(server.socket, server_side=True)
server.serve_forever()
