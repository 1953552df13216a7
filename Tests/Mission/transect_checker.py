#!/usr/bin/python3
"""Checks generated transect lines with OGR, in an azimuthal equidistant projection about each region.

Usage: transect_checker.py CASES_FILE

CASES_FILE, per case:
  CASE heading spacing overshoot capped
  POLY lon lat lon lat ...      (the region, closing edge implied)
  NEEDED n                      (the waypoints the generator says the whole region needs)
  UNCOVERED lon lat lon lat ... (the part it says its lines leave uncovered; no points: none)
  WP lon lat                    (the generated waypoints, two per line, in order)
For every case: the waypoints pair into lines; every line lies inside the region's convex hull grown
by the overshoot (both taken straight on the Web-Mercator map, as the program draws them); each line's ends lie the overshoot beyond its outermost crossings of the region
(the part inside the hull is the line less twice the overshoot); every line runs along the heading
(either way) and reverses the line before it; neighbouring lines lie the spacing apart within 1 %;
the first line lies half a spacing in from the region's edge and, unless the case was capped, no
further line would fit before the far edge. Two waypoints per line from the first to the far edge are
what the region needs; when the lines stop short, the uncovered part is the region beyond half a
spacing past the last line (within a tenth of a spacing, and its area within that band).
Prints each failure and exits 1 when there is one.
"""
import math
import sys

from osgeo import ogr, osr

osr.UseExceptions() if hasattr(osr, "UseExceptions") else None
failures = []


def fail(case, text):
    failures.append("case %d: %s" % (case, text))


def check(index, heading, spacing, overshoot, capped, polygon, waypoints, needed, uncovered):
    lons = [p[0] for p in polygon]
    lats = [p[1] for p in polygon]
    local = osr.SpatialReference()
    local.ImportFromProj4("+proj=aeqd +lat_0=%r +lon_0=%r +datum=WGS84 +units=m" %
                          ((min(lats) + max(lats)) / 2, (min(lons) + max(lons)) / 2))
    wgs84 = osr.SpatialReference()
    wgs84.ImportFromEPSG(4326)
    wgs84.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    to_local = osr.CoordinateTransformation(wgs84, local)

    def project(p):
        x, y, _ = to_local.TransformPoint(p[0], p[1])
        return (x, y)

    # The region and the lines are straight on the Web-Mercator map: where they meet is measured there,
    # in map units converted to metres by each line's own scale.
    mercator = osr.SpatialReference()
    mercator.ImportFromEPSG(3857)
    to_map = osr.CoordinateTransformation(wgs84, mercator)

    def on_map(p):
        x, y, _ = to_map.TransformPoint(p[0], p[1])
        return (x, y)

    ring = ogr.Geometry(ogr.wkbLinearRing)
    for p in polygon + [polygon[0]]:
        ring.AddPoint_2D(*on_map(p))
    region = ogr.Geometry(ogr.wkbPolygon)
    region.AddGeometry(ring)
    hull = region.ConvexHull()
    points = [project(w) for w in waypoints]
    map_points = [on_map(w) for w in waypoints]
    if len(points) % 2:
        fail(index, "%d waypoints do not pair into lines" % len(points))
        return
    lines = [(points[i], points[i + 1]) for i in range(0, len(points), 2)]
    if not lines:
        fail(index, "no lines")
        return
    rad = math.radians(heading)
    along = (math.sin(rad), math.cos(rad))
    across = (along[1], -along[0])
    offsets = []
    previous = None
    for k, (a, b) in enumerate(lines):
        length = math.hypot(b[0] - a[0], b[1] - a[1])
        segment = ogr.Geometry(ogr.wkbLineString)
        segment.AddPoint_2D(*map_points[2 * k])
        segment.AddPoint_2D(*map_points[2 * k + 1])
        scale = segment.Length() / length  # map units per metre along this line
        if not hull.Buffer((overshoot + 0.01) * scale, 64).Contains(segment):
            fail(index, "line %d leaves the region grown by the overshoot" % k)
        inside = segment.Intersection(hull).Length() / scale
        if abs(inside - (length - 2 * overshoot)) > 0.01 + 1e-4 * length:
            fail(index, "line %d: %.3f m inside the region, expected %.3f" % (k, inside, length - 2 * overshoot))
        direction = ((b[0] - a[0]) / length, (b[1] - a[1]) / length)
        cross = direction[0] * along[1] - direction[1] * along[0]
        if abs(cross) > math.sin(math.radians(0.2)):
            fail(index, "line %d runs %.3f degrees off the heading" % (k, math.degrees(math.asin(min(1, abs(cross))))))
        if previous is not None and direction[0] * previous[0] + direction[1] * previous[1] > -0.99:
            fail(index, "line %d does not reverse the line before it" % k)
        previous = direction
        middle = ((a[0] + b[0]) / 2, (a[1] + b[1]) / 2)
        offsets.append(middle[0] * across[0] + middle[1] * across[1])
    for k in range(1, len(offsets)):
        gap = offsets[k] - offsets[k - 1]
        if abs(gap - spacing) > 0.01 * spacing:
            fail(index, "lines %d and %d are %.3f m apart, expected %.3f" % (k - 1, k, gap, spacing))
    ring_points = [project(p) for p in polygon]
    low = min(p[0] * across[0] + p[1] * across[1] for p in ring_points)
    high = max(p[0] * across[0] + p[1] * across[1] for p in ring_points)
    if abs(offsets[0] - low - spacing / 2) > 0.01 * spacing:
        fail(index, "the first line lies %.3f m in from the edge, expected %.3f" % (offsets[0] - low, spacing / 2))
    if not capped and high - offsets[-1] > spacing * 1.01:
        fail(index, "another line would fit: %.3f m beyond the last one" % (high - offsets[-1]))

    # The whole region needs a line at every spacing from half a spacing in up to the far edge.
    lines_needed = int(math.ceil((high - low) / spacing - 0.5))
    if abs(needed - 2 * lines_needed) > 2:
        fail(index, "says %d waypoints are needed, expected %d" % (needed, 2 * lines_needed))
    if needed > len(waypoints) and len(uncovered) < 3:
        fail(index, "the lines stop short but no uncovered part is given")
    if needed > len(waypoints) and len(uncovered) >= 3:
        cut = offsets[-1] + spacing / 2
        along_extent = max(p[0] * along[0] + p[1] * along[1] for p in ring_points) - \
            min(p[0] * along[0] + p[1] * along[1] for p in ring_points)
        far = 10 * (high - low + along_extent)
        beyond = ogr.Geometry(ogr.wkbLinearRing)
        for t, u in ((cut, -far), (cut + far, -far), (cut + far, far), (cut, far), (cut, -far)):
            beyond.AddPoint_2D(across[0] * t + along[0] * u, across[1] * t + along[1] * u)
        half_plane = ogr.Geometry(ogr.wkbPolygon)
        half_plane.AddGeometry(beyond)
        local_ring = ogr.Geometry(ogr.wkbLinearRing)
        for p in ring_points + [ring_points[0]]:
            local_ring.AddPoint_2D(*p)
        local_region = ogr.Geometry(ogr.wkbPolygon)
        local_region.AddGeometry(local_ring)
        expected = local_region.Intersection(half_plane).Area()
        given_ring = ogr.Geometry(ogr.wkbLinearRing)
        for p in uncovered + [uncovered[0]]:
            given_ring.AddPoint_2D(*project(p))
        given = ogr.Geometry(ogr.wkbPolygon)
        given.AddGeometry(given_ring)
        # Its near side is the cut, and the rest is the region beyond it.
        near = min(project(p)[0] * across[0] + project(p)[1] * across[1] for p in uncovered)
        if abs(near - cut) > 0.1 * spacing:
            fail(index, "the uncovered part starts %.3f m past the last line, expected %.3f" %
                 (near - offsets[-1], spacing / 2))
        tolerance = 0.1 * spacing * along_extent + 1e-3 * expected
        if abs(given.Area() - expected) > tolerance:
            fail(index, "uncovered part of %.1f m2, expected %.1f" % (given.Area(), expected))


cases = []
for line in open(sys.argv[1]):
    words = line.split()
    if not words:
        continue
    if words[0] == "CASE":
        cases.append({"h": float(words[1]), "s": float(words[2]), "o": float(words[3]), "capped": words[4] == "1",
                      "poly": [], "wp": [], "needed": 0, "uncovered": []})
    elif words[0] == "NEEDED":
        cases[-1]["needed"] = int(words[1])
    elif words[0] == "UNCOVERED":
        values = [float(v) for v in words[1:]]
        cases[-1]["uncovered"] = [(values[i], values[i + 1]) for i in range(0, len(values), 2)]
    elif words[0] == "POLY":
        values = [float(v) for v in words[1:]]
        cases[-1]["poly"] = [(values[i], values[i + 1]) for i in range(0, len(values), 2)]
    elif words[0] == "WP":
        cases[-1]["wp"].append((float(words[1]), float(words[2])))
for i, c in enumerate(cases):
    check(i, c["h"], c["s"], c["o"], c["capped"], c["poly"], c["wp"], c["needed"], c["uncovered"])
print("%d cases checked" % len(cases))
for f in failures[:40]:
    print(f)
sys.exit(1 if failures else 0)
