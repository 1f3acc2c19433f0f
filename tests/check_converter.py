#!/usr/bin/env python3
"""Hands kxconvert's files to the programs pilots use next and checks that
each reads them: the npm igc-parser in strict mode and GPSBabel read the IGC
files; GPSBabel, GDAL and gpxpy read the GPX files; xmllint reads GPX and
KML. The log holds a flight across midnight UTC, one across a summer-time
change of Central Europe, one without any usable position, and points whose
positions no reader takes. The files must be the same bytes in every time zone.

usage: check_converter.py BUILD_FOLDER READERS_FOLDER
"""
import json
import math
import os
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
from datetime import datetime, timezone

from checks import expect, finish

build, readers = map(os.path.abspath, sys.argv[1:3])
kxconvert = os.path.join(build, "kxconvert")


def utc(text):
    return int(datetime.strptime(text, "%Y-%m-%d %H:%M:%S").replace(tzinfo=timezone.utc).timestamp())


def point(time, lat, lon, alt=500):
    """A point record as the instrument stores it, big-endian."""
    return struct.pack(">BIffBhBBHhhbBHhh", 1, time, lat, lon, 80, alt, 45, 9, 250, 70, 75, -3, 50, 0, alt - 20, -7)


# name of the flight, its first time, its points: (seconds from the start, lat, lon)
nan, inf = float("nan"), float("inf")
flights = [
    ("midnight", utc("2024-03-30 23:58:00"),
     [(i, 0.0 if i < 5 else 47.5 + i / 1e4, 8.25 + i / 1e4) for i in range(240)]),
    ("summer time", utc("2024-03-31 00:58:00"),
     [(2 * i, -33.9 - i / 1e4, -18.4 - i / 1e4) for i in range(150)]),
    ("no position", utc("2024-03-31 05:00:00"), [(i, 0.0, 8.0) for i in range(20)]),
    ("unusable", utc("2024-03-31 08:00:00"),
     [(i, [46.0, nan, 46.1, 95.0, 46.2, 46.3][i % 6], [7.0, 7.1, inf, 7.2, 200.0, -180.0][i % 6]) for i in range(60)]),
]
# The instrument stores single-precision floats.
flights = [(n, t, [(s, struct.unpack(">f", struct.pack(">f", la))[0], struct.unpack(">f", struct.pack(">f", lo))[0])
                   for s, la, lo in pts]) for n, t, pts in flights]
usable = [sum(1 for _, la, lo in pts if la != 0 and math.isfinite(la) and math.isfinite(lo) and abs(la) <= 90
              and abs(lo) <= 180) for _, _, pts in flights]
log = b"".join(point(start + s, la, lo) for _, start, pts in flights for s, la, lo in pts)


def run(args, folder, tz="UTC"):
    done = subprocess.run([kxconvert, *args], cwd=folder, env=dict(os.environ, TZ=tz), capture_output=True,
                          timeout=60)
    return done.returncode, done.stdout.decode(), done.stderr.decode()


def folder_bytes(folder):
    return {n: open(os.path.join(folder, n), "rb").read() for n in sorted(os.listdir(folder))}


def check_igc(path, fixes):
    script = ("const P = require('igc-parser'); const r = P.parse(require('fs').readFileSync(process.argv[1], "
              "'utf8')); console.log(JSON.stringify({n: r.fixes.length, t: r.fixes.map(f => f.timestamp / 1000), "
              "valid: r.fixes.filter(f => !f.valid).length, lat: r.fixes[0].latitude}));")
    done = subprocess.run(["node", "-e", script, path], cwd=readers, capture_output=True, text=True)
    if done.returncode != 0:
        failures.append(f"igc-parser (strict) refuses {path}: {done.stderr.strip()[:300]}")
        return
    r = json.loads(done.stdout)
    expect(f"{path}: igc-parser fixes", r["n"], len(fixes))
    expect(f"{path}: igc-parser UTC times", r["t"], [t for t, _, _ in fixes])
    expect(f"{path}: igc-parser V fixes", r["valid"], sum(1 for _, _, valid in fixes if not valid))
    babel = subprocess.run(["gpsbabel", "-t", "-i", "igc", "-f", path, "-o", "gpx", "-F", "-"], capture_output=True)
    tracks = ET.fromstring(babel.stdout).findall("{http://www.topografix.com/GPX/1/0}trk")
    times = [pt.find("{http://www.topografix.com/GPX/1/0}time").text for pt in tracks[0].iter(
        "{http://www.topografix.com/GPX/1/0}trkpt")] if tracks else []
    expect(f"{path}: GPSBabel points", len(times), len(fixes))
    if times:
        expect(f"{path}: GPSBabel last time", times[-1], datetime.fromtimestamp(fixes[-1][0], timezone.utc)
               .strftime("%Y-%m-%dT%H:%M:%SZ"))


def check_gpx(path, points):
    gpxpy = subprocess.run(["/usr/bin/python3", "-c", "import gpxpy, sys; g = gpxpy.parse(open(sys.argv[1])); "
                            "p = g.tracks[0].segments[0].points; print(len(g.tracks), len(p), "
                            "int(p[0].time.timestamp()), p[0].latitude, p[0].longitude)", path],
                           capture_output=True, text=True)
    if gpxpy.returncode != 0:
        failures.append(f"gpxpy refuses {path}: {gpxpy.stderr.strip()[-300:]}")
    else:
        tracks, n, t, lat, lon = gpxpy.stdout.split()
        expect(f"{path}: gpxpy tracks and points", (int(tracks), int(n)), (1, len(points)))
        expect(f"{path}: gpxpy first time", int(t), points[0][0])
        expect(f"{path}: gpxpy first position", (abs(float(lat) - points[0][1]) < 1e-6,
                                                  abs(float(lon) - points[0][2]) < 1e-6), (True, True))
    ogr = subprocess.run(["ogrinfo", "-ro", "-so", path, "track_points"], capture_output=True, text=True)
    expect(f"{path}: GDAL track points", f"Feature Count: {len(points)}" in ogr.stdout, True)
    babel = subprocess.run(["gpsbabel", "-t", "-i", "gpx", "-f", path, "-o", "unicsv,utc=0", "-F", "-"],
                           capture_output=True, text=True)
    expect(f"{path}: GPSBabel points", len(babel.stdout.splitlines()) - 1, len(points))


def check_flights(folder):
    names = sorted(n for n in os.listdir(folder) if n.endswith(".igc"))
    expect("IGC files (the flight without a position skipped)", names,
           ["2024-03-30-XXX-KXP-01.igc", "2024-03-31-XXX-KXP-01.igc", "2024-03-31-XXX-KXP-02.igc"])
    kept = [f for f in flights if f[0] != "no position"]
    for name, (label, start, pts) in zip(names, kept):
        good = [(start + s, la, lo) for s, la, lo in pts
                if la != 0 and math.isfinite(la) and math.isfinite(lo) and abs(la) <= 90 and abs(lo) <= 180]
        first = next(i for i, (s, la, lo) in enumerate(pts) if (start + s, la, lo) in good)
        fixes = [(start + s, None, (start + s, la, lo) in good) for s, la, lo in pts[first:]]
        check_igc(os.path.join(folder, name), fixes)
        stem = os.path.join(folder, name[:-4])
        check_gpx(stem + ".gpx", good)
        for ext in (".gpx", ".kml"):
            lint = subprocess.run(["xmllint", "--noout", stem + ext], capture_output=True, text=True)
            expect(f"{label}: xmllint reads {ext}", lint.stderr, "")


with tempfile.TemporaryDirectory() as d:
    with open(os.path.join(d, "raw.dat"), "wb") as f:
        f.write(log)
    status, out, err = run(["-f", "igc,gpx,kml", "-o", "out", "raw.dat"], d)
    expect("status", status, 0)
    lines = out.splitlines()
    expect("a line per flight", len(lines), 4)
    expect("the flight without a position is reported", "none with a usable position: skipped" in out, True)
    expect("unusable points counted", [ln.split(", ")[2] for ln in lines if "without" in ln],
           [f"{len(p) - u} without a usable position: {n}" for (_, _, p), u, n in zip(
               flights, usable, ["2024-03-30-XXX-KXP-01.igc .gpx .kml", "2024-03-31-XXX-KXP-01.igc .gpx .kml",
                                 None, "2024-03-31-XXX-KXP-02.igc .gpx .kml"]) if n])
    check_flights(os.path.join(d, "out"))
    utc_files = folder_bytes(os.path.join(d, "out"))
    for tz in ("Europe/Berlin", "America/New_York", "NZST-12NZDT,M9.5.0,M4.1.0/3"):
        status, _, _ = run(["-q", "-f", "igc,gpx,kml", "-o", tz.replace("/", "_"), "raw.dat"], d, tz)
        expect(f"the same bytes under TZ={tz}", folder_bytes(os.path.join(d, tz.replace("/", "_"))), utc_files)
    expect("nothing but whole files", [n for n in os.listdir(os.path.join(d, "out")) if n.endswith(".part")], [])

    expect("unknown format", run(["-f", "igc,fit"], d)[0], 1)
    expect("unknown option", run(["--colour"], d)[0], 1)
    expect("two logs", run(["raw.dat", "raw.dat"], d)[0], 1)
    expect("missing log", run(["missing.dat"], d)[0], 2)
    open(os.path.join(d, "taken"), "w").close()
    expect("output folder is a file", run(["-o", "taken"], d)[0], 2)
    expect("--help", run(["--help"], d)[:2], (0, run(["-h"], d)[1]))

finish("of kxconvert's files were read as written")
