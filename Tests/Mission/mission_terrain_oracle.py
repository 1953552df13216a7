#!/usr/bin/python3
"""Makes a synthetic ridge with GDAL and walks missions over it on its own, for the terrain check tests.

Usage: mission_terrain_oracle.py OUTPUT_FOLDER

N46E009.hgt: an SRTM3 tile written by GDAL's SRTMHGT driver: a plain at 400 m with a north-south
ridge (crest 700 m at 9.5 E), a second lower ridge at 9.8 E, and a void patch on the crest between
46.60 and 46.64 N.

missions.txt, per mission:
  MISSION name clearance referenceLongitude referenceLatitude
  WP longitude latitude altitude        (altitude above the reference's ground)
  SPOT distanceOfTheSpot altitude longitude latitude
  ...
  SAFE
The SPOT lines are the low spots the check finds one after another when each found spot is
acknowledged (by the position of its first sample) before the next check; SAFE ends the list.

The walk follows the documented rule: start at the reference at altitude 0, climb vertically to the
first waypoint's altitude, then from waypoint to waypoint; samples every max(5, length / 4000)
metres from 0 and one at the end; the terrain under a sample is bilinear over the four surrounding
samples (unknown when one is void or the point is off the tile); a sample is low when its altitude
less the ground's height above the reference's ground is below the clearance; consecutive low
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


def low_spots(reference, waypoints, clearance, acknowledged):
    takeoff = ground(*reference)
    points = [(reference, 0.0)]
    if waypoints[0][2] > 1.0:
        points.append((reference, waypoints[0][2]))
    points += [((w[0], w[1]), w[2]) for w in waypoints]
    distances = [0.0]
    for a, b in zip(points, points[1:]):
        distances.append(distances[-1] + distance(a[0], b[0]))
    total = distances[-1]
    step = max(5.0, total / 4000)
    count = math.ceil(total / step - 1e-9) + 1
    spots, run, cleared, margin = [], None, False, float("inf")
    for k in range(count):
        d = min(k * step, total) if k < count - 1 else total
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
        altitude = a[1] + (b[1] - a[1]) * t
        g = ground(*position)
        low = False
        if g is not None:
            above = altitude - (g - takeoff)
            margin = min(margin, abs(above - clearance))
            low = above < clearance
            cleared = cleared or not low
            low = low and cleared
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


MISSIONS = [
    # Across the ridge too low, twice (out and back), then over the second ridge too low.
    ("ridge", 30.0, (9.45, 46.50), [(9.47, 46.50, 120), (9.53, 46.505, 120), (9.54, 46.52, 250),
                                    (9.46, 46.52, 290), (9.79, 46.53, 180), (9.81, 46.53, 175)]),
    # High enough everywhere.
    ("clear", 30.0, (9.45, 46.50), [(9.47, 46.50, 340), (9.53, 46.50, 340), (9.82, 46.51, 340)]),
    # Crosses the crest only where it is void: nothing is known there, so nothing is low.
    ("void", 30.0, (9.45, 46.62), [(9.46, 46.62, 100), (9.54, 46.62, 100)]),
    # Leaves the tile eastwards and comes down low where no terrain is known.
    ("offTile", 20.0, (9.95, 46.3), [(9.96, 46.3, 60), (10.02, 46.3, 2), (10.05, 46.31, 1)]),
    # A long path with a large step, grazing the crest.
    ("long", 25.0, (9.2, 46.1), [(9.2, 46.1, 300), (9.5, 46.9, 310), (9.51, 46.1, 321.3)]),
]

with open(os.path.join(out, "missions.txt"), "w") as f:
    for name, clearance, reference, waypoints in MISSIONS:
        f.write("MISSION %s %r %r %r\n" % (name, clearance, reference[0], reference[1]))
        for w in waypoints:
            f.write("WP %r %r %r\n" % w)
        acknowledged = []
        for _ in range(32):
            spots, margin = low_spots(reference, waypoints, clearance, acknowledged)
            if margin < 0.0005:
                sys.exit("%s: a sample lies %.4f m from the clearance; move the mission" % (name, margin))
            if not spots:
                break
            d, altitude, position = spots[0]["first"]
            f.write("SPOT %r %r %r %r\n" % (d, altitude, position[0], position[1]))
            acknowledged.append(position)
        f.write("SAFE\n")
