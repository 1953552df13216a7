# An independent reading and writing of the relay link's datagrams with python3-cryptography.
# Commands on standard input, one a line; one answer line each on standard output:
#   keys HOST_PRIVATE CLIENT_PUBLIC NONCE  -> "public HOST_PUBLIC" (the keys of every later command)
#   open DATAGRAM [STREAM]                 -> "inner TYPE PEER STREAM COUNTER INNER" or "bad WHY" (a hello
#                                             is opened for STREAM, 0 when not given)
#   seal TYPE PEER STREAM COUNTER INNER    -> "sealed DATAGRAM" (type 3 or 4, a random IV)
#   hello PEER STREAMS COUNTER BLOCK [STREAM] -> "sealed DATAGRAM" (a hello with its sealed block, sealed
#                                             for STREAM, 0 when not given)
#   proof PASSWORD STREAM                  -> "proof PROOF" (a hello's proof of the 8-byte password)
#   fingerprint                            -> "fingerprint AABB CCDD EEFF 0011 2233" (of the two keys)
# All values hex, numbers decimal. The MAC covers the stream byte, then the datagram before it.
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
host_public = client_public = nonce = b''


def mac_of(stream, body):
    return hmac.new(mac_key, bytes([stream]) + body, hashlib.sha256).digest()[:16]


def seal(header, stream, counter, inner):
    iv = os.urandom(16)
    padder = padding.PKCS7(128).padder()
    padded = padder.update(inner) + padder.finalize()
    encryptor = Cipher(algorithms.AES(cipher_key), modes.CBC(iv)).encryptor()
    body = header + struct.pack('<Q', counter) + iv + encryptor.update(padded) + encryptor.finalize()
    return body + mac_of(stream, body)


def open_datagram(data, hello_stream):
    header = 36 if data[0] == 2 else 4
    if len(data) < header + 8 + 16 + 16 + 16:
        return 'bad short'
    body, mac = data[:-16], data[-16:]
    stream = hello_stream if data[0] == 2 else data[3]
    if not hmac.compare_digest(mac_of(stream, body), mac):
        return 'bad mac'
    counter = struct.unpack_from('<Q', data, header)[0]
    iv = data[header + 8:header + 24]
    decryptor = Cipher(algorithms.AES(cipher_key), modes.CBC(iv)).decryptor()
    padded = decryptor.update(body[header + 24:]) + decryptor.finalize()
    unpadder = padding.PKCS7(128).unpadder()
    inner = unpadder.update(padded) + unpadder.finalize()
    peer = struct.unpack_from('<H', data, 1)[0]
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
        nonce = bytes.fromhex(words[3])
        k = hashlib.sha256(shared + host_public + client_public + nonce).digest()
        cipher_key, mac_key = k[:16], k[16:]
        print('public ' + host_public.hex())
    elif words[0] == 'open':
        print(open_datagram(bytes.fromhex(words[1]), int(words[2]) if len(words) > 2 else 0))
    elif words[0] == 'seal':
        kind, peer, stream, counter = (int(w) for w in words[1:5])
        inner = bytes.fromhex(words[5]) if len(words) > 5 else b''
        print('sealed ' + seal(struct.pack('<BHB', kind, peer, stream), stream, counter, inner).hex())
    elif words[0] == 'hello':
        peer, streams, counter = (int(w) for w in words[1:4])
        header = struct.pack('<BH', 2, peer) + client_public + bytes([streams])
        stream = int(words[5]) if len(words) > 5 else 0
        print('sealed ' + seal(header, stream, counter, bytes.fromhex(words[4])).hex())
    elif words[0] == 'proof':
        message = b'orvik control proof' + host_public + client_public + nonce + bytes([int(words[2])])
        print('proof ' + hmac.new(bytes.fromhex(words[1]), message, hashlib.sha256).digest()[:16].hex())
    elif words[0] == 'fingerprint':
        digest = hashlib.sha256(host_public + client_public).digest()
        print('fingerprint ' + ' '.join(digest[i:i + 2].hex().upper() for i in range(0, 10, 2)))
    sys.stdout.flush()
