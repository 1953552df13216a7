#!/usr/bin/env python3
"""Recomputes the self tests' expected values with independent implementations: python's hashlib
and hmac, python3-cryptography (HKDF, AES, X25519), python's pow, and a brute force over the small
curve y^2 = x^3 + 2x + 3 mod 97. Reads the JSON the test writes; prints each mismatch and exits 1
when there is one, else prints "checked N".

    /usr/bin/python3 check_vectors.py vectors.json
"""
import hashlib
import hmac
import json
import sys

from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric.x25519 import X25519PrivateKey, X25519PublicKey
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
from cryptography.hazmat.primitives.ciphers.aead import AESGCM
from cryptography.hazmat.primitives.kdf.hkdf import HKDFExpand

HASHES = {'md5': 'md5', 'sha1': 'sha1', 'sha256': 'sha256', 'sha384': 'sha384', 'sha512': 'sha512'}


def hash_vector(v):
    message = v['text'].encode() if v['text'] is not None else bytes.fromhex(v['hex'])
    f = v['function']
    if f in HASHES:
        return hashlib.new(HASHES[f], message).hexdigest()
    if f.startswith('hmac-'):
        return hmac.new(bytes.fromhex(v['key']), message, f[5:]).hexdigest()
    if f == 'hkdf-expand-sha256':
        length = len(v['expected']) // 2
        return HKDFExpand(hashes.SHA256(), length, message).derive(bytes.fromhex(v['key'])).hex()
    raise ValueError(f)


def aes_vector(v):
    key, iv, plaintext = bytes.fromhex(v['key']), bytes.fromhex(v['iv']), bytes.fromhex(v['plaintext'])
    if v['mode'] == 'cbc':
        e = Cipher(algorithms.AES(key), modes.CBC(iv)).encryptor()
        return (e.update(plaintext) + e.finalize()).hex(), ''
    sealed = AESGCM(key).encrypt(iv, plaintext, bytes.fromhex(v['aad']) or None)
    return sealed[:-16].hex(), sealed[-16:].hex()


def x25519(scalar, u):
    private = X25519PrivateKey.from_private_bytes(scalar)
    return private.exchange(X25519PublicKey.from_public_bytes(u))


P, A, B = 97, 2, 3


def add(p, q):
    if p is None:
        return q
    if q is None:
        return p
    if p[0] == q[0] and (p[1] + q[1]) % P == 0:
        return None
    if p == q:
        slope = (3 * p[0] * p[0] + A) * pow(2 * p[1], -1, P) % P
    else:
        slope = (q[1] - p[1]) * pow(q[0] - p[0], -1, P) % P
    x = (slope * slope - p[0] - q[0]) % P
    return x, (slope * (p[0] - x) - p[1]) % P


def on_curve(x, y):
    return x < P and y < P and (y * y - x * x * x - A * x - B) % P == 0


def small_curve(c):
    """The case's status and point by repeated addition."""
    p = (c['px'], c['py'])
    if c['operation'] == 'add':
        r = add(p, (c['qx'], c['qy']))
    elif c['operation'] == 'double':
        r = add(p, p)
    else:
        if c['operation'] == 'scale-validated' and not on_curve(*p):
            return 2, None
        r = None
        for _ in range(c['scalar']):
            r = add(r, p)
    return (1, None) if r is None else (0, r)


def main():
    with open(sys.argv[1]) as f:
        data = json.load(f)
    failures, checked = [], 0
    for i, v in enumerate(data['hashes']):
        checked += 1
        got = hash_vector(v)
        if got != v['expected']:
            failures.append('hash %d (%s): expected %s, python says %s' % (i, v['function'], v['expected'], got))
    for i, v in enumerate(data['aes']):
        checked += 1
        ciphertext, tag = aes_vector(v)
        if ciphertext != v['ciphertext'] or tag != v['tag']:
            failures.append('aes %d: python says %s %s' % (i, ciphertext, tag))
    for i, v in enumerate(data['x25519']):
        checked += 1
        got = x25519(bytes.fromhex(v['scalar']), bytes.fromhex(v['u'])).hex()
        if got != v['expected']:
            failures.append('x25519 %d: python says %s' % (i, got))
    k = u = (9).to_bytes(32, 'little')
    for n in range(1, 1001):
        k, u = x25519(k, u), k
        if n == 1 and k.hex() != data['iteratedOnce']:
            failures.append('x25519 after 1 iteration: python says %s' % k.hex())
    checked += 2
    if k.hex() != data['iteratedThousand']:
        failures.append('x25519 after 1,000 iterations: python says %s' % k.hex())
    for i, c in enumerate(data['smallCurve']):
        checked += 1
        status, point = small_curve(c)
        if status != c['status'] or (status == 0 and point != (c['x'], c['y'])):
            failures.append('small curve %d (%s): python says %d %s' % (i, c['operation'], status, point))
    for c in data['powers']:
        checked += 1
        base, exponent, modulus = (int(c[key], 16) for key in ('base', 'exponent', 'modulus'))
        if pow(base, exponent, modulus) != int(c['result'], 16):
            failures.append('%x^%x mod %x: python says %x' % (base, exponent, modulus, pow(base, exponent, modulus)))
    for line in failures:
        print(line)
    print('checked %d' % checked)
    sys.exit(1 if failures else 0)


if __name__ == '__main__':
    main()
