#!/usr/bin/python3
"""Writes the flight logs of the flight-log viewer's tests from node-mavlink datagrams and prints
what the viewer's first pass over each must find, worked out from the bytes written here.

  flight_log_viewer_logs.py FLIGHT CAMERA FOLDER
      FLIGHT: the output of "mavlink_peer.mjs flight N" (lines "datagram MS HEX" and "expect LAT LON
      RELALT_MM ..."); CAMERA: the output of recorded_camera.mjs. Writes
      FOLDER/track.qvlog3 (100 augmented positions after each datagram, some altitudes NaN) and
      FOLDER/camera.qvlog3 (a camera-protocol camera that records three times, the last time to the
      end of the log, and captures two photos). For each log prints "log NAME", then
        samples COUNT
        bounds LONMIN LONMAX LATMIN LATMAX
        presence AGL DEM PILOT
        distance METRES
        last-datagram INDEX
        photos COUNT
        recording START LENGTH PILOT_GAP DEM_GAP       (one line per recording)
        sample I STEP ALTITUDE AGL                     (every 997th kept sample)

  flight_log_viewer_logs.py views FLIGHT FOLDER
      FLIGHT: the output of "mavlink_peer.mjs replayviews". Writes FOLDER/views.qvlog3: the
      datagrams, an augmented position after each position (the ground flat at the takeoff's
      height), and before the flight a geofence and a started mission. Prints
        total METRES                       the path's length
        payload FROM TO                    the distances of the first and last sample dropping
        geofence LAT LON ...               the geofence's corners
        waypoint LAT LON ...               the mission's waypoints
"""
import math
import os
import random
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "FlightLogs"))
sys.path.insert(0, os.path.join(HERE, "..", "FlightLogReplay"))
import flight_log_index  # noqa: E402
from flight_log_list_logs import START, entry, header  # noqa: E402

KEPT = 90000
NAN = float("nan")


def f32(value):
    return struct.unpack("<f", struct.pack("<f", value))[0]


def metres_per_degree(latitude):
    phi = math.radians(latitude)
    along_latitude = 111132.92 - 559.82 * math.cos(2 * phi) + 1.175 * math.cos(4 * phi) - 0.0023 * math.cos(6 * phi)
    along_longitude = 111412.84 * math.cos(phi) - 93.5 * math.cos(3 * phi) + 0.118 * math.cos(5 * phi)
    return max(along_longitude, 0.0), max(along_latitude, 0.0)


def step_distance(a, b):
    mean = (a[0] + b[0]) * 0.5
    per_lon, per_lat = metres_per_degree(mean)
    dlon = (b[1] - a[1] + 180.0) % 360.0 - 180.0
    return math.hypot(per_lon * dlon, per_lat * (b[0] - a[0]))


def augmented(lat, lon, takeoff, ground, agl, dem, pilot):
    return struct.pack("<ddfffff", lat, lon, takeoff, ground, agl, dem, pilot)


class Expectation:
    def __init__(self):
        self.samples = []  # (step, altitude, agl)
        self.count = 0
        self.bounds = [1e12, -1e12, 1e12, -1e12]
        self.presence = [0, 0, 0]
        self.distance = 0.0
        self.previous = None
        self.recordings = []
        self.photos = 0
        self.altitude = NAN

    def position(self, lat, lon, agl, dem, pilot, vehicle):
        step = 0.0
        if self.previous is not None and self.previous != (0.0, 0.0):
            step = step_distance(self.previous, (lat, lon))
            self.distance += step
        self.previous = (lat, lon)
        for i, value in enumerate((agl, dem, pilot)):
            self.presence[i] |= 2 if math.isnan(value) else 1
        if self.count < KEPT:
            self.samples.append((step, self.altitude, agl))
        self.count += 1
        if vehicle is not None:
            self.bounds[0] = min(self.bounds[0], vehicle[1])
            self.bounds[1] = max(self.bounds[1], vehicle[1])
            self.bounds[2] = min(self.bounds[2], vehicle[0])
            self.bounds[3] = max(self.bounds[3], vehicle[0])

    def report(self, name, data):
        ordered, _, _ = flight_log_index.index(data)
        last = max(i for i, e in enumerate(ordered) if e[0] in (1, 2))
        print("log", name)
        print("samples", self.count)
        print("bounds %.17g %.17g %.17g %.17g" % tuple(self.bounds))
        print("presence %d %d %d" % tuple(self.presence))
        print("distance %.17g" % self.distance)
        print("last-datagram", last)
        print("photos", self.photos)
        for start, length, pilot_gap, dem_gap in self.recordings:
            print("recording %d %d %d %d" % (start, length, pilot_gap, dem_gap))
        for i in range(0, len(self.samples), 997):
            step, altitude, agl = self.samples[i]
            print("sample %d %.17g %.17g %.17g" % (i, step, altitude, agl))


def read_peer(path):
    lines = [line.split() for line in open(path) if line.strip()]
    return lines


def track_log(flight_path, folder):
    rng = random.Random(52)
    datagrams = []
    for words in read_peer(flight_path):
        if words[0] == "datagram":
            datagrams.append([bytes.fromhex(words[2])])
        elif words[0] == "expect":
            lat, lon, relative = int(words[1]), int(words[2]), int(words[3])
            datagrams[-1] += [lat / 1e7, lon / 1e7, relative / 1000.0]
    # The flight's extremes come last, after the kept samples: the bounds must still reach them.
    extremes = {max(range(len(datagrams)), key=lambda i: datagrams[i][k] * sign) for k in (1, 2) for sign in (1, -1)}
    datagrams = [d for i, d in enumerate(datagrams) if i not in extremes] + [datagrams[i] for i in sorted(extremes)]

    expect = Expectation()
    parts = [header(START)]
    lat, lon = 47.3977, 8.5456
    for k, (frame, vehicle_lat, vehicle_lon, relative) in enumerate(datagrams):
        t = START + 1000 + 1000 * k
        parts.append(entry(1, t, frame))
        expect.altitude = f32(relative)
        for j in range(100):
            lat += rng.uniform(-2e-5, 2e-5)
            lon += rng.uniform(-2e-5, 2e-5)
            agl = NAN if rng.random() < 0.1 else f32(rng.uniform(0, 120))
            dem = NAN if rng.random() < 0.05 else f32(rng.uniform(300, 600))
            pilot = f32(rng.uniform(300, 600))
            parts.append(entry(10, t + 5 + 9 * j, augmented(lat, lon, f32(relative), f32(400.0), agl, dem, pilot)))
            expect.position(lat, lon, agl, dem, pilot, (vehicle_lat, vehicle_lon))
    data = b"".join(parts)
    open(os.path.join(folder, "track.qvlog3"), "wb").write(data)
    expect.report("track", data)


def camera_log(camera_path, folder):
    frames = {words[1]: bytes.fromhex(words[2]) for words in read_peer(camera_path) if words[0] == "datagram"}
    t0 = START + 1000
    # (ms after t0, what): the camera identifies itself, then records three times and captures twice.
    script = [(0, "vehicle"), (10, "camera"), (20, "information"), (1000, "status-1-1500"), (2000, "status-0-0"),
              (3000, "captured"), (3100, "captured"), (4000, "status-1-0"), (6000, "status-0-0"),
              (7000, "status-1-0"), (9000, "vehicle")]
    expect = Expectation()
    expect.photos = 2
    expect.recordings = [[t0 + 1000 - 1500, 2500, 0, 0], [t0 + 4000, 2000, 0, 0], [t0 + 7000, 2000, 0, 0]]
    data = header(START)
    timeline = [(t, 1, frames[what]) for t, what in script]
    # Augmented positions every 250 ms; the takeoff-elevation MSL altitude is unknown once during the
    # second recording, the elevation-map one once during the third.
    for step in range(1, 36):
        t = 250 * step
        pilot = NAN if t == 4500 else f32(450.0)
        dem = NAN if t == 7500 else f32(440.0)
        timeline.append((t + 1, 10, augmented(47.0, 8.0 + step * 1e-5, f32(30.0), f32(400.0), f32(30.0), dem, pilot)))
    timeline.sort(key=lambda e: e[0])
    for t, kind, payload in timeline:
        data += entry(kind, t0 + t, payload)
        if kind == 10:
            values = struct.unpack("<ddfffff", payload)
            expect.position(values[0], values[1], values[4], values[5], values[6], None)
    # The gaps fall inside the second and third recordings.
    expect.recordings[1][2] = 1
    expect.recordings[2][3] = 1
    # The vehicle never reports a position: no bounds, no altitudes.
    open(os.path.join(folder, "camera.qvlog3"), "wb").write(data)
    expect.report("camera", data)


GEOFENCE = [(46.9995, 7.9990), (46.9995, 8.0010), (47.0095, 8.0010), (47.0095, 7.9990)]
WAYPOINTS = [(47.002, 8.0), (47.005, 8.0006), (47.008, 8.0)]


def views_log(flight_path, folder):
    parts = [header(START)]
    geofence = struct.pack("<B", len(GEOFENCE)) + b"".join(struct.pack("<dd", lat, lon) for lat, lon in GEOFENCE)
    parts.append(entry(9, START + 200, geofence))
    mission = struct.pack("<BB", 29, len(WAYPOINTS))
    for k, (lat, lon) in enumerate(WAYPOINTS):
        mission += struct.pack("<dddiB", lat, lon, 60.0, k + 1, 1 if k == 1 else 0)
    mission += struct.pack("<BB", 16, 0) + struct.pack("<dd", 47.0, 8.0)
    mission += struct.pack("<ddiddididdd", 8.0, 5.0, 0, 60.0, 60.0, 0, 12.0, 0, 0.0, 20.0, 10.0)
    parts.append(entry(8, START + 300, mission))
    distance, previous, dropping = 0.0, None, []  # dropping: the distances of the samples that drop
    for words in read_peer(flight_path):
        if words[0] == "datagram":
            ms = int(words[1])
            frame = bytes.fromhex(words[2])
            parts.append(entry(1, START + ms, frame))
        elif words[0] == "at":
            ms, lat, lon, relative = int(words[1]), int(words[2]) / 1e7, int(words[3]) / 1e7, int(words[4]) / 1000.0
            if previous is not None:
                distance += step_distance(previous, (lat, lon))
            previous = (lat, lon)
            if words[5] == "1":
                dropping.append(distance)
            parts.append(entry(10, START + ms + 5, augmented(lat, lon, f32(relative), f32(400.0), f32(relative),
                                                             f32(400.0 + relative), f32(400.0 + relative))))
    open(os.path.join(folder, "views.qvlog3"), "wb").write(b"".join(parts))
    print("total %.17g" % distance)
    print("payload %.17g %.17g" % (dropping[0], dropping[-1]))
    print("geofence " + " ".join("%.17g %.17g" % corner for corner in GEOFENCE))
    print("waypoint " + " ".join("%.17g %.17g" % point for point in WAYPOINTS))


def main():
    if sys.argv[1] == "views":
        views_log(sys.argv[2], sys.argv[3])
        return
    track_log(sys.argv[1], sys.argv[3])
    camera_log(sys.argv[2], sys.argv[3])


if __name__ == "__main__":
    main()
