#!/usr/bin/env python3
"""Records the three connections that the TLS self tests replay, with the program's own TLS client
against openssl s_server on loopback, and writes them as recordings or as the program's data tables.

    record_tls_sessions.py RECORDER OUTPUT-DIR [--tables SelfTests/TlsRecordings.cpp]

RECORDER is the tls_session_recorder program of the test build (Tests/SelfTests/Recorder). The
script makes a test authority and server certificates (EC P-256 for TLS 1.3, RSA for TLS 1.2)
valid for "localhost", then records
  tls13.txt         TLS 1.3, TLS_AES_256_GCM_SHA384: the client sends "ping", the server "pong";
  tls12basic.txt    TLS 1.2, ECDHE-RSA-AES128-SHA without encrypt-then-MAC or the extended master
                    secret: "ping" and "pong";
  tls12extended.txt the same suite with both extensions: GET /test.txt, the file, close_notify.
Each recording is a text file of "key value" lines (the recorder's lines plus "authority", the test
authority's certificate as DER hex). With --tables the recordings are also written as C++.
"""
import os
import socket
import subprocess
import sys
import tempfile
import threading

OPENSSL = 'openssl'
HOST = 'localhost'
HTTP_REQUEST = b'GET /test.txt HTTP/1.1\r\nHost: localhost\r\nUser-Agent: Orvik\r\n\r\n'
FILE_TEXT = b'EAT FLAMING DEATH'
NO_EMS_CONFIG = """openssl_conf = openssl_init
[openssl_init]
ssl_conf = ssl_sect
[ssl_sect]
noems = noems_sect
[noems_sect]
Options = -ExtendedMasterSecret
"""


def run(args, cwd):
    subprocess.run(args, cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_pki(d):
    run([OPENSSL, 'req', '-x509', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:P-256', '-nodes',
         '-keyout', 'ca.key', '-out', 'ca.crt', '-days', '3650', '-subj', '/CN=Orvik Test Authority',
         '-addext', 'basicConstraints=critical,CA:TRUE', '-addext', 'keyUsage=critical,keyCertSign,cRLSign'], d)
    with open(os.path.join(d, 'server.ext'), 'w') as f:
        f.write('basicConstraints=CA:FALSE\nsubjectAltName=DNS:localhost,IP:127.0.0.1\n'
                'keyUsage=critical,digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n')
    for name, key in (('ec', ['-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:P-256']),
                      ('rsa', ['-newkey', 'rsa:2048'])):
        run([OPENSSL, 'req'] + key + ['-nodes', '-keyout', name + '.key', '-out', name + '.csr',
                                       '-subj', '/CN=localhost'], d)
        run([OPENSSL, 'x509', '-req', '-in', name + '.csr', '-CA', 'ca.crt', '-CAkey', 'ca.key',
             '-CAcreateserial', '-days', '3650', '-extfile', 'server.ext', '-out', name + '.crt'], d)
    run([OPENSSL, 'x509', '-in', 'ca.crt', '-outform', 'DER', '-out', 'ca.der'], d)
    with open(os.path.join(d, 'test.txt'), 'wb') as f:
        f.write(FILE_TEXT)
    with open(os.path.join(d, 'noems.cnf'), 'w') as f:
        f.write(NO_EMS_CONFIG)


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def answer_ping(server):
    """Writes "pong" to the server's input once the client's "ping" shows on its output."""
    seen = b''
    while True:
        chunk = server.stdout.read1(4096) if hasattr(server.stdout, 'read1') else server.stdout.read(1)
        if not chunk:
            return
        seen += chunk
        if b'ping' in seen:
            server.stdin.write(b'pong')
            server.stdin.flush()
            return


def record(recorder, d, name, server_args, request, until_close=False, env=None):
    port = free_port()
    server = subprocess.Popen([OPENSSL, 's_server', '-accept', '127.0.0.1:%d' % port, '-quiet'] + server_args,
                              cwd=d, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              env=env)
    try:
        responder = threading.Thread(target=answer_ping, args=(server,), daemon=True)
        responder.start()
        request_path = os.path.join(d, name + '.request')
        with open(request_path, 'wb') as f:
            f.write(request)
        output = os.path.join(d, name + '.txt')
        args = [recorder, str(port), HOST, os.path.join(d, 'ca.der'), request_path, output]
        if until_close:
            args.append('--until-close')
        result = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        if result.returncode != 0:
            sys.exit('%s: the recorder failed: %s' % (name, result.stderr.decode(errors='replace')))
    finally:
        server.kill()
        server.wait()
    with open(os.path.join(d, 'ca.der'), 'rb') as f:
        authority = f.read().hex()
    with open(output) as f:
        text = f.read()
    return 'authority %s\n' % authority + text


def parse(text):
    fields, flights = {}, []
    for line in text.splitlines():
        parts = line.split(' ')
        if parts[0] == 'flight':
            flights.append((parts[1] == 'server', bytes.fromhex(parts[2] if len(parts) > 2 else '')))
        elif parts[0]:
            fields[parts[0]] = parts[1] if len(parts) > 1 else ''
    return fields, flights


def c_bytes(data, indent='    '):
    lines = []
    for i in range(0, len(data), 16):
        lines.append(indent + ', '.join('0x%02x' % b for b in data[i:i + 16]) + ',')
    return '\n'.join(lines) if lines else indent + '0x00,'


def tables(recordings):
    out = ['// Written by Tools/record_tls_sessions.py: connections of the program\'s own TLS client with',
           '// openssl s_server on loopback, replayed by the TLS self tests. Do not edit by hand.',
           '#include "SelfTests/TlsRecording.h"', '', 'namespace {', '']
    for name, symbol, text in recordings:
        fields, flights = parse(text)
        for key in ('authority', 'private', 'public', 'hello', 'request', 'reply'):
            data = bytes.fromhex(fields[key])
            out.append('const u8 k%s_%s[%d] = {' % (name, key, max(len(data), 1)))
            out.append(c_bytes(data))
            out.append('};')
        for i, (from_server, data) in enumerate(flights):
            out.append('const u8 k%s_flight%d[%d] = {' % (name, i, len(data)))
            out.append(c_bytes(data))
            out.append('};')
        out.append('const TlsRecordedFlight k%s_flights[%d] = {' % (name, len(flights)))
        for i, (from_server, data) in enumerate(flights):
            out.append('    {%d, %d, k%s_flight%d},' % (1 if from_server else 0, len(data), name, i))
        out.append('};')
        out.append('')
    out.append('}  // namespace')
    out.append('')
    for name, symbol, text in recordings:
        fields, flights = parse(text)
        lengths = {k: len(bytes.fromhex(fields[k])) for k in ('authority', 'hello', 'request', 'reply')}
        out.append('const TlsRecording %s = {' % symbol)
        out.append('    "%s", %sLL,' % (fields['host'], fields['time']))
        out.append('    k%s_authority, %d, k%s_private, k%s_public,' % (name, lengths['authority'], name, name))
        out.append('    k%s_hello, %d, k%s_request, %d, k%s_reply, %d,' % (
            name, lengths['hello'], name, lengths['request'], name, lengths['reply']))
        out.append('    %d, k%s_flights,' % (len(flights), name))
        out.append('};')
        out.append('')
    return '\n'.join(out)


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    recorder, output_dir = os.path.abspath(sys.argv[1]), sys.argv[2]
    table_path = sys.argv[sys.argv.index('--tables') + 1] if '--tables' in sys.argv else None
    os.makedirs(output_dir, exist_ok=True)
    with tempfile.TemporaryDirectory() as d:
        make_pki(d)
        no_ems = dict(os.environ, OPENSSL_CONF=os.path.join(d, 'noems.cnf'))
        tls13 = record(recorder, d, 'tls13',
                       ['-cert', 'ec.crt', '-key', 'ec.key', '-tls1_3', '-ciphersuites', 'TLS_AES_256_GCM_SHA384',
                        '-groups', 'X25519'], b'ping')
        basic = record(recorder, d, 'tls12basic',
                       ['-cert', 'rsa.crt', '-key', 'rsa.key', '-tls1_2', '-cipher', 'ECDHE-RSA-AES128-SHA',
                        '-no_etm', '-ssl_config', 'noems'], b'ping', env=no_ems)
        extended = record(recorder, d, 'tls12extended',
                          ['-cert', 'rsa.crt', '-key', 'rsa.key', '-tls1_2', '-cipher', 'ECDHE-RSA-AES128-SHA',
                           '-WWW'], HTTP_REQUEST, until_close=True)
    recordings = [('Tls13', 'kTls13Recording', tls13), ('Tls12Basic', 'kTls12BasicRecording', basic),
                  ('Tls12Extended', 'kTls12ExtendedRecording', extended)]
    for file_name, (_, _, text) in zip(('tls13.txt', 'tls12basic.txt', 'tls12extended.txt'), recordings):
        with open(os.path.join(output_dir, file_name), 'w') as f:
            f.write(text)
    if table_path:
        with open(table_path, 'w') as f:
            f.write(tables(recordings))


if __name__ == '__main__':
    main()
