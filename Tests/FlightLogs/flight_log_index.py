#!/usr/bin/python3
"""Indexes flight logs as the program's reader should, written from the file layout alone.

For each file named on the command line prints
  file NAME
  index skipped=S count=N first=F
  one line "TYPE TIME PAYLOADHEX" per entry in index order
  end
The scan: an entry is u8 type, u64 Unix ms, u16 length n, n payload bytes, u16 checksum (CRC-16/
MCRF4XX over the payload, then the type byte), and must end within the file. After a failed
candidate the scan moves one byte on; while it does so a candidate more than a day away from the
previous accepted time (unless that is 0) is refused. The time base is the first accepted entry's
time less 20 days; an accepted entry whose time is not within 2^32 - 1 ms after it is not indexed
and its bytes count as skipped. Order: everything up to and with the first header (type 7) in file
order, the rest by time, equal times in file order.
"""
import struct
import sys

import crcmod

crc16 = crcmod.mkCrcFun(0x11021, initCrc=0xFFFF, rev=True, xorOut=0)
DAY = 86400000
LEAD = 1728000000
WRAP = 1 << 64


def signed(value):
    value %= WRAP
    return value - WRAP if value >= WRAP // 2 else value


def scan(data):
    entries, skipped, previous = [], 0, 0
    at, end = 0, len(data)
    while True:
        start, found, resync = at, None, False
        p = at
        while p + 13 <= end:
            kind, time, length = struct.unpack_from("<BqH", data, p)
            ok = not (resync and previous != 0 and abs(time - previous) > DAY)
            ok = ok and p + 13 + length <= end
            if ok:
                payload = data[p + 11:p + 11 + length]
                ok = crc16(payload + bytes([kind])) == struct.unpack_from("<H", data, p + 11 + length)[0]
            if ok:
                found = (kind, time, payload)
                break
            p += 1
            resync = True
        if found is None:
            skipped += end - start
            return entries, skipped
        skipped += p - start
        previous = found[1]
        entries.append(found)
        at = p + 13 + len(found[2])


def index(data):
    entries, skipped = scan(data)
    kept, base = [], None
    for kind, time, payload in entries:
        if base is None:
            base = signed(time - LEAD)
        offset = (time - base) % WRAP
        if offset > 0xFFFFFFFF:
            skipped += 13 + len(payload)
            continue
        kept.append((kind, signed(base + offset), payload, offset))
    first = 0
    for i, entry in enumerate(kept):
        if entry[0] == 7:
            first = i + 1
            break
    ordered = kept[:first] + sorted(kept[first:], key=lambda e: e[3])  # a stable sort keeps file order
    return ordered, skipped, first


def main():
    out = []
    for path in sys.argv[1:]:
        data = open(path, "rb").read()
        ordered, skipped, first = index(data)
        out.append("file %s" % path)
        out.append("index skipped=%d count=%d first=%d" % (skipped, len(ordered), first))
        for kind, time, payload, _ in ordered:
            out.append("%d %d %s" % (kind, time, payload.hex()))
        out.append("end")
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
