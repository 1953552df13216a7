"""Overlay cache files for the overlay list tests, and what a reader of the folder should show for
each, worked out here from the files' own bytes, their modification times in the local time zone
(TZ) and PIL's decoding of the previews.

  overlay_list_folder.py make FOLDER          writes the files into FOLDER and prints one line per file
  overlay_list_folder.py pdfbin FILE NAME     writes one good .pdfbin page of the source NAME: a page
                                              of one colour (200, 30, 30) over 10.0 to 10.6 E,
                                              44.7 to 45.0 N

Each printed line holds, separated by tabs: file name, kind (0 unusable, 1 PDF page, 2 vector
overlay), display name, subtitle, cache header (decimal), preview width, preview height, and the
preview's RGB bytes as hex (rows aligned to 4 bytes), or "-" without a preview.
"""
import io
import os
import struct
import sys
import time

from PIL import Image

NOT_READ = 'The file name is too long to be read'
BAD_PAGE = 'Improperly formatted name. Should encode the page number, like: X.pdf_2.pdfbin'
BAD_EXTENSION = 'Unrecognized file extension. (Should be .kmlbin, .kmzbin, or .pdfbin).'


def png(width, height, seed):
    image = Image.new('RGB', (width, height))
    pixels = image.load()
    for y in range(height):
        for x in range(width):
            pixels[x, y] = ((x * 29 + seed) % 256, (y * 41 + seed * 3) % 256, ((x ^ y) * 13) % 256)
    out = io.BytesIO()
    image.save(out, 'PNG')
    return out.getvalue()


def pdfbin(source, page, preview, page_png=b'\x89PNG page'):
    name = source.encode()
    # Latitude and longitude of the bottom-left, top-left, top-right and bottom-right corners.
    corners = struct.pack('>8d', 44.7, 10.0, 45.0, 10.0, 45.0, 10.6, 44.7, 10.6)
    return (struct.pack('>I', len(name)) + name + struct.pack('>IQ', page, 1700000000000) + corners +
            struct.pack('>I', len(preview)) + preview + struct.pack('>I', len(page_png)) + page_png)


def kmlbin(message, counts=(0,) * 7, header=0x1122334455667788):
    text = message.encode()
    return struct.pack('<Q7I', header, *counts) + bytes([len(text)]) + text


def local_time(path):
    t = time.localtime(os.stat(path).st_mtime)
    return '%d-%d-%d   %d:%02d' % (t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min)


def rgb_rows(data):
    image = Image.open(io.BytesIO(data)).convert('RGB')
    w, h = image.size
    raw = image.tobytes()
    stride = (w * 3 + 3) // 4 * 4
    rows = b''.join(raw[y * w * 3:(y + 1) * w * 3] + bytes(stride - w * 3) for y in range(h))
    return w, h, rows


def expected(folder, name, data):
    """What the list shows for a file, by its name, bytes and time."""
    path = os.path.join(folder, name.decode('utf-8', 'surrogateescape'))
    date = local_time(path)
    lower = name.lower()
    preview = None
    header = 0
    if len(name) > 253 - len(b'Overlays/'):
        return name, 0, name, NOT_READ.encode(), 0, None
    if lower.endswith(b'.pdfbin'):
        cut = name.rfind(b'_')
        digits = name[cut + 1:] if cut >= 0 else b''
        number = ''
        for c in digits.decode('latin-1'):
            if not c.isdigit():
                break
            number += c
        if cut < 0 or not number or int(number) > 0x7FFFFFFF:
            return name, 0, name, BAD_PAGE.encode(), 0, None
        n = struct.unpack('>I', data[:4])[0] if len(data) >= 4 else None
        if n is not None and len(data) >= n + 84:
            m = struct.unpack('>I', data[n + 80:n + 84])[0]
            if n + 84 + m < len(data):
                try:
                    preview = rgb_rows(data[n + 84:n + 84 + m])
                except Exception:
                    preview = None
        return name, 1, name[:cut], ('%s   page %d' % (date, int(number) + 1)).encode(), 0, preview
    if lower.endswith(b'.kmlbin') or lower.endswith(b'.kmzbin'):
        header = struct.unpack('<Q', data[:8])[0] if len(data) >= 8 else 0
        length = data[36] if len(data) >= 37 else 0
        subtitle = date.encode()
        if length and 37 + length <= len(data):
            subtitle = data[37:37 + length] + b'   ' + subtitle
        return name, 2, name[:-3], subtitle, header, None
    return name, 0, name, BAD_EXTENSION.encode(), 0, None


def local_stamp(hour, minute):
    """Seconds since 1970 of today's hour:minute in the local time zone."""
    t = time.localtime()
    return time.mktime((t.tm_year, t.tm_mon, t.tm_mday, hour, minute, 0, 0, 0, -1))


def make(folder):
    good = png(40, 30, 1)
    files = [
        (b'Ridge.pdf_0.pdfbin', pdfbin('Ridge.pdf', 0, good), (14, 5)),
        (b'X_2.pdf_3.pdfbin', pdfbin('X_2.pdf', 3, png(33, 17, 2)), (9, 0)),
        (b'Short.pdf_1.pdfbin', pdfbin('Short.pdf', 1, good)[:60], (23, 59)),
        (b'Cut.pdf_0.pdfbin', pdfbin('Cut.pdf', 0, good)[:200], (0, 1)),
        (b'Bad.pdf_0.pdfbin', pdfbin('Bad.pdf', 0, b'\x89PNG\r\n\x1a\n not a picture'), (12, 30)),
        (b'Huge.pdf_0.pdfbin', struct.pack('>I', 0xFFFFFFF0) + bytes(120), (7, 7)),
        (b'Wrap.pdf_0.pdfbin', pdfbin('Wrap.pdf', 0, good)[:88] + struct.pack('>I', 0xFFFFFFFF) + good[:60], (8, 8)),
        (b'X.pdfbin', pdfbin('X.pdf', 0, good), (10, 10)),
        (b'Y.pdf_.pdfbin', pdfbin('Y.pdf', 0, good), (10, 11)),
        (b'Z.pdf_-1.pdfbin', pdfbin('Z.pdf', 0, good), (10, 12)),
        (b'W.pdf_99999999999999999999.pdfbin', pdfbin('W.pdf', 0, good), (10, 13)),
        (b'Area.KMZBIN', kmlbin('3 markers were skipped'), (14, 5)),
        (b'Lines.kmlbin', kmlbin(''), (9, 0)),
        (b'Trunc.kmlbin', kmlbin('')[:36] + bytes([200]), (11, 11)),
        (b'Tiny.kmzbin', b'\x01\x02\x03\x04\x05', (11, 12)),
        (b'Caf\xe9 \xff.kmlbin', kmlbin('', header=7), (11, 13)),
        (b'notes.txt', b'hello', (11, 14)),
        (b'L' * 240 + b'.kmlbin', kmlbin(''), (11, 15)),
    ]
    os.makedirs(folder, exist_ok=True)
    out = sys.stdout.buffer
    for name, data, (hour, minute) in files:
        path = os.path.join(folder.encode(), name)
        with open(path, 'wb') as f:
            f.write(data)
        stamp = local_stamp(hour, minute)
        os.utime(path, (stamp, stamp))
        fields = expected(folder, name, data)
        line = [fields[0], str(fields[1]).encode(), fields[2], fields[3], str(fields[4]).encode()]
        preview = fields[5]
        if preview:
            line += [str(preview[0]).encode(), str(preview[1]).encode(), preview[2].hex().encode()]
        else:
            line += [b'0', b'0', b'-']
        out.write(b'\t'.join(line) + b'\n')


if __name__ == '__main__':
    if sys.argv[1] == 'make':
        make(sys.argv[2])
    elif sys.argv[1] == 'pdfbin':
        with open(sys.argv[2], 'wb') as f:
            page = io.BytesIO()
            Image.new('RGB', (120, 80), (200, 30, 30)).save(page, 'PNG')
            f.write(pdfbin(sys.argv[3], 0, png(40, 30, 5), page.getvalue()))
