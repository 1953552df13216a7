# A scripted TLS server for the cases real servers are not made to produce. After reading the
# ClientHello it either answers with a HelloRetryRequest asking for a cookie and the secp256r1 group
# and reports the bytes the client sends back ("retry"), or closes the connection ("close").
# Usage: /usr/bin/python3 TlsScriptedPeer.py port retry|close
#   prints "PORT n", then per connection "HELLO n" and, for retry, "RECEIVED hex"
import socket
import struct
import sys

HRR_RANDOM = bytes.fromhex("cf21ad74e59a6111be1d8c021e65b891c2a211167abb8c5e079e09e2c8a8339c")


def read_exactly(connection, count):
    data = b""
    while len(data) < count:
        part = connection.recv(count - len(data))
        if not part:
            break
        data += part
    return data


def hello_retry_request(session_id):
    extensions = struct.pack(">HHH", 43, 2, 0x0304)                  # supported_versions: TLS 1.3
    extensions += struct.pack(">HHH", 51, 2, 0x0017)                 # key_share: secp256r1
    extensions += struct.pack(">HHH", 44, 6, 4) + b"\x01\x02\x03\x04"  # cookie
    body = struct.pack(">H", 0x0303) + HRR_RANDOM + bytes([len(session_id)]) + session_id
    body += struct.pack(">HBH", 0x1301, 0, len(extensions)) + extensions
    message = bytes([2]) + struct.pack(">I", len(body))[1:] + body
    return struct.pack(">BHH", 22, 0x0303, len(message)) + message


def main():
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", int(sys.argv[1]) if len(sys.argv) > 1 else 0))
    listener.listen(4)
    print("PORT %d" % listener.getsockname()[1], flush=True)
    while True:
        connection, _ = listener.accept()
        connection.settimeout(5)
        try:
            header = read_exactly(connection, 5)
            if len(header) < 5:
                continue
            hello = read_exactly(connection, struct.unpack(">H", header[3:5])[0])
            print("HELLO %d" % len(hello), flush=True)
            if len(sys.argv) > 2 and sys.argv[2] == "close":
                continue
            session_id = hello[4 + 2 + 32 + 1:4 + 2 + 32 + 1 + hello[4 + 2 + 32]]
            connection.sendall(hello_retry_request(session_id))
            answer = b""
            try:
                while len(answer) < 7:
                    part = connection.recv(64)
                    if not part:
                        break
                    answer += part
            except socket.timeout:
                pass
            print("RECEIVED " + answer.hex(), flush=True)
        finally:
            connection.close()


if __name__ == "__main__":
    sys.exit(main())
