#!/usr/bin/env python3
"""Checks geotagged photos against the track with an independent reader (exiftool).

usage: e2e_check.py GPX FOLDER SHIFT [--peer]

SHIFT is the camera clock's offset from UTC in minutes, or "local" for the
computer's own zone rules. Every photo must hold the position of the point that
the lookup rule gives for its capture time: the point that begins the stretch of
track holding it (times equal within a millisecond; a time equal to a later
point's takes the point before). No interpolation. With --peer the positions of
an interpolating tool are only counted: at the rule's point, at the next one, or
elsewhere. Exit status 0 when every photo is right (always 0 with --peer).
"""
import bisect
import csv
import datetime
import io
import re
import subprocess
import sys

TOLERANCE = 2e-7  # degrees: the written seconds have 3 decimals (1.4e-7 degrees)


def read_track(path, shift):
    text = open(path, encoding="utf-8", errors="replace").read()
    points = []
    for m in re.finditer(r'<trkpt\b([^>]*)>(.*?)</trkpt>', text, re.S):
        attrs, body = m.group(1), m.group(2)
        lat = re.search(r'\blat="([^"]*)"', attrs)
        lon = re.search(r'\blon="([^"]*)"', attrs)
        when = re.search(r'<time>\s*(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)(\.\d+)?', body)
        if not (lat and lon and when):
            continue
        utc = datetime.datetime(*map(int, when.groups()[:6]), tzinfo=datetime.timezone.utc)
        if when.group(7):
            utc += datetime.timedelta(seconds=float(when.group(7)))
        if shift == "local":
            camera = utc.astimezone().replace(tzinfo=None)
        else:
            camera = utc.replace(tzinfo=None) + datetime.timedelta(minutes=int(shift))
        points.append((camera, float(lat.group(1)), float(lon.group(1))))
    points.sort(key=lambda p: p[0])
    return points


def lookup(points, times, t):
    """Index of the point the lookup rule gives for camera time t, or None."""
    ms = datetime.timedelta(milliseconds=1)

    def compare(i):
        d = points[i][0] - t
        return 0 if abs(d) < ms else (-1 if d < datetime.timedelta(0) else 1)

    n = len(points)
    # Points lying a millisecond or more before t, but the last, are never candidates.
    i = max(bisect.bisect_right(times, t - ms) - 1, 0)
    while i <= n - 2:
        q, q_next = compare(i), compare(i + 1)
        if q == 1 and q_next == 1:
            return None
        if (q == 0 or q != q_next) and points[i][1] != 0 and points[i][2] != 0:
            return i
        i += 1
    return None


def main():
    gpx, folder, shift = sys.argv[1:4]
    peer = "--peer" in sys.argv[4:]
    points = read_track(gpx, shift)
    times = [p[0] for p in points]
    out = subprocess.run(
        ["exiftool", "-q", "-q", "-n", "-csv", "-ext", "*", "-DateTimeOriginal",
         "-Composite:GPSLatitude", "-Composite:GPSLongitude", folder],
        check=False, capture_output=True, text=True).stdout
    right = wrong = missing = untagged = next_point = 0
    for row in csv.DictReader(io.StringIO(out)):
        stamp = row.get("DateTimeOriginal", "")
        try:
            t = datetime.datetime.strptime(stamp[:19], "%Y:%m:%d %H:%M:%S")
        except ValueError:
            untagged += 1
            continue
        i = lookup(points, times, t)
        lat, lon = row.get("GPSLatitude", ""), row.get("GPSLongitude", "")
        if i is None:
            untagged += 1
            if lat and not peer:
                print(f"{row['SourceFile']}: position written where the track has none")
                wrong += 1
            continue
        if not lat or not lon:
            missing += 1
            if not peer:
                print(f"{row['SourceFile']}: no position, expected point {i}")
            continue
        at = lambda k: abs(float(lat) - points[k][1]) <= TOLERANCE and abs(float(lon) - points[k][2]) <= TOLERANCE
        if at(i):
            right += 1
        elif i + 1 < len(points) and at(i + 1):
            next_point += 1
        else:
            wrong += 1
            if not peer:
                print(f"{row['SourceFile']}: {lat} {lon}, expected point {i}: {points[i][1]} {points[i][2]}")
    if peer:
        print(f"{right} at the rule's point, {next_point} at the next point, "
              f"{wrong} between points or elsewhere, {missing} without position")
        return 0
    print(f"{right} photos hold the position of their point; {wrong + next_point} wrong, "
          f"{missing} without position, {untagged} without a point in the track")
    return 0 if wrong + next_point + missing == 0 and right > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
