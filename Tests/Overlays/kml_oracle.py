"""KML test files and what GDAL's OGR reads from them.

  kml_oracle.py make FOLDER SEED   writes FOLDER/planners.kml (styles, StyleMap, IconStyle, holes,
                                   unstyled points, written here) and FOLDER/gdal.kml (ogr2ogr -f KML
                                   from a GeoJSON of random lines, polygons with holes and points)
  kml_oracle.py holes FILE.kml N SEED
                                   writes one filled polygon with N holes of random shape, size and
                                   winding scattered through it (rows of them side by side, holes that
                                   reach farther east than their neighbours, rings left open)
  kml_oracle.py read FILE.kml      prints one line per OGR feature part, in file order:
                                   P x y name      (a point, in EPSG:3857 metres)
                                   L n x y x y ... (a line string or a polygon ring, EPSG:3857)
                                   A area          (a polygon's area in EPSG:3857, holes removed)
"""
import json
import math
import os
import random
import subprocess
import sys

from osgeo import ogr, osr


def ring(rng, cx, cy, radius, count, clockwise):
    # Star-shaped about the centre, so simple; the angles spread round it, so that with 8 points or
    # more everything within half the radius is inside.
    angles = [2 * math.pi * (i + rng.uniform(0, 0.5)) / count for i in range(count)]
    radii = [radius * rng.uniform(0.6, 1.0) for _ in angles]
    points = [(cx + r * math.cos(a), cy + r * math.sin(a)) for r, a in zip(radii, angles)]
    if clockwise:
        points.reverse()
    return points + [points[0]]


def polygon(rng, cx, cy, radius):
    outer = ring(rng, cx, cy, radius, rng.randint(8, 40), rng.random() < 0.5)
    holes = []
    for k in range(rng.randint(0, 3)):
        # Small holes on a circle well inside the outer ring's inner radius (0.6 of radius).
        a = 2 * math.pi * k / 3 + rng.uniform(0, 0.3)
        hx, hy = cx + 0.3 * radius * math.cos(a), cy + 0.3 * radius * math.sin(a)
        holes.append(ring(rng, hx, hy, 0.1 * radius, rng.randint(3, 12), rng.random() < 0.5))
    return [outer] + holes


def coordinates(points, separator):
    # Altitudes on every other run of points: a reader must give the same positions either way.
    altitude = len(points) % 2 == 0
    return separator.join('%.9f,%.9f%s' % (x, y, ',%d' % len(points) if altitude else '') for x, y in points)


def make_planners(rng, path):
    parts = ['<?xml version="1.0" encoding="UTF-8"?>\n<kml xmlns="http://www.opengis.net/kml/2.2">\n<Document>']
    parts.append('<Style id="fireline"><LineStyle><color>ff0000ff</color><width>4</width></LineStyle>'
                 '<PolyStyle><color>7f00ff00</color></PolyStyle></Style>')
    parts.append('<Style id="unit"><LineStyle><color>ff00ffff</color><width>2</width></LineStyle>'
                 '<PolyStyle><color>4000ff00</color><fill>1</fill></PolyStyle></Style>')
    parts.append('<Style id="hazardNormal"><IconStyle><scale>1.5</scale><Icon><href>icons/Hazard.png</href></Icon>'
                 '<hotSpot x="0.5" y="0" xunits="fraction" yunits="fraction"/></IconStyle>'
                 '<LineStyle><color>ff336699</color></LineStyle></Style>')
    parts.append('<Style id="hazardHighlight"><IconStyle><scale>2</scale><Icon><href>icons/Hazard.png</href></Icon>'
                 '</IconStyle></Style>')
    parts.append('<StyleMap id="hazard"><Pair><key>normal</key><styleUrl>#hazardNormal</styleUrl></Pair>'
                 '<Pair><key>highlight</key><styleUrl>#hazardHighlight</styleUrl></Pair></StyleMap>')
    separators = ['\n', ' ', '\t', '\r\n   ']
    for i in range(rng.randint(20, 40)):
        kind = rng.choice(['point', 'line', 'polygon'])
        cx, cy = rng.uniform(-170, 170), rng.uniform(-70, 70)
        style = rng.choice(['', '#fireline', '#unit', '#hazard'])
        name = 'Item %d &amp; co' % i
        body = ''
        if kind == 'point':
            body = '<Point><coordinates>%.9f,%.9f</coordinates></Point>' % (cx, cy)
        elif kind == 'line':
            points = [(cx + rng.uniform(-1, 1), cy + rng.uniform(-1, 1)) for _ in range(rng.randint(2, 30))]
            body = '<LineString><tessellate>1</tessellate><coordinates>%s</coordinates></LineString>' % coordinates(
                points, rng.choice(separators))
        else:
            rings = polygon(rng, cx, cy, rng.uniform(0.01, 2))
            separator = rng.choice(separators)
            body = '<Polygon><outerBoundaryIs><LinearRing><coordinates>%s</coordinates></LinearRing></outerBoundaryIs>' % (
                coordinates(rings[0], separator))
            for hole in rings[1:]:
                body += ('<innerBoundaryIs><LinearRing><coordinates>%s</coordinates></LinearRing></innerBoundaryIs>' %
                         coordinates(hole, separator))
            body += '</Polygon>'
        url = '<styleUrl>%s</styleUrl>' % style if style else ''
        parts.append('<Placemark><name>%s</name><description>d</description>%s%s</Placemark>' % (name, url, body))
    parts.append('</Document>\n</kml>\n')
    with open(path, 'w') as f:
        f.write('\n'.join(parts))


def make_gdal(rng, folder):
    features = []
    for i in range(rng.randint(20, 40)):
        kind = rng.choice(['Point', 'LineString', 'Polygon'])
        cx, cy = rng.uniform(-170, 170), rng.uniform(-70, 70)
        if kind == 'Point':
            geometry = [cx, cy]
        elif kind == 'LineString':
            geometry = [[cx + rng.uniform(-1, 1), cy + rng.uniform(-1, 1)] for _ in range(rng.randint(2, 30))]
        else:
            geometry = [[list(p) for p in r] for r in polygon(rng, cx, cy, rng.uniform(0.01, 2))]
        features.append({'type': 'Feature', 'properties': {'name': 'feature %d' % i},
                         'geometry': {'type': kind, 'coordinates': geometry}})
    source = os.path.join(folder, 'gdal.geojson')
    with open(source, 'w') as f:
        json.dump({'type': 'FeatureCollection', 'features': features}, f)
    target = os.path.join(folder, 'gdal.kml')
    if os.path.exists(target):
        os.remove(target)
    subprocess.run(['ogr2ogr', '-f', 'KML', target, source], check=True)


def make_holes(path, count, rng):
    columns = max(1, int(math.ceil(math.sqrt(count * 1.5))))
    rows = int(math.ceil(count / columns))
    cell = 0.02
    west, south = 8.0, 46.0
    width, height = (columns + 2) * cell, (rows + 2) * cell
    # The outer ring with a notch in its east side, so that some joins must look past it.
    outer = [(west, south), (west + width, south), (west + width, south + height * 0.45),
             (west + width - cell * 0.7, south + height * 0.5), (west + width, south + height * 0.55),
             (west + width, south + height), (west, south + height), (west, south)]
    cells = [(c, r) for r in range(rows) for c in range(columns)]
    rng.shuffle(cells)
    rings = []
    for c, r in cells[:count]:
        radius = cell * rng.uniform(0.15, 0.45)
        cx = west + (c + 1.5) * cell + rng.uniform(-1, 1) * (cell / 2 - radius)
        cy = south + (r + 1.5) * cell + rng.uniform(-1, 1) * (cell / 2 - radius)
        hole = ring(rng, cx, cy, radius, rng.randint(3, 9), rng.random() < 0.5)
        if rng.random() < 0.2:
            hole = hole[:-1]  # left open: KML readers close it
        rings.append(hole)
    body = '<coordinates>%s</coordinates>' % coordinates(outer, ' ')
    inner = ''.join('<innerBoundaryIs><LinearRing><coordinates>%s</coordinates></LinearRing></innerBoundaryIs>' %
                    coordinates(h, '\n') for h in rings)
    with open(path, 'w') as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<kml xmlns="http://www.opengis.net/kml/2.2"><Document>'
                '<Style id="burn"><PolyStyle><color>7f0000ff</color></PolyStyle></Style>'
                '<Placemark><styleUrl>#burn</styleUrl><Polygon><outerBoundaryIs><LinearRing>%s</LinearRing>'
                '</outerBoundaryIs>%s</Polygon></Placemark></Document></kml>\n' % (body, inner))


def read(path):
    source = osr.SpatialReference()
    source.ImportFromEPSG(4326)
    source.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    target = osr.SpatialReference()
    target.ImportFromEPSG(3857)
    target.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    transform = osr.CoordinateTransformation(source, target)
    data = ogr.GetDriverByName('KML').Open(path)
    out = []

    def line(g):
        points = [g.GetPoint_2D(i) for i in range(g.GetPointCount())]
        out.append('L %d %s' % (len(points), ' '.join('%.6f %.6f' % p for p in points)))

    for layer_index in range(data.GetLayerCount()):
        layer = data.GetLayer(layer_index)
        for feature in layer:
            g = feature.GetGeometryRef().Clone()
            g.FlattenTo2D()
            g.Transform(transform)
            name = feature.GetField('Name') or ''
            kind = g.GetGeometryType()
            if kind == ogr.wkbPoint:
                out.append('P %.6f %.6f %s' % (g.GetX(), g.GetY(), name))
            elif kind == ogr.wkbLineString:
                line(g)
            elif kind == ogr.wkbPolygon:
                g.CloseRings()
                assert g.IsValid(), path
                for r in range(g.GetGeometryCount()):
                    line(g.GetGeometryRef(r))
                out.append('A %.6f' % g.GetArea())
    print('\n'.join(out))


if __name__ == '__main__':
    if sys.argv[1] == 'make':
        rng = random.Random(int(sys.argv[3]))
        make_planners(rng, os.path.join(sys.argv[2], 'planners.kml'))
        make_gdal(rng, sys.argv[2])
    elif sys.argv[1] == 'holes':
        make_holes(sys.argv[2], int(sys.argv[3]), random.Random(int(sys.argv[4])))
    else:
        read(sys.argv[2])
