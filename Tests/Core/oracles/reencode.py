# Decodes each input record with Python's codecs, dropping malformed units ("ignore") or, for kind 2,
# putting U+FFFD in place of each maximal malformed part ("replace"), and writes the text back as
# UTF-8. Records in: u8 kind (0 UTF-8, 1 UTF-16LE, 2 UTF-8 replacing), u32 LE byte length, bytes.
# Records out: u32 LE byte length, UTF-8 bytes.
import struct
import sys

data = open(sys.argv[1], "rb").read()
out = bytearray()
i = 0
while i < len(data):
    kind = data[i]
    (n,) = struct.unpack_from("<I", data, i + 1)
    body = data[i + 5:i + 5 + n]
    i += 5 + n
    if kind == 0:
        text = body.decode("utf-8", errors="ignore")
    elif kind == 2:
        text = body.decode("utf-8", errors="replace")
    else:
        # A zero unit ends a UTF-16 text.
        for k in range(0, len(body) - 1, 2):
            if body[k] == 0 and body[k + 1] == 0:
                body = body[:k]
                break
        text = body.decode("utf-16-le", errors="ignore")
    encoded = text.encode("utf-8")
    out += struct.pack("<I", len(encoded)) + encoded
open(sys.argv[2], "wb").write(out)
