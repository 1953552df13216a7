"""KMZ test archives built with Python's zipfile, with icons drawn and decoded by PIL.

  kmz_oracle.py make FOLDER PORT   writes FOLDER/stored.kmz and FOLDER/deflated.kmz (a KML entry and
                                   PNG and JPEG icons; the KML names one icon in other letter case),
                                   FOLDER/<icon>.rgba (PIL's RGBA pixels of each icon, rows from the
                                   top), FOLDER/www/remote.png (served over HTTPS on 127.0.0.1:PORT)
                                   and FOLDER/remote.kml, which uses it twice and a missing icon once.
"""
import io
import os
import sys
import zipfile

from PIL import Image


def draw_icon(width, height, mode, seed):
    image = Image.new('RGBA', (width, height))
    pixels = image.load()
    for y in range(height):
        for x in range(width):
            pixels[x, y] = ((x * 37 + seed * 11) % 256, (y * 53 + seed) % 256, ((x + y) * 19) % 256,
                            255 if mode == 'RGB' else (x * y * 7 + 40) % 256)
    return image.convert(mode) if mode != 'RGBA' else image


def encoded(image, kind):
    out = io.BytesIO()
    if kind == 'JPEG':
        image.save(out, 'JPEG', quality=95, subsampling=0)
    else:
        image.save(out, 'PNG')
    return out.getvalue()


def rgba_of(data):
    return Image.open(io.BytesIO(data)).convert('RGBA').tobytes()


def placemark(name, style, lon, lat):
    return ('<Placemark><name>%s</name><styleUrl>#%s</styleUrl><Point><coordinates>%s,%s</coordinates></Point>'
            '</Placemark>' % (name, style, lon, lat))


def style(identifier, href):
    return '<Style id="%s"><IconStyle><Icon><href>%s</href></Icon></IconStyle></Style>' % (identifier, href)


def document(styles, placemarks):
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<kml xmlns="http://www.opengis.net/kml/2.2"><Document>%s%s'
            '</Document></kml>\n' % (''.join(styles), ''.join(placemarks)))


def make(folder, port):
    icons = {
        'Flame.png': encoded(draw_icon(24, 20, 'RGBA', 1), 'PNG'),
        'smoke.jpg': encoded(draw_icon(16, 16, 'RGB', 2), 'JPEG'),
        'palette.png': encoded(draw_icon(9, 7, 'RGB', 3).convert('P'), 'PNG'),
    }
    for name, data in icons.items():
        with open(os.path.join(folder, name + '.rgba'), 'wb') as f:
            f.write(rgba_of(data))
    kml = document([style('flame', 'FILES/flame.PNG'), style('smoke', 'files/smoke.jpg'),
                    style('palette', 'files/palette.png'), style('gone', 'files/absent.png')],
                   [placemark('Ignition', 'flame', -120.5, 38.25), placemark('Smoke', 'smoke', -120.4, 38.2),
                    placemark('Drop zone', 'palette', -120.3, 38.3), placemark('Lost', 'gone', -120.2, 38.1)])
    for name, method in (('stored.kmz', zipfile.ZIP_STORED), ('deflated.kmz', zipfile.ZIP_DEFLATED)):
        with zipfile.ZipFile(os.path.join(folder, name), 'w', method) as archive:
            archive.writestr('doc.kml', kml)
            for icon, data in icons.items():
                archive.writestr('files/' + icon, data)

    os.makedirs(os.path.join(folder, 'www'), exist_ok=True)
    remote = encoded(draw_icon(12, 10, 'RGBA', 4), 'PNG')
    with open(os.path.join(folder, 'www', 'remote.png'), 'wb') as f:
        f.write(remote)
    with open(os.path.join(folder, 'remote.png.rgba'), 'wb') as f:
        f.write(rgba_of(remote))
    url = 'https://127.0.0.1:%d/' % port
    kml = document([style('a', url + 'remote.png'), style('b', url + 'remote.png'),
                    style('c', url + 'missing.png')],
                   [placemark('First', 'a', 10.0, 45.0), placemark('Second', 'b', 10.1, 45.1),
                    placemark('Third', 'c', 10.2, 45.2)])
    with open(os.path.join(folder, 'remote.kml'), 'w') as f:
        f.write(kml)


if __name__ == '__main__':
    make(sys.argv[2], int(sys.argv[3]))
