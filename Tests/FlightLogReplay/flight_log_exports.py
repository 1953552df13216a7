#!/usr/bin/python3
"""Checks the flight-log exports of the flight that mavlink_peer.mjs "exportflight" recorded, with
readers of its own: python's csv module, numpy for the attitude arithmetic, gpxpy, OGR's GPX driver
and gpsbabel. What each row must hold is worked out here from what the peer put into the log.

  flight_log_exports.py PEER_OUTPUT AUGMENTED START FOLDER NAME

PEER_OUTPUT: the peer's lines; AUGMENTED: lines "MS LAT LON AGL DEM PILOT" of the position entries
the test added; START: the log's start (Unix ms); FOLDER holds the exports of log NAME. Prints "ok"
or the first difference.
"""
import csv
import datetime
import math
import os
import subprocess
import sys

import numpy

import gpxpy
from osgeo import ogr

RAD = 57.29577951308232


def fixed(text, decimals):
    """The number of a fixed-point field, which must have exactly that many decimals."""
    if text == "NaN":
        return float("nan")
    whole, _, fraction = text.partition(".")
    assert len(fraction) == decimals, (text, decimals)
    return float(text)


def close(text, expected, decimals, slack=1.5):
    value = fixed(text, decimals)
    if math.isnan(expected):
        assert math.isnan(value), (text, expected)
        return
    assert abs(value - expected) <= slack * 10.0 ** -decimals, (text, expected)


def qmul(a, b):
    ax, ay, az, aw = a
    bx, by, bz, bw = b
    return (aw * bx + ax * bw + ay * bz - az * by,
            aw * by - ax * bz + ay * bw + az * bx,
            aw * bz + ax * by - ay * bx + az * bw,
            aw * bw - ax * bx - ay * by - az * bz)


def axis(x, y, z, angle):
    s = math.sin(angle / 2)
    return (x * s, y * s, z * s, math.cos(angle / 2))


def from_euler(roll, pitch, yaw):
    # The attitude of roll, pitch and yaw: Rz(-roll) . Rx(pitch) . Ry(yaw).
    return qmul(qmul(axis(0, 0, 1, -roll), axis(1, 0, 0, pitch)), axis(0, 1, 0, yaw))


def to_euler(q):
    """Roll, pitch and yaw in degrees, solved from the rotation matrix of q."""
    x, y, z, w = q
    m = numpy.array([[1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)],
                     [2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)],
                     [2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)]])
    m /= max(numpy.linalg.norm(m[0]), 1e-300)
    pitch = math.asin(max(-1.0, min(1.0, m[2][1])))
    yaw = math.atan2(-m[2][0], m[2][2])
    roll = -math.atan2(-m[0][1], m[1][1])
    return roll * RAD, pitch * RAD, yaw * RAD


def same_attitude(texts, q):
    """The yaw, pitch and roll texts (degrees, 6 decimals) turn back into attitude q (either sign)."""
    yaw, pitch, roll = (fixed(text, 6) / RAD for text in texts)
    back = numpy.array(from_euler(roll, pitch, yaw))
    want = numpy.array(q) / numpy.linalg.norm(q)
    assert 1 - abs(float(back @ want)) < 1e-9, (texts, to_euler(q))


def load(peer_path, augmented_path, start):
    entries = [(start, 0, "header", None)]
    order = 1
    for line in open(peer_path):
        words = line.split()
        if not words:
            continue
        kind, ms = words[0], int(words[1]) if len(words) > 1 else 0
        if kind == "d":
            entries.append((start + int(words[2]), order, "datagram", (int(words[1]), bytes.fromhex(words[3]))))
        elif kind in ("pos", "camera", "gimbal", "photo", "snapshot", "counters", "orvik"):
            entries.append((start + ms, order, kind, words[2:]))
        order += 1
    for line in open(augmented_path):
        ms, lat, lon, agl, dem, pilot = line.split()
        entries.append((start + int(ms), order, "augmented", (float(lat), float(lon), float(agl), float(dem),
                                                                float(pilot))))
        order += 1
    entries.sort(key=lambda e: (e[0], e[1]))
    # What the peer says it put into a datagram goes with the datagram of the same time.
    timeline = [{"time": time, "kind": kind, "data": data, "facts": []}
                for time, _, kind, data in entries if kind in ("header", "datagram", "augmented")]
    by_time = {e["time"]: e for e in timeline if e["kind"] == "datagram"}
    for time, _, kind, data in entries:
        if kind not in ("header", "datagram", "augmented"):
            by_time[time]["facts"].append((kind, data))
    return timeline


class State:
    def __init__(self):
        self.lat = self.lon = self.rel = self.gps = 0.0
        self.roll = self.pitch = self.yaw = 0.0
        self.vx = self.vy = 0.0
        self.gimbal = None  # (w, x, y, z)
        self.camera_range = 0
        self.camera = False
        self.agl = self.dem = self.pilot = 0.0
        self.drops = (0, 0)
        self.status = False

    def apply(self, entry):
        if entry["kind"] == "augmented":
            _, _, self.agl, self.dem, self.pilot = entry["data"]
            return
        if entry["kind"] != "datagram":
            return
        if entry["data"][0] != 1:
            return  # the camera's own link is not open in a replay
        for kind, data in entry["facts"]:
            if kind == "camera":
                self.camera = True  # the camera's HEARTBEAT and CAMERA_INFORMATION
            elif kind == "pos":
                lat, lon, rel, gps, roll, pitch, yaw, vx, vy = data
                self.lat, self.lon = int(lat) / 1e7, int(lon) / 1e7
                self.rel, self.gps = int(rel) / 1000, int(gps) / 1000
                self.roll, self.pitch, self.yaw = float(roll), float(pitch), float(yaw)
                self.vx, self.vy = int(vx) / 100, int(vy) / 100
            elif kind == "gimbal":
                self.gimbal = tuple(float(v) for v in data)
            elif kind == "counters":
                self.camera_range = int(data[4])
            elif kind == "orvik":
                self.drops = (int(data[0]), int(data[1]))
                self.status = True

    def pointing(self):
        """The camera's attitude: the gimbal's (north-east-down turned to east-north-up) turned by the
        vehicle's heading."""
        if self.gimbal is None or not self.camera:
            return (0.0, 0.0, 0.0, 0.0)
        w, x, y, z = self.gimbal
        return qmul(axis(0, 0, 1, -self.yaw), (y, x, -z, w))


class Replay:
    """The replay's clock moves with the datagrams: other entries keep the time of the one before."""
    def __init__(self, timeline):
        self.timeline = timeline
        self.cursor = 0
        self.state = State()
        self.time = 0

    def step(self, target):
        """The next entry once applied, or None when it lies after target or none is left."""
        if self.cursor >= len(self.timeline) or self.timeline[self.cursor]["time"] > target:
            return None
        entry = self.timeline[self.cursor]
        self.state.apply(entry)
        if entry["kind"] == "datagram":
            self.time = entry["time"]
        self.cursor += 1
        return entry


def check_photo_info(timeline, path):
    replay = Replay(timeline)
    while replay.step(timeline[0]["time"]) is not None:
        pass
    expected = []
    previous = [0]

    def row(time, name, track=False):
        s = replay.state
        # Before the gimbal's first report its attitude is all zeros, which gives no angles to compare.
        q = s.pointing() if s.pointing() != (0.0, 0.0, 0.0, 0.0) else None
        expected.append((time, name, s.camera_range / 100, s.lat, s.lon, s.rel, q, track))
        previous[0] = time

    def photo(time, name):
        while True:
            if replay.step(time) is None:
                break
            if replay.time > previous[0] + 100:
                row(replay.time, "", True)
        row(time, name)

    datagrams = [e for e in timeline if e["kind"] == "datagram"]
    last = datagrams[-1]
    previous_count = -1
    for entry in datagrams:
        for kind, data in entry["facts"]:
            if kind == "photo":
                utc_ms = int(data[0]) // 1000
                name = bytes.fromhex(data[1]).decode()
                time = entry["time"]
                if replay.state.camera and utc_ms < time:
                    time = utc_ms
                photo(time, name.replace(",", ";").replace('"', ";").replace("\r", ";").replace("\n", ";"))
            elif kind == "snapshot":
                photo(entry["time"], bytes.fromhex(data[0]).decode().replace(",", ";"))
            elif kind == "counters":
                count, period, message_ts, last_ts = (int(v) for v in data[:4])
                if 0 <= previous_count < count:
                    k = min(count - previous_count, 5)
                    newest = last_ts - message_ts + entry["time"]
                    for j in range(k):
                        photo(newest - (k - 1 - j) * period, "Turbo %d" % (count - (k - 1) + j))
                previous_count = count
        if entry is last:
            for _ in range(4):  # HEARTBEAT, ATTITUDE, GPS_RAW_INT, GLOBAL_POSITION_INT
                photo(entry["time"], "")

    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    assert rows[0] == ["Unix Time (ms)", "Image File", "Camera Range (m)", "Latitude", "Longitude",
                       "Altitude (m above takeoff location)", "Gimbal Yaw (degrees clockwise from north)",
                       "Gimbal Pitch (degrees above horizon)", "Gimbal Roll (degrees right)"], rows[0]
    rows = rows[1:]
    assert len(rows) == len(expected), (len(rows), len(expected), [(r[0], r[1]) for r in rows],
                                        [(e[0], e[1]) for e in expected])
    names = [r[1] for r in rows if r[1]]
    assert "a;b.jpg" in names and "q;uote.jpg" in names and "line;feed;.jpg" in names, names
    assert "Turbo 4" in names and ["Turbo %d" % n for n in range(7, 12)] == [n for n in names if n.startswith("Turbo")][1:]
    previous_time = 0
    for got, want in zip(rows, expected):
        time, name, camera_range, lat, lon, rel, angles, track = want
        assert len(got) == 9, got
        assert int(got[0]) == time, (got, want)
        assert got[1] == name, (got, want)
        if track:
            assert time > previous_time + 100, (got, previous_time)
        previous_time = time
        assert fixed(got[2], 2) == camera_range, (got, want)
        close(got[3], lat, 7)
        close(got[4], lon, 7)
        close(got[5], rel, 3)
        if angles is None:
            [fixed(text, 6) for text in got[6:9]]
        else:
            same_attitude(got[6:9], angles)
    return len(rows)


def check_fmv(timeline, path, start, length, visible, gap_pilot, gap_dem, log_start):
    replay = Replay(timeline)
    while replay.step(log_start) is not None:
        pass
    while replay.step(start) is not None:
        pass
    s = replay.state
    first = start > log_start
    previous_time = 0
    previous_q = s.pointing()
    expected = []
    entry = None
    while True:
        q = s.pointing()
        candidate = first or (entry is not None and entry["kind"] == "augmented") or q != previous_q
        time = start if first else (replay.time if entry else 0)
        if candidate and q != (0.0, 0.0, 0.0, 0.0) and time > previous_time:
            previous_time = time
            altitude = s.pilot if not gap_pilot else s.dem if not gap_dem else s.gps
            body = from_euler(s.roll, s.pitch, s.yaw)
            relative = qmul((-body[0], -body[1], -body[2], body[3]), q)
            expected.append((time, s.lat, s.lon, altitude, math.hypot(s.vx, s.vy), s.pitch * RAD, s.roll * RAD,
                             s.yaw * RAD, relative))
        if candidate:
            first = False
        if replay.cursor >= len(timeline):
            break
        previous_q = q
        entry = replay.step(start + length)
        if entry is None:
            break
    # The camera-protocol camera: 70 degrees across, its picture 2:3 in photo mode.
    t = math.tan(35 / RAD)
    fov = (70.0, 2 * math.atan(t * 6336.0 / 9504.0) * RAD)
    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    assert rows[0][0] == "UNIX Time Stamp" and len(rows[0]) == 13, rows[0]
    rows = rows[1:]
    assert len(rows) == len(expected), (path, len(rows), len(expected))
    for got, want in zip(rows, expected):
        assert len(got) == 13, got
        assert int(got[0]) == want[0] * 1000, (got, want)
        for text, value in zip(got[1:8], want[1:8]):
            close(text, value, 6, slack=20)
        same_attitude(got[8:11], want[8])
        close(got[11], fov[0], 6, slack=20)
        close(got[12], fov[1], 6, slack=20)
    return expected[0][0] if expected else 0


def utc(ms):
    return datetime.datetime.fromtimestamp(ms // 1000, datetime.timezone.utc).replace(tzinfo=None)


def check_gpx(timeline, path, variant, name):
    replay = Replay(timeline)
    waypoints, points = [], []
    previous, base, seen = (0, 0), 0, False
    while True:
        entry = replay.step(timeline[-1]["time"])
        if entry is None:
            break
        s = replay.state
        if (s.drops[0] > previous[0] or s.drops[1] > previous[1]) and seen:
            waypoints.append((s.lat, s.lon, replay.time, "Drop %d" % (sum(s.drops) - base)))
        elif not seen and s.status:
            base = sum(s.drops)
        previous, seen = s.drops, s.status
        if entry["kind"] == "augmented":
            elevation = (s.gps, s.rel, s.agl, s.dem, s.pilot)[variant]
            points.append((s.lat, s.lon, elevation, replay.time))
    assert [w[3] for w in waypoints] == ["Drop 1", "Drop 3"], waypoints

    with open(path) as f:
        document = gpxpy.parse(f)
    assert document.version == "1.1", document.version
    assert [w.name for w in document.waypoints] == [w[3] for w in waypoints]
    for got, want in zip(document.waypoints, waypoints):
        assert abs(got.latitude - want[0]) <= 1.5e-6 and abs(got.longitude - want[1]) <= 1.5e-6, (got, want)
        assert got.time.replace(tzinfo=None) == utc(want[2]), (got.time, want)
    assert len(document.tracks) == 1 and len(document.tracks[0].segments) == 1
    assert document.tracks[0].name == name, document.tracks[0].name
    track = document.tracks[0].segments[0].points
    assert len(track) == len(points), (len(track), len(points))
    for got, want in zip(track, points):
        assert abs(got.latitude - want[0]) <= 1.5e-6 and abs(got.longitude - want[1]) <= 1.5e-6, (got, want)
        if math.isnan(want[2]):
            assert got.elevation is None, (got, want)
        else:
            assert abs(got.elevation - want[2]) <= 1.5e-3, (got.elevation, want)
        assert got.time.replace(tzinfo=None) == utc(want[3]), (got.time, want)

    source = ogr.Open(path)
    layers = {source.GetLayer(i).GetName(): source.GetLayer(i) for i in range(source.GetLayerCount())}
    assert layers["waypoints"].GetFeatureCount() == len(waypoints)
    assert layers["track_points"].GetFeatureCount() == len(points)
    for feature, want in zip(layers["track_points"], points):
        geometry = feature.GetGeometryRef()
        assert abs(geometry.GetY() - want[0]) <= 1.5e-6 and abs(geometry.GetX() - want[1]) <= 1.5e-6
        assert feature.GetFieldAsString("time").startswith(utc(want[3]).strftime("%Y/%m/%d %H:%M:%S")), \
            (feature.GetFieldAsString("time"), want)

    babel = subprocess.run(["gpsbabel", "-t", "-i", "gpx", "-f", path, "-o", "unicsv,utc=0", "-F", "-"],
                           capture_output=True, text=True, check=True).stdout.splitlines()
    header = babel[0].split(",")
    table = [dict(zip(header, line.split(","))) for line in babel[1:]]
    assert len(table) == len(points), (len(table), len(points))
    for got, want in zip(table, points):
        assert abs(float(got["Latitude"]) - want[0]) <= 1.5e-6, (got, want)
        assert got["Date"] + " " + got["Time"] == utc(want[3]).strftime("%Y/%m/%d %H:%M:%S"), (got, want)
    return len(points)


def main():
    peer, augmented, start, folder, name = sys.argv[1:6]
    start = int(start)
    timeline = load(peer, augmented, start)
    photos = check_photo_info(timeline, os.path.join(folder, "Exported Photo Info", name + "_photo_info.csv"))
    fmv = os.path.join(folder, "Exported FMV Metadata", name + "_fmv_")
    first = check_fmv(timeline, fmv + "4_6_vis.csv", start + 4000, 6000, True, False, False, start)
    assert first == start + 4000, first
    first = check_fmv(timeline, fmv + "0_3_ir.csv", start, 3000, False, True, False, start)
    with open(fmv + "0_3_ir_timeshift.csv", newline="") as f:
        shift = list(csv.reader(f))
    assert shift[0][1].startswith("Time Shift (seconds).") and shift[1][0] == "0.00:00:00", shift
    assert fixed(shift[1][1], 3) == (start - first) / 1000, (shift, first)
    assert not os.path.exists(fmv + "4_6_vis_timeshift.csv")
    suffixes = ("", "_ATO", "_AGL", "_MSL_DEM", "_MSL_Pilot")
    for variant, suffix in enumerate(suffixes):
        check_gpx(timeline, os.path.join(folder, "Flight Logs GPX", name + suffix + ".gpx"), variant, name)
    print("ok %d photo-info rows" % photos)


if __name__ == "__main__":
    main()
