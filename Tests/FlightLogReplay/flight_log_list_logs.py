#!/usr/bin/python3
"""Writes the logs of a "Flight Logs" folder for the flight-log list's tests and prints, for each
file, "NAME<TAB>SUMMARY": the line the list must show, built from the bytes with the independent
reader beside the writer's tests.

  flight_log_list_logs.py FOLDER STATUS_FILE     the summary set (STATUS_FILE: lines "A B HEX" of
                                                 payload status datagrams with drop counters A, B,
                                                 the first line a heartbeat "0 0 HEX")
  flight_log_list_logs.py FOLDER --many N        N small logs, one entry a minute apart each
"""
import os
import random
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "FlightLogs"))
import flight_log_index  # noqa: E402

START = 1765100000000  # Unix ms
MAX_BYTES = 300000000


def entry(kind, time, payload=b""):
    crc = flight_log_index.crc16(payload + bytes([kind]))
    return struct.pack("<BqH", kind, time, len(payload)) + payload + struct.pack("<H", crc)


def header(time):
    return entry(7, time, struct.pack("<hH", 60, 0))


def byte_size(count):
    if count < 1000:
        return "%d B" % count
    for below, divisor, unit in ((10**6, 100, "kB"), (10**9, 10**5, "MB"), (10**12, 10**8, "GB")):
        if count < below:
            tenths = count // divisor
            return "%d.%d %s" % (tenths // 10, tenths % 10, unit)
    raise ValueError(count)


def duration(ms):
    seconds = ms // 1000
    hours, minutes, seconds = seconds // 3600, seconds // 60 % 60, seconds % 60
    if hours:
        return "%d hr %d min %d s" % (hours, minutes, seconds)
    if minutes:
        return "%d min %d s" % (minutes, seconds)
    return "%d s" % seconds


def summary(name, size, data, spheres):
    if size > MAX_BYTES:
        return "File is larger than allowed"
    if not name.lower().endswith(".qvlog3"):
        return "Unrecognized file extension, should be .qvlog3"
    ordered, skipped, _ = flight_log_index.index(data)
    if not ordered:
        return "Didn't parse any entries"
    start = end = 0
    if len(ordered) >= 2:
        end = ordered[-1][1]
        headers = [e for e in ordered if e[0] == 7]
        start = headers[0][1] if headers else ordered[0][1]
    parts = []
    if skipped:
        parts.append("Skipped %s of corrupted data" % byte_size(skipped))
    text = "   ".join(parts + [duration(end - start)])
    if spheres:
        text += "      %d ignition spheres" % spheres
    return text


def write(folder, name, data):
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


def summary_set(folder, status_file):
    rng = random.Random(51)
    lines = [line.split() for line in open(status_file) if line.strip()]
    heartbeat = bytes.fromhex(lines[0][2])
    statuses = [(int(a), int(b), bytes.fromhex(h)) for a, b, h in lines[1:]]
    logs = []  # (name, bytes, spheres)

    # A flight of an hour and a bit: header, then a datagram every 40 s.
    data = header(START) + b"".join(entry(1, START + 40000 * i, heartbeat) for i in range(1, 94))
    logs.append(("flight_log_2025_12_7_9_0_0.qvlog3", data, 0))

    # Corrupted stretches: random bytes between and inside entries.
    data = header(START)
    for i in range(1, 30):
        data += entry(1, START + 2500 * i, heartbeat)
        if i % 7 == 0:
            data += bytes(rng.randrange(256) for _ in range(rng.randrange(1, 1500)))
    cut = entry(1, START + 99000, heartbeat)
    data += cut[: len(cut) // 2] + entry(1, START + 100000, heartbeat)
    logs.append(("flight_log_2025_12_7_10_0_0.qvlog3", data, 0))

    # Drops: the payload's counters over the flight; spheres counted from the first status on.
    data = header(START) + entry(1, START + 100, heartbeat)
    for i, (a, b, frame) in enumerate(statuses):
        data += entry(1, START + 1000 * (i + 1), frame)
    first, last = statuses[0], statuses[-1]
    logs.append(("flight_log_2025_12_7_11_0_0.qvlog3", data, (last[0] + last[1]) - (first[0] + first[1])))

    # No header, entries out of time order, a short log: duration from the first to the last.
    data = b"".join(entry(1, START + t, heartbeat) for t in (5000, 1000, 65000, 3000))
    logs.append(("flight_log_2025_12_7_12_0_0.QVLOG3", data, 0))

    logs.append(("flight_log_2025_12_7_13_0_0.qvlog3", header(START), 0))  # one entry: 0 s
    logs.append(("flight_log_2025_12_7_14_0_0.qvlog3", b"", 0))  # empty
    logs.append(("flight_log_2025_12_7_15_0_0.qvlog3", bytes(rng.randrange(256) for _ in range(5000)), 0))
    logs.append(("notes.txt", header(START) + entry(1, START + 1000, heartbeat), 0))

    for name, data, _ in logs:
        write(folder, name, data)
    with open(os.path.join(folder, "flight_log_2025_12_7_16_0_0.qvlog3"), "wb") as out:
        out.truncate(MAX_BYTES + 1)  # sparse
    logs.append(("flight_log_2025_12_7_16_0_0.qvlog3", b"", 0))
    for name, data, spheres in logs:
        size = os.path.getsize(os.path.join(folder, name))
        print("%s\t%s" % (name, summary(name, size, data, spheres)))


def many(folder, count):
    for i in range(count):
        name = "flight_log_2025_11_%d_8_0_0.qvlog3" % (i + 1)
        data = header(START) + entry(1, START + 60000 * (i + 1))
        write(folder, name, data)
        print("%s\t%s" % (name, summary(name, len(data), data, 0)))


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    if sys.argv[2] == "--many":
        many(folder, int(sys.argv[3]))
    else:
        summary_set(folder, sys.argv[2])


if __name__ == "__main__":
    main()
