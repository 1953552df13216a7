#!/usr/bin/env python3
"""Captures the RTP packets that ffmpeg sends for an H.264 file over loopback UDP.

    rtp_capture.py IN.h264 OUT.rtp PACKET_SIZE

Each packet of OUT.rtp is written with a 2-byte big-endian length in front (RFC 4571 framing, as
GStreamer's rtpstreampay writes it). Only 127.0.0.1 is used.
"""
import socket
import struct
import subprocess
import sys


def main():
    source, output, packet_size = sys.argv[1], sys.argv[2], int(sys.argv[3])
    receiver = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    # ffmpeg sends as fast as it reads: room for the whole short stream in the socket buffer.
    receiver.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 32 * 1024 * 1024)
    receiver.bind(("127.0.0.1", 0))
    port = receiver.getsockname()[1]
    sender = subprocess.Popen(
        ["ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-i", source, "-c:v", "copy",
         "-f", "rtp", "-payload_type", "96", f"rtp://127.0.0.1:{port}?pkt_size={packet_size}"],
        stdout=subprocess.DEVNULL)
    packets = []
    receiver.settimeout(0.05)
    while True:
        try:
            packets.append(receiver.recv(65536))
            continue
        except socket.timeout:
            pass
        if sender.poll() is not None:
            break
    # Loopback delivery is immediate: what ffmpeg sent before it ended is queued already.
    receiver.setblocking(False)
    while True:
        try:
            packets.append(receiver.recv(65536))
        except BlockingIOError:
            break
    if sender.returncode != 0:
        sys.exit(f"ffmpeg failed with {sender.returncode}")
    with open(output, "wb") as f:
        for p in packets:
            f.write(struct.pack(">H", len(p)) + p)


main()
