# A slippy-map tile server over TLS on 127.0.0.1 for the tile map tests (run with /usr/bin/python3):
#   tile_server.py PORT CERT KEY [--missing Z/X/Y] [--stall Z/X/Y] [--corrupt Z/X/Y]
# GET /Z/X/Y.png or /Z/X/Y.jpg answers a 256x256 tile of one colour, tileColour(Z, X, Y); "missing"
# tiles answer 404, "stall" tiles never answer, "corrupt" tiles answer bytes that start like a PNG
# and are none. Every request path is printed, one per line, for the test to count.
import io, ssl, struct, sys, threading, time, zlib
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from PIL import Image


def tile_colour(z, x, y):
    return ((z * 40 + 20) % 256, (x * 50 + 30) % 256, (y * 60 + 40) % 256)


def png_bytes(colour):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    row = b"\x00" + bytes(colour) * 256
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 256, 256, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(row * 256)) + chunk(b"IEND", b""))


def jpeg_bytes(colour):
    out = io.BytesIO()
    Image.new("RGB", (256, 256), colour).save(out, "JPEG", quality=95)
    return out.getvalue()


def option(name):
    return sys.argv[sys.argv.index(name) + 1] if name in sys.argv else None


MISSING, STALL, CORRUPT = option("--missing"), option("--stall"), option("--corrupt")
LOG_LOCK = threading.Lock()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        path = self.path.split("?")[0].lstrip("/")
        with LOG_LOCK:
            print(path, flush=True)
        key, _, extension = path.rpartition(".")
        try:
            z, x, y = (int(part) for part in key.split("/"))
        except ValueError:
            self.send_error(400)
            return
        if key == STALL:
            time.sleep(3600)
            return
        if key == MISSING:
            body, status = b"no such tile", 404
        elif key == CORRUPT:
            body, status = b"\x89PNG\r\n\x1a\n" + b"\x00\x00\x00\x0dIHDR" + b"\xff" * 40, 200
        elif extension in ("jpg", "jpeg"):
            body, status = jpeg_bytes(tile_colour(z, x, y)), 200
        else:
            body, status = png_bytes(tile_colour(z, x, y)), 200
        self.send_response(status)
        self.send_header("Content-Type", "image/jpeg" if extension.startswith("jp") else "image/png")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


server = ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Handler)
server.daemon_threads = True
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(sys.argv[2], sys.argv[3])
server.socket = context.wrap_socket(server.socket, server_side=True)
server.serve_forever()
