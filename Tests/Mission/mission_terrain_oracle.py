#!/usr/bin/python3
"""Makes a synthetic ridge with GDAL and walks missions over it on its own, for the terrain check tests.

Usage: mission_terrain_oracle.py OUTPUT_FOLDER

N46E009.hgt: an SRTM3 tile written by GDAL's SRTMHGT driver: a plain at 400 m with a north-south
ridge (crest 700 m at 9.5 E), a second lower ridge at 9.8 E, and a void patch on the crest between
46.60 and 46.64 N.

missions.txt, per mission:
  MISSION name clearance referenceLongitude referenceLatitude path start
  WP longitude latitude altitude        (altitude above the reference's ground)
  SPOT distanceOfTheSpot altitude longitude latitude
  ...
  SAFE
path is 0 for a vertical climb (or a level leg and a descent) to the first waypoint, 1 for a straight
first leg; start is "landed" (the vehicle on the ground at the reference) or "longitude latitude
altitude" of the vehicle in the air. The SPOT lines are the low spots the check finds one after
another when each found spot is acknowledged (by the position of its first sample) before the next
check; SAFE ends the list.

The walk: from the start to the first waypoint as the path says, then from waypoint to waypoint;
samples every max(5, length / 4000) metres from 0, one at the end, and one at each waypoint at its
own altitude (a step within a micrometre of a waypoint is that waypoint's sample); the terrain under
a sample is bilinear over the four surrounding samples (unknown when one is void or the point is off
the tile); a sample is low when its altitude less the ground's height above the reference's ground
is below the clearance. Only the take-off climb is spared: a vertical climb is never sampled, and on
a straight first leg that climbs the samples before the first waypoint do not count. Consecutive low
samples form one spot, which is passed when any of its samples lies within one step of an
acknowledged position.
"""
import math
import os
import sys

import numpy as np
from osgeo import gdal, osr

gdal.UseExceptions()
out = sys.argv[1]

SIDE = 1201
SOUTH, WEST = 46, 9
STEP = 1.0 / (SIDE - 1)
VOID = -32768

lat, lon = np.mgrid[0:SIDE, 0:SIDE].astype(np.float64)
lat = SOUTH + 1 - lat * STEP
lon = WEST + lon * STEP
heights = 400 + 300 * np.exp(-((lon - 9.5) / 0.01) ** 2) + 150 * np.exp(-((lon - 9.8) / 0.004) ** 2)
data = np.round(heights).astype(np.int16)
void = (lat > 46.60) & (lat < 46.64) & (np.abs(lon - 9.5) < 0.02)
data[void] = VOID

wgs84 = osr.SpatialReference()
wgs84.SetFromUserInput("EPSG:4326")
mem = gdal.GetDriverByName("MEM").Create("", SIDE, SIDE, 1, gdal.GDT_Int16)
mem.SetGeoTransform((WEST - STEP / 2, STEP, 0, SOUTH + 1 + STEP / 2, 0, -STEP))
mem.SetProjection(wgs84.ExportToWkt())
mem.GetRasterBand(1).WriteArray(data)
mem.GetRasterBand(1).SetNoDataValue(VOID)
gdal.GetDriverByName("SRTMHGT").CreateCopy(os.path.join(out, "N46E009.hgt"), mem)
# Read back what GDAL wrote: the walk stands on the file, not on the array above.
written = gdal.Open(os.path.join(out, "N46E009.hgt"))
grid = written.GetRasterBand(1).ReadAsArray().astype(np.float64)
written = None


def ground(longitude, latitude):
    column = (longitude - WEST) * (SIDE - 1)
    row = (SOUTH + 1 - latitude) * (SIDE - 1)
    c0, r0 = math.floor(column), math.floor(row)
    if c0 < 0 or r0 < 0 or c0 + 1 > SIDE - 1 or r0 + 1 > SIDE - 1:
        if not (0 <= column <= SIDE - 1 and 0 <= row <= SIDE - 1):
            return None
        c0, r0 = min(c0, SIDE - 2), min(r0, SIDE - 2)
    box = grid[r0:r0 + 2, c0:c0 + 2]
    if (box == VOID).any():
        return None
    fc, fr = column - c0, row - r0
    top = box[0, 0] * (1 - fc) + box[0, 1] * fc
    bottom = box[1, 0] * (1 - fc) + box[1, 1] * fc
    return top * (1 - fr) + bottom * fr


SERIES_PI = 3.14159265359


def metres_per_degree_latitude(latitude):
    phi = latitude * SERIES_PI / 180
    return max(0.0, 111132.92 - 559.82 * math.cos(2 * phi) + 1.175 * math.cos(4 * phi) - 0.0023 * math.cos(6 * phi))


def metres_per_degree_longitude(latitude):
    phi = latitude * SERIES_PI / 180
    return max(0.0, 111412.84 * math.cos(phi) - 93.5 * math.cos(3 * phi) + 0.118 * math.cos(5 * phi))


def distance(a, b):
    mean = (a[1] + b[1]) / 2
    dx = metres_per_degree_longitude(mean) * (b[0] - a[0])
    dy = metres_per_degree_latitude(mean) * (b[1] - a[1])
    return math.hypot(dx, dy)


def to_mercator(p):
    return (p[0] / 360.0, math.log(math.tan(p[1] * math.pi / 360 + math.pi / 4)) / (2 * math.pi))


def from_mercator(m):
    return (m[0] * 360.0, (math.atan(math.exp(2 * math.pi * m[1])) - math.pi / 4) * 360 / math.pi)


def low_spots(reference, path, start, waypoints, clearance, acknowledged):
    takeoff = ground(*reference)
    if start is None:
        start_position, start_altitude = reference, 0.0
    else:
        start_position, start_altitude = (start[0], start[1]), start[2]
    first = waypoints[0]
    # The path's corners: (position, altitude, waypoint index or None, the take-off climb ends here).
    points = [(start_position, start_altitude, None, False)]
    if path == 0 and start_altitude > first[2] + 1.0:
        points.append(((first[0], first[1]), start_altitude, None, False))
    elif path == 0 and start_altitude < first[2] - 1.0:
        points.append((start_position, first[2], None, True))
    straight_climb = len(points) == 1 and first[2] > start_altitude
    points += [((w[0], w[1]), w[2], i, i == 0 and straight_climb) for i, w in enumerate(waypoints)]
    distances = [0.0]
    for a, b in zip(points, points[1:]):
        distances.append(distances[-1] + distance(a[0], b[0]))
    total = distances[-1]
    step = max(5.0, total / 4000)
    count = math.ceil(total / step - 1e-9) + 1
    grid = [min(k * step, total) if k < count - 1 else total for k in range(count)]
    stops = [(distances[i], 0, i) for i, p in enumerate(points) if p[2] is not None]
    stops += [(d, 1, None) for d in grid if all(abs(d - w[0]) > 1e-6 for w in stops)]
    stops.sort(key=lambda s: (s[0], s[1]))

    def place(d):
        leg = 1
        for i in range(1, len(points)):
            if distances[i - 1] > d:
                break
            if distances[i] > distances[i - 1]:
                leg = i
        a, b = points[leg - 1], points[leg]
        length = distances[leg] - distances[leg - 1]
        t = min(1.0, max(0.0, (d - distances[leg - 1]) / length)) if length > 0 else 1.0
        ma, mb = to_mercator(a[0]), to_mercator(b[0])
        position = from_mercator((ma[0] + (mb[0] - ma[0]) * t, ma[1] + (mb[1] - ma[1]) * t))
        return position, a[1] + (b[1] - a[1]) * t, b[3] and t < 1

    spots, run, margin = [], None, float("inf")
    for d, kind, index in stops:
        if kind == 0:
            position, altitude, spared = points[index][0], points[index][1], False
        else:
            position, altitude, spared = place(d)
        g = ground(*position)
        low = False
        if g is not None:
            above = altitude - (g - takeoff)
            margin = min(margin, abs(above - clearance))
            low = above < clearance and not spared
        if low:
            if run is None:
                run = {"first": (d, altitude, position), "ack": False}
            run["ack"] = run["ack"] or any(distance(position, p) <= step * 1.000001 for p in acknowledged)
        elif run is not None:
            spots.append(run)
            run = None
    if run is not None:
        spots.append(run)
    return [s for s in spots if not s["ack"]], margin


VERTICAL, STRAIGHT = 0, 1
MISSIONS = [
    # Across the ridge too low, twice (out and back), then over the second ridge too low.
    ("ridge", 30.0, (9.45, 46.50), VERTICAL, None,
     [(9.47, 46.50, 120), (9.53, 46.505, 120), (9.54, 46.52, 250), (9.46, 46.52, 290), (9.79, 46.53, 180),
      (9.81, 46.53, 175)]),
    # High enough everywhere.
    ("clear", 30.0, (9.45, 46.50), VERTICAL, None, [(9.47, 46.50, 340), (9.53, 46.50, 340), (9.82, 46.51, 340)]),
    # Crosses the crest only where it is void: nothing is known there, so nothing is low.
    ("void", 30.0, (9.45, 46.62), VERTICAL, None, [(9.46, 46.62, 100), (9.54, 46.62, 100)]),
    # Leaves the tile eastwards and comes down low where no terrain is known.
    ("offTile", 20.0, (9.95, 46.3), VERTICAL, None, [(9.96, 46.3, 60), (10.02, 46.3, 2), (10.05, 46.31, 1)]),
    # A long path with a large step, grazing the crest.
    ("long", 25.0, (9.2, 46.1), VERTICAL, None, [(9.2, 46.1, 300), (9.5, 46.9, 310), (9.51, 46.1, 321.3)]),
    # On the plain, never as high as the warning: low from the first waypoint on.
    ("neverClear", 30.0, (9.2, 46.3), VERTICAL, None, [(9.21, 46.3, 10), (9.22, 46.3, 10), (9.23, 46.31, 10)]),
    # Low at the first waypoint, then high: the first leg is low.
    ("lowFirst", 30.0, (9.2, 46.3), VERTICAL, None, [(9.2, 46.305, 10), (9.2, 46.31, 60), (9.21, 46.31, 60)]),
    # Hovering low with the waypoints as low.
    ("hoverLow", 30.0, (9.2, 46.3), VERTICAL, (9.201, 46.3, 10), [(9.21, 46.3, 10), (9.22, 46.301, 10)]),
    # Hovering at 20 m with the waypoints at 15 m: level, then down to the first waypoint.
    ("hoverHigher", 30.0, (9.2, 46.3), VERTICAL, (9.201, 46.3, 20), [(9.21, 46.3, 15), (9.22, 46.301, 15)]),
    # A straight climb from the ground over the ridge is spared; from the first waypoint on all counts.
    ("straightClimb", 30.0, (9.45, 46.40), STRAIGHT, None, [(9.53, 46.40, 350), (9.56, 46.41, 350), (9.6, 46.4, 35)]),
    # A straight descent from above the plain across the ridge is checked.
    ("straightDescent", 30.0, (9.45, 46.40), STRAIGHT, (9.45, 46.41, 400), [(9.53, 46.41, 150), (9.56, 46.41, 150)]),
    # A vertical climb in the air, then a level leg across the ridge that is too low.
    ("climbInAir", 30.0, (9.45, 46.45), VERTICAL, (9.46, 46.45, 50), [(9.53, 46.45, 200), (9.56, 46.46, 200)]),
]

with open(os.path.join(out, "missions.txt"), "w") as f:
    for name, clearance, reference, path, start, waypoints in MISSIONS:
        where = "landed" if start is None else "%r %r %r" % start
        f.write("MISSION %s %r %r %r %d %s\n" % (name, clearance, reference[0], reference[1], path, where))
        for w in waypoints:
            f.write("WP %r %r %r\n" % w)
        acknowledged = []
        for _ in range(32):
            spots, margin = low_spots(reference, path, start, waypoints, clearance, acknowledged)
            if margin < 0.0005:
                sys.exit("%s: a sample lies %.4f m from the clearance; move the mission" % (name, margin))
            if not spots:
                break
            d, altitude, position = spots[0]["first"]
            f.write("SPOT %r %r %r %r\n" % (d, altitude, position[0], position[1]))
            acknowledged.append(position)
        f.write("SAFE\n")
