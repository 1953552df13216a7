#!/usr/bin/python3
"""A Qv video server on 127.0.0.1: once a client asks (the byte 0xB9), sends it the text "Hello" and
then every RTP payload of a capture as a video datagram (0xB8, the RTP sequence number, the payload).

    qv_server.py CAPTURE.rtp [picture]

CAPTURE.rtp holds RTP packets each behind a 2-byte big-endian length. The packets go out 2 ms apart,
or with "picture" each picture's packets (up to the RTP marker bit) in one burst, 0.1 s apart.
Prints the bound port, then "sent N" once the capture has gone out.
"""
import socket
import struct
import sys
import time


def payloads(path):
    data = open(path, "rb").read()
    at = 0
    while at + 2 <= len(data):
        (length,) = struct.unpack(">H", data[at:at + 2])
        packet = data[at + 2:at + 2 + length]
        at += 2 + length
        offset = 12 + 4 * (packet[0] & 15)
        if packet[0] & 0x10:
            offset += 4 + 4 * struct.unpack(">H", packet[offset + 2:offset + 4])[0]
        end = len(packet) - (packet[-1] if packet[0] & 0x20 else 0)
        yield packet[2:4], packet[offset:end], packet[1] & 0x80


def main():
    server = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    server.bind(("127.0.0.1", 0))
    print(server.getsockname()[1], flush=True)
    while True:
        request, client = server.recvfrom(2048)
        if request == b"\xb9":
            break
    server.sendto(b"\xb7Hello", client)
    by_picture = len(sys.argv) > 2 and sys.argv[2] == "picture"
    count = 0
    for sequence, payload, marker in payloads(sys.argv[1]):
        server.sendto(b"\xb8" + sequence + payload, client)
        count += 1
        if not by_picture:
            time.sleep(0.002)
        elif marker:
            time.sleep(0.1)
    print("sent %d" % count, flush=True)
    server.settimeout(30)
    try:
        while server.recvfrom(2048):
            pass
    except socket.timeout:
        pass


main()
