# A TLS 1.3 server (TLS_AES_128_GCM_SHA256 over X25519) whose CertificateVerify is signed with a key
# the test chooses, which real servers refuse to pair with a certificate that does not hold it.
#   /usr/bin/python3 Tls13SigningPeer.py PORT CHAIN.pem SIGNING.key
# Prints "READY"; for each connection, after its flight, prints what the client answered:
# "ALERT level description" (decrypted with the client's handshake keys) or "FINISHED" when the
# client's Finished arrived, or "CLOSED".
import hashlib, hmac, os, socket, ssl, struct, sys
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec, padding, rsa
from cryptography.hazmat.primitives.asymmetric.x25519 import X25519PrivateKey, X25519PublicKey
from cryptography.hazmat.primitives.ciphers.aead import AESGCM

port, chain_file, key_file = int(sys.argv[1]), sys.argv[2], sys.argv[3]
pem = open(chain_file).read()
blocks = [b for b in pem.split("-----END CERTIFICATE-----") if "-----BEGIN CERTIFICATE-----" in b]
chain = [ssl.PEM_cert_to_DER_cert(b[b.index("-----BEGIN"):] + "-----END CERTIFICATE-----\n") for b in blocks]
signing_key = serialization.load_pem_private_key(open(key_file, "rb").read(), password=None)


def hkdf_extract(salt, ikm):
    return hmac.new(salt, ikm, hashlib.sha256).digest()


def expand_label(secret, label, context, length):
    full = b"tls13 " + label
    info = struct.pack(">HB", length, len(full)) + full + bytes([len(context)]) + context
    out, block, counter = b"", b"", 1
    while len(out) < length:
        block = hmac.new(secret, block + info + bytes([counter]), hashlib.sha256).digest()
        out += block
        counter += 1
    return out[:length]


def handshake(kind, body):
    return bytes([kind]) + struct.pack(">I", len(body))[1:] + body


def read_record(connection):
    header = b""
    while len(header) < 5:
        part = connection.recv(5 - len(header))
        if not part:
            return None, None
        header += part
    length = struct.unpack(">H", header[3:5])[0]
    body = b""
    while len(body) < length:
        part = connection.recv(length - len(body))
        if not part:
            return None, None
        body += part
    return header, body


class Protection:
    def __init__(self, secret):
        self.key = expand_label(secret, b"key", b"", 16)
        self.iv = expand_label(secret, b"iv", b"", 12)
        self.sequence = 0

    def nonce(self):
        n = bytes(4) + struct.pack(">Q", self.sequence)
        self.sequence += 1
        return bytes(a ^ b for a, b in zip(self.iv, n))

    def seal(self, content_type, content):
        inner = content + bytes([content_type])
        header = struct.pack(">BHH", 23, 0x0303, len(inner) + 16)
        return header + AESGCM(self.key).encrypt(self.nonce(), inner, header)

    def open(self, header, body):
        inner = AESGCM(self.key).decrypt(self.nonce(), body, header).rstrip(b"\0")
        return inner[-1], inner[:-1]


def sign(content):
    if isinstance(signing_key, ec.EllipticCurvePrivateKey):
        curve = signing_key.curve.name
        algorithm = hashes.SHA256() if curve == "secp256r1" else hashes.SHA384()
        scheme = 0x0403 if curve == "secp256r1" else 0x0503
        return scheme, signing_key.sign(content, ec.ECDSA(algorithm))
    pss = padding.PSS(mgf=padding.MGF1(hashes.SHA256()), salt_length=32)
    return 0x0804, signing_key.sign(content, pss, hashes.SHA256())


def serve(connection):
    header, hello = read_record(connection)
    if hello is None or hello[0] != 1:
        return "CLOSED"
    # ClientHello: version, random, session id, suites, compression, extensions
    at = 4 + 2 + 32
    session_id = hello[at + 1:at + 1 + hello[at]]
    at += 1 + hello[at]
    at += 2 + struct.unpack(">H", hello[at:at + 2])[0]
    at += 1 + hello[at]
    end = at + 2 + struct.unpack(">H", hello[at:at + 2])[0]
    at += 2
    client_share = None
    while at < end:
        kind, length = struct.unpack(">HH", hello[at:at + 4])
        if kind == 51:
            shares, p = hello[at + 6:at + 4 + length], 0
            while p < len(shares):
                group, size = struct.unpack(">HH", shares[p:p + 4])
                if group == 0x001D:
                    client_share = shares[p + 4:p + 4 + size]
                p += 4 + size
        at += 4 + length
    private = X25519PrivateKey.generate()
    public = private.public_key().public_bytes(serialization.Encoding.Raw, serialization.PublicFormat.Raw)
    shared = private.exchange(X25519PublicKey.from_public_bytes(client_share))
    extensions = struct.pack(">HHH", 43, 2, 0x0304) + struct.pack(">HHHH", 51, 36, 0x001D, 32) + public
    server_hello = handshake(2, struct.pack(">H", 0x0303) + os.urandom(32) + bytes([len(session_id)]) + session_id +
                             struct.pack(">HBH", 0x1301, 0, len(extensions)) + extensions)
    transcript = hello + server_hello
    early = hkdf_extract(bytes(32), bytes(32))
    derived = expand_label(early, b"derived", hashlib.sha256(b"").digest(), 32)
    handshake_secret = hkdf_extract(derived, shared)
    digest = hashlib.sha256(transcript).digest()
    server_secret = expand_label(handshake_secret, b"s hs traffic", digest, 32)
    client_secret = expand_label(handshake_secret, b"c hs traffic", digest, 32)
    out, incoming = Protection(server_secret), Protection(client_secret)
    connection.sendall(struct.pack(">BHH", 22, 0x0303, len(server_hello)) + server_hello + b"\x14\x03\x03\x00\x01\x01")
    flight = b""
    for message in [handshake(8, b"\0\0"),
                    handshake(11, b"\0" + (lambda l: struct.pack(">I", len(l))[1:] + l)(
                        b"".join(struct.pack(">I", len(c))[1:] + c + b"\0\0" for c in chain)))]:
        transcript += message
        flight += out.seal(22, message)
    content = b" " * 64 + b"TLS 1.3, server CertificateVerify\0" + hashlib.sha256(transcript).digest()
    scheme, signature = sign(content)
    verify = handshake(15, struct.pack(">HH", scheme, len(signature)) + signature)
    transcript += verify
    flight += out.seal(22, verify)
    finished_key = expand_label(server_secret, b"finished", b"", 32)
    finished = handshake(20, hmac.new(finished_key, hashlib.sha256(transcript).digest(), hashlib.sha256).digest())
    flight += out.seal(22, finished)
    connection.sendall(flight)
    while True:
        header, body = read_record(connection)
        if header is None:
            return "CLOSED"
        if header[0] == 20:
            continue
        if header[0] == 21:
            return "ALERT %d %d" % (body[0], body[1])
        kind, content = incoming.open(header, body)
        if kind == 21:
            return "ALERT %d %d" % (content[0], content[1])
        if kind == 22 and content[0] == 20:
            return "FINISHED"


listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", port))
listener.listen(4)
print("READY", flush=True)
while True:
    connection, _ = listener.accept()
    try:
        print(serve(connection), flush=True)
    except Exception as error:  # a probe connection, or a client that went away
        print("CLOSED", error, flush=True)
    connection.close()
