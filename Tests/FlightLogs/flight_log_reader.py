#!/usr/bin/python3
"""Reads a flight log written by the program and prints one line per entry, decoded by type.

Written from the file layout alone, as an independent check of the writer:
  entry = u8 type, u64 Unix ms, u16 length n, n payload bytes, u16 checksum (little-endian);
  checksum = CRC-16/MCRF4XX over the payload, then the type byte.
The last line is "end entries=N tail=T": T is the count of bytes after the last whole entry (a torn
final entry). A bad checksum, or a length that runs past the end anywhere but at the tail, prints
"bad ..." and exits with status 1.
"""
import struct
import sys

import crcmod

crc16 = crcmod.mkCrcFun(0x11021, initCrc=0xFFFF, rev=True, xorOut=0)
assert crc16(b"123456789") == 0x6F91


def g(value):
    return "%.9g" % value


class Cursor:
    def __init__(self, data):
        self.data, self.at = data, 0

    def left(self):
        return len(self.data) - self.at

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.at)
        self.at += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def bytes(self, n):
        if n > self.left():
            raise ValueError("short")
        out = self.data[self.at:self.at + n]
        self.at += n
        return out

    def text(self):
        return self.bytes(self.take("B")).decode("utf-8", "replace")


def header(c):
    fields = ["shift=%d" % c.take("h"), "version=%d" % c.take("H")]
    try:
        fields.append("app=" + c.text())
        fields.append("name=" + c.text())
        fields.append("os=%d" % c.take("B"))
        for label in ("release", "incremental", "manufacturer", "device"):
            fields.append(label + "=" + c.text())
        fields.append("id=" + c.bytes(8).hex())
    except (ValueError, struct.error):
        fields.append("cut")
    return " ".join(fields)


def mission(c):
    size, count = c.take("BB")
    assert size == 29
    points = []
    for _ in range(count):
        lat, lon, alt, item, ignite = c.take("dddiB")
        points.append("%s,%s,%s,%d,%d" % (g(lat), g(lon), g(alt), item, ignite))
    size, count = c.take("BB")
    assert size == 16
    corners = ["%s,%s" % tuple(map(g, c.take("dd"))) for _ in range(count)]
    ref = c.take("dd")
    settings = c.take("ddiddididdd")
    return "waypoints=%s transect=%s ref=%s,%s settings=%s" % (
        ";".join(points), ";".join(corners), g(ref[0]), g(ref[1]), ",".join(g(v) for v in settings))


def geofence(c):
    count = c.take("B")
    return "points=%d %s" % (count, ";".join("%s,%s" % tuple(map(g, c.take("dd"))) for _ in range(count)))


def preference(c):
    kind = c.take("B")
    key = c.text()
    value = c.bytes(c.take("B"))
    if kind in (0, 1):
        shown = value.decode("utf-8", "replace")
    elif kind == 2:
        shown = "%d" % struct.unpack("<Q", value)[0]
    elif kind == 3:
        shown = "%.17g" % struct.unpack("<d", value)[0]
    else:
        port, family = struct.unpack_from("<HB", value)
        shown = "%d/%d/%s" % (port, family, value[3:].hex())
    return "kind=%d key=%s value=%s" % (kind, key, shown)


def decode(kind, payload):
    c = Cursor(payload)
    if kind <= 6:
        text = "bytes=" + payload.hex()
        c.at = len(payload)
    elif kind == 7:
        text = header(c)
    elif kind == 8:
        text = mission(c)
    elif kind == 9:
        text = geofence(c)
    elif kind == 10:
        lat, lon = c.take("dd")
        text = "position=%s,%s %s" % (g(lat), g(lon), ",".join(g(v) for v in c.take("fffff")))
    elif kind in (11, 12):
        text = "button=%d" % c.take("H")
    elif kind == 13:
        text = "name=" + c.bytes(len(payload)).decode("utf-8", "replace")
    elif kind == 14:
        text = "interval=%d bytes=%d received=%d dropped=%d size=%dx%d" % c.take("QQIIii")
    elif kind == 15:
        text = preference(c)
    elif kind == 16:
        controller, emulated = c.take("BB")
        text = "controller=%d emulated=%d axes=%s" % (controller, emulated, ",".join(g(v) for v in c.take("8f")))
    elif kind == 17:
        text = "gap entries=%d first=%d last=%d" % c.take("Qqq")
    else:
        text = "bytes=" + payload.hex()
        c.at = len(payload)
    if c.left() != 0:
        text += " extra=%d" % c.left()
    return text


def main():
    data = open(sys.argv[1], "rb").read()
    at, count = 0, 0
    while at < len(data):
        if len(data) - at < 11:
            break
        kind, time, length = struct.unpack_from("<BQH", data, at)
        end = at + 11 + length + 2
        if end > len(data):
            break
        payload = data[at + 11:at + 11 + length]
        stored = struct.unpack_from("<H", data, at + 11 + length)[0]
        if crc16(payload + bytes([kind])) != stored:
            print("bad checksum at %d" % at)
            return 1
        print("type=%d time=%d %s" % (kind, time, decode(kind, payload)))
        count += 1
        at = end
    print("end entries=%d tail=%d" % (count, len(data) - at))
    return 0


if __name__ == "__main__":
    sys.exit(main())
