# Splits each instant (i64 LE milliseconds since 1601-01-01 00:00:00.000) with Python's datetime and
# writes year, month, day, hour, minute, second and millisecond as seven u16 LE values.
import datetime
import struct
import sys

data = open(sys.argv[1], "rb").read()
epoch = datetime.datetime(1601, 1, 1)
out = bytearray()
for (ms,) in struct.iter_unpack("<q", data):
    t = epoch + datetime.timedelta(milliseconds=ms)
    out += struct.pack("<7H", t.year, t.month, t.day, t.hour, t.minute, t.second, t.microsecond // 1000)
open(sys.argv[2], "wb").write(out)
