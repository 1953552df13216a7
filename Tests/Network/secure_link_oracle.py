# An independent reading and writing of the relay link's datagrams with python3-cryptography.
# Commands on standard input, one a line; one answer line each on standard output:
#   keys HOST_PRIVATE CLIENT_PUBLIC NONCE  -> "public HOST_PUBLIC" (the keys of every later command)
#   open DATAGRAM                          -> "inner TYPE PEER STREAM COUNTER INNER" or "bad WHY"
#   seal TYPE PEER STREAM COUNTER INNER    -> "sealed DATAGRAM" (type 3 or 4, a random IV)
#   hello PEER STREAMS COUNTER BLOCK       -> "sealed DATAGRAM" (a hello with its sealed block)
#   fingerprint                            -> "fingerprint AA:BB:CC:DD:EE:FF" (of the two keys)
# All values hex, numbers decimal.
import hashlib
import hmac
import os
import struct
import sys

from cryptography.hazmat.primitives import padding
from cryptography.hazmat.primitives.serialization import Encoding, PublicFormat
from cryptography.hazmat.primitives.asymmetric.x25519 import X25519PrivateKey, X25519PublicKey
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

cipher_key = mac_key = None
host_public = client_public = b''


def seal(header, counter, inner):
    iv = os.urandom(16)
    padder = padding.PKCS7(128).padder()
    padded = padder.update(inner) + padder.finalize()
    encryptor = Cipher(algorithms.AES(cipher_key), modes.CBC(iv)).encryptor()
    body = header + struct.pack('<Q', counter) + iv + encryptor.update(padded) + encryptor.finalize()
    return body + hmac.new(mac_key, body, hashlib.sha256).digest()[:16]


def open_datagram(data):
    header = 36 if data[0] == 2 else 4
    if len(data) < header + 8 + 16 + 16 + 16:
        return 'bad short'
    body, mac = data[:-16], data[-16:]
    if not hmac.compare_digest(hmac.new(mac_key, body, hashlib.sha256).digest()[:16], mac):
        return 'bad mac'
    counter = struct.unpack_from('<Q', data, header)[0]
    iv = data[header + 8:header + 24]
    decryptor = Cipher(algorithms.AES(cipher_key), modes.CBC(iv)).decryptor()
    padded = decryptor.update(body[header + 24:]) + decryptor.finalize()
    unpadder = padding.PKCS7(128).unpadder()
    inner = unpadder.update(padded) + unpadder.finalize()
    peer = struct.unpack_from('<H', data, 1)[0]
    stream = data[35] if data[0] == 2 else data[3]
    return f'inner {data[0]} {peer} {stream} {counter} {inner.hex()}'


for line in sys.stdin:
    words = line.split()
    if not words:
        continue
    if words[0] == 'keys':
        private = X25519PrivateKey.from_private_bytes(bytes.fromhex(words[1]))
        client_public = bytes.fromhex(words[2])
        host_public = private.public_key().public_bytes(Encoding.Raw, PublicFormat.Raw)
        shared = private.exchange(X25519PublicKey.from_public_bytes(client_public))
        k = hashlib.sha256(shared + host_public + client_public + bytes.fromhex(words[3])).digest()
        cipher_key, mac_key = k[:16], k[16:]
        print('public ' + host_public.hex())
    elif words[0] == 'open':
        print(open_datagram(bytes.fromhex(words[1])))
    elif words[0] == 'seal':
        kind, peer, stream, counter = (int(w) for w in words[1:5])
        inner = bytes.fromhex(words[5]) if len(words) > 5 else b''
        print('sealed ' + seal(struct.pack('<BHB', kind, peer, stream), counter, inner).hex())
    elif words[0] == 'hello':
        peer, streams, counter = (int(w) for w in words[1:4])
        header = struct.pack('<BH', 2, peer) + client_public + bytes([streams])
        print('sealed ' + seal(header, counter, bytes.fromhex(words[4])).hex())
    elif words[0] == 'fingerprint':
        digest = hashlib.sha256(host_public + client_public).digest()
        print('fingerprint ' + ':'.join(f'{b:02X}' for b in digest[:6]))
    sys.stdout.flush()
