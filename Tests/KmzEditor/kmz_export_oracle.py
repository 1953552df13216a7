"""Independent readers and writers of the drawing editor's KMZ files.

  kmz_export_oracle.py read KMZ FOLDER   reads an exported KMZ with Python's zipfile (entries and
                                          CRCs), xmllint (doc.kml), GDAL's OGR (every placemark)
                                          and PIL (every icon) and prints one line per finding:
                                            ZIP ok|bad
                                            ENTRY name method size
                                            XMLLINT returncode
                                            FEATURE LINESTRING|POINT style lon,lat lon,lat ...
                                            PNG name width height mode
  kmz_export_oracle.py make KMZ           writes a KMZ of two KML entries (the second deflated and
                                          named in capitals) and prints what loading it must give,
                                          the content of the last entry, as lines
                                            P x y colour
                                            L xa ya xb yb colour
                                            M x y number kind
                                          with x and y in Web-Mercator turns times 1e8, rounded;
                                          the first entry's content follows with "FIRST " before
                                          each line.
"""
import math
import os
import subprocess
import sys
import zipfile

from osgeo import ogr
from PIL import Image


def read(path, folder):
    with zipfile.ZipFile(path) as archive:
        print('ZIP', 'ok' if archive.testzip() is None else 'bad')
        for info in archive.infolist():
            print('ENTRY', info.filename, info.compress_type, info.file_size)
        kml = os.path.join(folder, 'doc.kml')
        with open(kml, 'wb') as out:
            out.write(archive.read('doc.kml'))
        result = subprocess.run(['xmllint', '--noout', kml], capture_output=True)
        print('XMLLINT', result.returncode)
        for info in archive.infolist():
            if info.filename.endswith('.png'):
                icon = os.path.join(folder, info.filename)
                with open(icon, 'wb') as out:
                    out.write(archive.read(info.filename))
                with Image.open(icon) as image:
                    image.verify()
                with Image.open(icon) as image:
                    image.load()
                    print('PNG', info.filename, image.width, image.height, image.mode)
    source = ogr.Open(path)
    for layer in source:
        for feature in layer:
            geometry = feature.GetGeometryRef()
            points = geometry.GetPoints() or []
            print('FEATURE', geometry.GetGeometryName(), feature.GetStyleString(),
                  ' '.join('%.5f,%.5f' % (p[0], p[1]) for p in points))


PREFIXED_STYLES = ['#orange', '#yellow', '#aqua', '#blue', '#purple', '#white']
KINDS = ['#flag', '#obstruction', '#fire', '#smoke', '#heat']


def mercator(lon, lat):
    x = lon / 360.0
    x -= math.floor(x + 0.5)
    y = math.log(math.tan(lat * math.pi / 360 + math.pi / 4)) / (2 * math.pi)
    return round(x * 1e8), round(y * 1e8)


def expected(placemarks):
    """What a Load of one KML gives: (points, lines, markers) in file order."""
    points, index, lines, markers = [], {}, [], []
    colour, kind = 0, 0
    for style, geometry, coordinates in placemarks:
        if geometry == 'LineString':
            if style == '#black':
                continue
            if style == '#red':
                colour = 0
            for k, name in enumerate(PREFIXED_STYLES):
                if style.startswith(name):
                    colour = k + 1
            previous = None
            for lon, lat in coordinates:
                key = mercator(lon, lat)
                if key not in index:
                    index[key] = len(points)
                    points.append((key, colour))
                if previous is not None and previous != key:
                    lines.append((previous, key, colour))
                previous = key
        else:
            for k, name in enumerate(KINDS):
                if style.startswith(name):
                    kind = k
            lon, lat = coordinates[0]
            markers.append((mercator(lon, lat), len(markers) + 1, kind))
    return points, lines, markers


def kml_text(placemarks):
    body = []
    for n, (style, geometry, coordinates) in enumerate(placemarks):
        tuples = '\n\t\t'.join('%r,%r,12' % c for c in coordinates)
        body.append('<Placemark id="p%d"><name>n%d</name><styleUrl> %s </styleUrl><%s><coordinates>\n\t\t%s\r\n'
                    '</coordinates></%s></Placemark>' % (n, n, style, geometry, tuples, geometry))
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<kml xmlns="http://www.opengis.net/kml/2.2">'
            '<Document><name>written by python</name><Folder>%s</Folder></Document></kml>' % '\n'.join(body))


def make(path):
    first = [
        ('#black', 'LineString', [(8.5, 47.25), (8.75, 47.5)]),
        ('#red', 'LineString', [(8.5, 47.25), (8.75, 47.5), (9.0, 47.25)]),
        ('#purple', 'Point', [(8.6, 47.3)]),
        ('#fire3', 'Point', [(8.7, 47.4)]),
    ]
    second = [
        ('#black', 'LineString', [(-70.5, -33.25), (-70.25, -33.5), (-70.0, -33.25)]),
        ('#red', 'LineString', [(-70.5, -33.25), (-70.25, -33.5), (-70.0, -33.25)]),
        ('#orange', 'LineString', [(-70.0, -33.25), (-69.75, -33.0)]),           # shares a vertex
        ('#yellow2', 'LineString', [(-71.0, -34.0), (-71.25, -34.0), (-71.25, -34.25), (-71.0, -34.0)]),  # ring
        ('#aqua', 'LineString', [(-72.0, -35.0), (-72.5, -35.5)]),
        ('#blue', 'LineString', [(-73.0, -36.0), (-73.5, -36.5)]),
        ('#purpleish', 'LineString', [(-74.0, -37.0), (-74.5, -37.5)]),
        ('#white', 'LineString', [(-75.0, -38.0), (-75.5, -38.5)]),
        ('#redder', 'LineString', [(-76.0, -39.0), (-76.5, -39.5)]),             # not "#red": keeps white
        ('#flag12', 'Point', [(-70.1, -33.1)]),
        ('#obstruction1', 'Point', [(-70.2, -33.2)]),
        ('#fire1', 'Point', [(-70.3, -33.3)]),
        ('#smoke4', 'Point', [(-70.4, -33.4)]),
        ('#heat9', 'Point', [(-70.6, -33.6)]),
        ('#nothing', 'Point', [(-70.7, -33.7)]),                                # the last kind: heat
    ]
    with zipfile.ZipFile(path, 'w') as archive:
        archive.writestr(zipfile.ZipInfo('first.kml'), kml_text(first), compress_type=zipfile.ZIP_STORED)
        archive.writestr('icons/readme.txt', 'not a drawing')
        archive.writestr('SECOND.KML', kml_text(second), compress_type=zipfile.ZIP_DEFLATED)
    for prefix, placemarks in (('FIRST ', first), ('', second)):
        points, lines, markers = expected(placemarks)
        for (x, y), colour in points:
            print(prefix + 'P', x, y, colour)
        for (a, b, colour) in lines:
            print(prefix + 'L', a[0], a[1], b[0], b[1], colour)
        for ((x, y), number, kind) in markers:
            print(prefix + 'M', x, y, number, kind)


if __name__ == '__main__':
    if sys.argv[1] == 'read':
        read(sys.argv[2], sys.argv[3])
    else:
        make(sys.argv[2])
