"""KML test files and what GDAL's OGR reads from them.

  kml_oracle.py make FOLDER SEED   writes FOLDER/planners.kml (styles, StyleMap, IconStyle, holes,
                                   unstyled points, written here) and FOLDER/gdal.kml (ogr2ogr -f KML
                                   from a GeoJSON of random lines, polygons with holes and points)
  kml_oracle.py holes FILE.kml N SEED
                                   writes one filled polygon with N holes of random shape, size and
                                   winding scattered through it (rows of them side by side, holes that
                                   reach farther east than their neighbours, rings left open)
  kml_oracle.py layouts FOLDER SEED
                                   writes FOLDER/NAME.kml, one filled polygon each, whose holes line up
                                   with one another and with the outer ring (square holes on grids,
                                   diamonds, rectangles snapped to a coarse grid, rings with vertices in
                                   the middle of their edges), and FOLDER/areas.txt: NAME area (OGR's,
                                   EPSG:3857)
  kml_oracle.py cover FOLDER NAME...
                                   for each FOLDER/NAME.tri (one triangle a line: x y x y x y in
                                   EPSG:3857) prints NAME union overlap uncovered: the area of the
                                   triangles' union, the sum of their areas less that union, and the
                                   area between the union and FOLDER/NAME.kml's polygon
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


def write_polygon(path, outer, holes):
    body = '<coordinates>%s</coordinates>' % coordinates(outer, ' ')
    inner = ''.join('<innerBoundaryIs><LinearRing><coordinates>%s</coordinates></LinearRing></innerBoundaryIs>' %
                    coordinates(h, '\n') for h in holes)
    with open(path, 'w') as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<kml xmlns="http://www.opengis.net/kml/2.2"><Document>'
                '<Placemark><Polygon><outerBoundaryIs><LinearRing>%s</LinearRing></outerBoundaryIs>%s</Polygon>'
                '</Placemark></Document></kml>\n' % (body, inner))


def closed(points, rng):
    # Either winding; every ring closed.
    if rng.random() < 0.5:
        points = points[::-1]
    return points + [points[0]]


def subdivided(points, rng, parts):
    # Vertices added in the middle of edges, on grid values when the corners are.
    out = []
    for i, a in enumerate(points):
        b = points[(i + 1) % len(points)]
        out.append(a)
        n = rng.choice(parts)
        for k in range(1, n):
            out.append((a[0] + (b[0] - a[0]) * k / n, a[1] + (b[1] - a[1]) * k / n))
    return out


def make_layouts(folder, rng):
    west, south, unit = 8.0, 46.0, 0.0005
    cases = []

    def at(gx, gy):
        return (west + gx * unit, south + gy * unit)

    def box(x0, y0, x1, y1):
        return [at(x0, y0), at(x1, y0), at(x1, y1), at(x0, y1)]

    # Square holes on an n x n grid, in an outer square whose east side has a vertex at every hole
    # row's edges, so that joins run along hole edges and through vertices of the outer ring.
    # 31 x 31 is the largest grid a polygon takes whole: 1,000 holes at most.
    for n in [2, 3, 4, 5, 8, 13, 31]:
        for variant in range(2):
            side = 4 * n + 2
            east = [at(side, 0)] + [at(side, y) for r in range(n) for y in (4 * r + 2, 4 * r + 4)] + [at(side, side)]
            outer = [at(0, 0)] + east + [at(0, side)] if variant else box(0, 0, side, side)
            holes = [closed(box(4 * c + 2, 4 * r + 2, 4 * c + 4, 4 * r + 4), rng) for r in range(n) for c in range(n)]
            cases.append(('grid-%d-%d' % (n, variant), closed(outer, rng), holes))
    # Diamonds in rows and columns: the ray from one's east corner runs through the next one's west
    # corner.
    for n in [2, 3, 6, 12]:
        side = 4 * n + 2
        holes = [closed([at(4 * c + 2, 4 * r + 3), at(4 * c + 3, 4 * r + 2), at(4 * c + 4, 4 * r + 3),
                         at(4 * c + 3, 4 * r + 4)], rng) for r in range(n) for c in range(n)]
        cases.append(('diamonds-%d' % n, closed(box(0, 0, side, side), rng), holes))
    # Holes touching at a corner: rows of diamonds corner to corner, chains of squares along a
    # diagonal, and holes whose corner lies on the outer ring (at one of its vertices or mid-edge).
    for n in [2, 3, 7]:
        side = 2 * n + 4
        rows = [r for r in range(0, side - 4, 3)]
        holes = [closed([at(2 * c + 2, r + 3), at(2 * c + 3, r + 2), at(2 * c + 4, r + 3), at(2 * c + 3, r + 4)], rng)
                 for r in rows for c in range(n)]
        cases.append(('touching-diamonds-%d' % n, closed(box(0, 0, side, side), rng), holes))
        holes = [closed(box(c + 1, c + 1, c + 2, c + 2), rng) for c in range(n)]
        holes += [closed(box(c + 2, side - c - 3, c + 3, side - c - 2), rng) for c in range(n - 1)]
        cases.append(('touching-squares-%d' % n, closed(box(0, 0, side + 1, side + 1), rng), holes))
        outer = [at(0, 0), at(side, 0), at(side, side // 2), at(side, side), at(0, side)]
        holes = [closed([at(side - 2, side // 2), at(side - 1, side // 2 - 1), at(side, side // 2),
                         at(side - 1, side // 2 + 1)], rng),
                 closed([at(2, 1), at(3, 0), at(4, 1), at(3, 2)], rng),
                 closed([at(0, side - 2), at(1, side - 3), at(2, side - 2), at(1, side - 1)], rng)]
        holes += [closed(box(2 * c + 3, 5, 2 * c + 4, 6), rng) for c in range(n - 1)]
        cases.append(('touching-outer-%d' % n, closed(outer, rng), holes))
    # Rectangles snapped to a coarse grid, apart from one another by a grid step at least, some with
    # vertices in the middle of their edges; the outer ring a staircase on the same grid.
    for k in range(14):
        size = rng.choice([12, 20, 40])
        count = rng.choice([4, 10, 30, 80, 200])
        taken = []
        holes = []
        for _ in range(count * 20):
            if len(holes) >= count:
                break
            w, h = rng.randint(1, 4), rng.randint(1, 4)
            x0, y0 = rng.randint(2, size - 2 - w), rng.randint(2, size - 2 - h)
            if any(x0 <= b[2] and b[0] <= x0 + w and y0 <= b[3] and b[1] <= y0 + h for b in taken):
                continue
            taken.append((x0 - 1, y0 - 1, x0 + w + 1, y0 + h + 1))
            corners = box(x0, y0, x0 + w, y0 + h)
            if rng.random() < 0.3:
                corners = subdivided(corners, rng, [1, 1, 2])
            holes.append(closed(corners, rng))
        # The east side steps between two grid columns, at grid rows holes may also have.
        x, y = size, 0
        outer = [at(0, 0), at(x, y)]
        while y < size:
            y = min(size, y + rng.randint(1, 5))
            outer.append(at(x, y))
            if y < size:
                x = 2 * size + 1 - x
                outer.append(at(x, y))
        outer.append(at(0, size))
        cases.append(('snapped-%d' % k, closed(outer, rng), holes))
    # Random holes, as in the holes mode.
    for k, count in enumerate([5, 40, 300]):
        path = os.path.join(folder, 'random-%d.kml' % k)
        make_holes(path, count, rng)
    names = [c[0] for c in cases] + ['random-%d' % k for k in range(3)]
    for name, outer, holes in cases:
        write_polygon(os.path.join(folder, name + '.kml'), outer, holes)
    with open(os.path.join(folder, 'areas.txt'), 'w') as f:
        for name in names:
            area = 0
            for layer in ogr.Open(os.path.join(folder, name + '.kml')):
                for feature in layer:
                    g = to_web_mercator(feature.GetGeometryRef().Clone())
                    g.CloseRings()
                    assert g.IsValid(), name
                    area += g.GetArea()
            f.write('%s %.6f\n' % (name, area))


def web_mercator_transform():
    source = osr.SpatialReference()
    source.ImportFromEPSG(4326)
    source.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    target = osr.SpatialReference()
    target.ImportFromEPSG(3857)
    target.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    return osr.CoordinateTransformation(source, target)


def to_web_mercator(g):
    g.FlattenTo2D()
    g.Transform(web_mercator_transform())
    return g


def cover(folder, names):
    for name in names:
        polygon = None
        for layer in ogr.Open(os.path.join(folder, name + '.kml')):
            for feature in layer:
                polygon = to_web_mercator(feature.GetGeometryRef().Clone())
                polygon.CloseRings()
        triangles = ogr.Geometry(ogr.wkbMultiPolygon)
        total = 0
        with open(os.path.join(folder, name + '.tri')) as f:
            for line in f:
                v = [float(x) for x in line.split()]
                ring = ogr.Geometry(ogr.wkbLinearRing)
                for k in (0, 2, 4, 0):
                    ring.AddPoint_2D(v[k], v[k + 1])
                t = ogr.Geometry(ogr.wkbPolygon)
                t.AddGeometry(ring)
                area = t.GetArea()
                if area > 0:
                    total += area
                    triangles.AddGeometry(t)
        union = triangles.UnionCascaded() if triangles.GetGeometryCount() else ogr.Geometry(ogr.wkbPolygon)
        print('%s %.6f %.6f %.6f' % (name, union.GetArea(), total - union.GetArea(),
                                     polygon.SymDifference(union).GetArea()))


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
    elif sys.argv[1] == 'layouts':
        make_layouts(sys.argv[2], random.Random(int(sys.argv[3])))
    elif sys.argv[1] == 'cover':
        cover(sys.argv[2], sys.argv[3:])
    elif sys.argv[1] == 'holes':
        make_holes(sys.argv[2], int(sys.argv[3]), random.Random(int(sys.argv[4])))
    else:
        read(sys.argv[2])
