# A loopback TCP proxy in front of a TLS 1.2 server that puts another certificate chain into the
# server's plaintext Certificate message and passes everything else through unchanged: the server's
# ServerKeyExchange then carries a signature made with a key other than the certificate's.
#   /usr/bin/python3 TlsCertificateSwapProxy.py LISTEN_PORT SERVER_PORT CHAIN.pem
# Prints "READY" once it listens; each connection is served on its own thread.
import socket, ssl, struct, sys, threading

listen_port, server_port, chain_file = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
pem = open(chain_file).read()
blocks = [b for b in pem.split("-----END CERTIFICATE-----") if "-----BEGIN CERTIFICATE-----" in b]
chain = [ssl.PEM_cert_to_DER_cert(b[b.index("-----BEGIN"):] + "-----END CERTIFICATE-----\n") for b in blocks]
entries = b"".join(struct.pack(">I", len(c))[1:] + c for c in chain)
certificate_body = struct.pack(">I", len(entries))[1:] + entries
certificate_message = bytes([11]) + struct.pack(">I", len(certificate_body))[1:] + certificate_body


def pump(source, target):
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            target.sendall(data)
    except OSError:
        pass
    for s in (source, target):
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def rewrite_server_flight(server, client):
    """Reads the server's handshake records up to ServerHelloDone, swaps the Certificate message and
    sends the flight on in records of its own."""
    buffered = b""
    handshake = b""
    while True:
        while len(buffered) < 5 or len(buffered) < 5 + struct.unpack(">H", buffered[3:5])[0]:
            data = server.recv(65536)
            if not data:
                return
            buffered += data
        length = struct.unpack(">H", buffered[3:5])[0]
        record_type, version, body = buffered[0], buffered[1:3], buffered[5:5 + length]
        buffered = buffered[5 + length:]
        if record_type != 22:
            client.sendall(bytes([record_type]) + version + struct.pack(">H", len(body)) + body + buffered)
            return
        handshake += body
        messages, position, done = [], 0, False
        while position + 4 <= len(handshake):
            size = struct.unpack(">I", b"\0" + handshake[position + 1:position + 4])[0]
            if position + 4 + size > len(handshake):
                break
            messages.append(handshake[position:position + 4 + size])
            done = done or handshake[position] == 14
            position += 4 + size
        if done:
            flight = b"".join(certificate_message if m[0] == 11 else m for m in messages) + handshake[position:]
            for start in range(0, len(flight), 16000):
                part = flight[start:start + 16000]
                client.sendall(bytes([22]) + version + struct.pack(">H", len(part)) + part)
            client.sendall(buffered)
            return


def handle(client):
    try:
        server = socket.create_connection(("127.0.0.1", server_port))
    except OSError:
        client.close()
        return
    threading.Thread(target=pump, args=(client, server), daemon=True).start()
    try:
        rewrite_server_flight(server, client)
    except OSError:
        return
    pump(server, client)


listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", listen_port))
listener.listen(8)
print("READY", flush=True)
while True:
    connection, _ = listener.accept()
    threading.Thread(target=handle, args=(connection,), daemon=True).start()
