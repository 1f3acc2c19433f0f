#!/usr/bin/env python3
"""Hands kxconvert's files to the programs pilots use next and compares what
they read with the log itself, decoded here from its bytes: every point's UTC
time, position and altitudes, and the names. The npm igc-parser in strict mode
and GPSBabel read the IGC files, whose B records are also taken apart by the
column widths that their I record declares; GPSBabel, GDAL and gpxpy read the
GPX files; Python's XML parser reads the timed KML. The log holds a flight
across midnight UTC, one across a summer-time change of Central Europe, one
without any usable position, one with positions no reader takes, and one whose
values sit at the edges of the IGC columns. The files must be the same bytes
in every time zone.

usage: check_converter.py BUILD_FOLDER READERS_FOLDER
"""
import json
import math
import os
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
from datetime import datetime, timezone

from checks import decode, expect, finish, failures, record, usable

build, readers = map(os.path.abspath, sys.argv[1:3])
kxconvert = os.path.join(build, "kxconvert")


def utc(text):
    return int(datetime.strptime(text, "%Y-%m-%d %H:%M:%S").replace(tzinfo=timezone.utc).timestamp())


def iso(t):
    return datetime.fromtimestamp(t, timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")


def point(time, lat, lon, **values):
    """A point record with this script's usual values where `values` gives none."""
    v = dict(speed=80, alt_gps=500, course=45, sats=9, rpm=250, t1=70, t2=75, oat=-3, fuel=50, pressure=0,
             alt=480, vario=-7)
    v.update(values)
    return record(time, lat, lon, **v)


nan, inf = float("nan"), float("inf")
# The values at the edges of the IGC extension columns: speed, course byte,
# satellites, climb rate, engine speed (stored /10), outside temperature,
# altitudes.
edges = [dict(speed=s, course=c, sats=n, vario=v, rpm=r, oat=o, alt=a, alt_gps=g)
         for s, c, n, v, r, o, a, g in [(0, 0, 0, 0, 0, 0, 0, 0), (9, 1, 9, -9, 1, -9, -9, -1),
                                        (10, 179, 10, -10, 9999, 99, -9999, -10000),
                                        (99, 180, 99, 99, 10000, -99, 32767, 32767),
                                        (100, 255, 100, -99, 6553, 127, -32768, -32768),
                                        (249, 90, 255, 999, 6554, -100, 1, 9999),
                                        (250, 0, 7, -100, 65535, -128, 10000, 10000),
                                        (255, 200, 8, 32767, 480, 5, 99, -9999)]]
# Name, first time, and each point: (seconds from the start, lat, lon, other values).
flights = [
    ("midnight", utc("2024-03-30 23:58:00"),
     [(i, 0.0 if i < 5 else 47.5 + i / 1e4, 8.25 + i / 1e4, dict(pressure=9000 + i)) for i in range(240)]),
    ("summer time", utc("2024-03-31 00:58:00"),
     [(2 * i, -33.9 - i / 1e4, -18.4 - i / 1e4, {}) for i in range(150)]),
    ("no position", utc("2024-03-31 05:00:00"), [(i, 0.0, 8.0, {}) for i in range(20)]),
    ("unusable", utc("2024-03-31 08:00:00"),
     [(i, [46.0, nan, 46.1, 95.0, 46.2, 46.3][i % 6], [7.0, 7.1, inf, 7.2, 200.0, -180.0][i % 6], {})
      for i in range(60)]),
    # Just below a whole degree: the next degree with 00.000 minutes, never 60.000.
    ("edges", utc("2024-07-14 12:00:00"),
     [(i, 47.999996 if i % 2 else -0.0000001 - i, 179.99999 if i % 3 else -8.25, e) for i, e in enumerate(edges)]),
]
records = [point(start + s, la, lo, **values) for _, start, pts in flights for s, la, lo, values in pts]
log = b"".join(records)
# What each flight holds, as this script reads the log.
decoded = []
at = 0
for name, _, pts in flights:
    decoded.append((name, [decode(r) for r in records[at:at + len(pts)]]))
    at += len(pts)


def run(args, folder, tz="UTC"):
    done = subprocess.run([kxconvert, *args], cwd=folder, env=dict(os.environ, TZ=tz), capture_output=True,
                          timeout=60)
    return done.returncode, done.stdout.decode(), done.stderr.decode()


def folder_bytes(folder):
    """The flight files and their records, which are in UTC (the logbook, the
    library's list and the index also give local times)."""
    return {os.path.relpath(os.path.join(top, n), folder): open(os.path.join(top, n), "rb").read()
            for top, _, names in os.walk(folder) for n in sorted(names)
            if n not in ("logbook.csv", "index.html", "flights.csv", "kxconvert.lock")}


def thousandths(value):
    """A coordinate as IGC writes it: degrees and minutes to the thousandth, rounded."""
    return round(abs(value) * 60000)


def igc_fixes(points):
    """The B records a flight must have: one per point, the points without a
    usable position marked V at the last usable position, or before the first
    one at the first."""
    held = next((p["lat"], p["lon"]) for p in points if usable(p))
    fixes = []
    for p in points:
        if usable(p):
            held = (p["lat"], p["lon"])
        fixes.append((p, held, usable(p)))
    return fixes


def clipped(value, width):
    """A value in `width` IGC characters, a minus sign taking the first."""
    top = 10 ** width - 1
    return str(min(value, top)).zfill(width) if value >= 0 else "-" + str(min(-value, 10 ** (width - 1) - 1)).zfill(
        width - 1)


def igc_altitude(value):
    """An altitude as igc-parser reads it back: 00000 is no altitude."""
    value = max(-9999, value)
    return value if value else None


def check_igc_columns(label, text, fixes):
    lines = text.split("\r\n")
    declared = [ln for ln in lines if ln.startswith("I")]
    expect(f"{label}: one I record", len(declared), 1)
    columns = {}
    for k in range(int(declared[0][1:3])):
        field = declared[0][3 + 7 * k:10 + 7 * k]
        columns[field[4:]] = (int(field[:2]) - 1, int(field[2:4]))
    b = [ln for ln in lines if ln.startswith("B")]
    expect(f"{label}: B records", len(b), len(fixes))
    wanted_ext = lambda p: dict(GSP=clipped(p["speed"], 3), TRT=clipped(p["course"] % 360, 3),
                                SIU=clipped(p["sats"], 2), VAR=clipped(p["vario"], 3), RPM=clipped(p["rpm"], 5),
                                OAT=clipped(p["oat"], 3))
    for line, (p, (lat, lon), valid) in zip(b, fixes):
        t = p["time"] % 86400
        ms_lat, ms_lon = thousandths(lat), thousandths(lon)
        fixed = (f"B{t // 3600:02}{t // 60 % 60:02}{t % 60:02}{ms_lat // 60000:02}{ms_lat % 60000:05}"
                 f"{'S' if lat < 0 else 'N'}{ms_lon // 60000:03}{ms_lon % 60000:05}{'W' if lon < 0 else 'E'}"
                 f"{'A' if valid else 'V'}{clipped(p['alt'], 5)}{clipped(p['alt_gps'], 5)}")
        if line[:35] != fixed:
            failures.append(f"{label}: B record {line!r}, its fixed columns should read {fixed!r}")
            break
        ext = {code: line[s:e] for code, (s, e) in columns.items()}
        if ext != wanted_ext(p) or len(line) != max(e for _, e in columns.values()):
            failures.append(f"{label}: B record {line!r} has the extensions {ext}, wanted {wanted_ext(p)}")
            break


def check_igc(label, path, points, title_date, day_number):
    text = open(path, "rb").read().decode("ascii")
    fixes = igc_fixes(points)
    expect(f"{label}: HFDTE", text.split("\r\n")[1], f"HFDTEDATE:{title_date[8:10]}{title_date[5:7]}"
                                                     f"{title_date[2:4]},{day_number:02}")
    check_igc_columns(label, text, fixes)
    script = ("const P = require('igc-parser'); const r = P.parse(require('fs').readFileSync(process.argv[1], "
              "'utf8')); console.log(JSON.stringify(r.fixes.map(f => [f.timestamp / 1000, f.latitude, f.longitude, "
              "f.valid, f.pressureAltitude, f.gpsAltitude, Number(f.extensions.RPM), Number(f.extensions.GSP)])));")
    done = subprocess.run(["node", "-e", script, path], cwd=readers, capture_output=True, text=True)
    if done.returncode != 0:
        failures.append(f"igc-parser (strict) refuses {path}: {done.stderr.strip()[:300]}")
    else:
        got = json.loads(done.stdout)
        want = [[p["time"], round(thousandths(la) / 60000 * math.copysign(1, la), 6),
                 round(thousandths(lo) / 60000 * math.copysign(1, lo), 6), valid,
                 igc_altitude(p["alt"]), igc_altitude(p["alt_gps"]), min(p["rpm"], 99999),
                 min(p["speed"], 999)] for p, (la, lo), valid in fixes]
        got = [[t, round(la, 6), round(lo, 6), *rest] for t, la, lo, *rest in got]
        expect(f"{label}: igc-parser reads every fix as written", got, want)
    # GPSBabel makes a track of the pressure altitudes and one of the GNSS altitudes.
    babel = subprocess.run(["gpsbabel", "-t", "-i", "igc", "-f", path, "-o", "gpx", "-F", "-"], capture_output=True)
    ns = "{http://www.topografix.com/GPX/1/0}"
    ele = lambda pt: float(pt.find(ns + "ele").text) if pt.find(ns + "ele") is not None else None
    tracks = {t.find(ns + "name").text: [(pt.find(ns + "time").text, float(pt.get("lat")), float(pt.get("lon")),
                                          ele(pt)) for pt in t.iter(ns + "trkpt")]
              for t in ET.fromstring(babel.stdout).findall(ns + "trk")}
    for track, field in (("PRESALTTRK", "alt"), ("GNSSALTTRK", "alt_gps")):
        got = tracks.get(track, [])
        expect(f"{label}: GPSBabel {track} points", len(got), len(fixes))
        bad = [(g, p) for g, (p, (la, lo), _) in zip(got, fixes)
               if g[0] != iso(p["time"]) or abs(g[1] - la) > 1e-5 or abs(g[2] - lo) > 1e-5
               or g[3] != igc_altitude(p[field])]
        expect(f"{label}: GPSBabel {track} differs from the log at", bad[:1], [])


def check_gpx(label, path, good, title, first_time):
    reader = ("import gpxpy, json, sys; g = gpxpy.parse(open(sys.argv[1])); t = g.tracks; "
              "x = lambda p, n: int(next(e.text for e in p.extensions if e.tag.endswith(n))); "
              "print(json.dumps([g.name, g.time.isoformat(), len(t), t[0].name, [[int(p.time.timestamp()), "
              "p.latitude, p.longitude, p.elevation, x(p, 'baroalt'), x(p, 'pressure')] "
              "for p in t[0].segments[0].points]]))")
    done = subprocess.run(["/usr/bin/python3", "-c", reader, path], capture_output=True, text=True)
    if done.returncode != 0:
        failures.append(f"gpxpy refuses {path}: {done.stderr.strip()[-300:]}")
    else:
        name, when, tracks, track_name, pts = json.loads(done.stdout)
        expect(f"{label}: GPX names and time (gpxpy)", (name, when, tracks, track_name),
               (title, datetime.fromtimestamp(first_time, timezone.utc).isoformat(), 1, title))
        want = [[p["time"], p["lat"], p["lon"], p["alt_gps"], p["alt"], p["pressure"]] for p in good]
        bad = [(g, w) for g, w in zip(pts, want) if g[0] != w[0] or abs(g[1] - w[1]) > 1e-6 or
               abs(g[2] - (-180.0 if w[2] == 180.0 else w[2])) > 1e-6 or g[3:] != w[3:]]
        expect(f"{label}: gpxpy points", len(pts), len(want))
        expect(f"{label}: gpxpy points differ from the log at", bad[:1], [])
    ogr = subprocess.run(["ogrinfo", "-ro", "-so", path, "track_points"], capture_output=True, text=True)
    expect(f"{label}: GDAL track points", f"Feature Count: {len(good)}" in ogr.stdout, True)
    babel = subprocess.run(["gpsbabel", "-t", "-i", "gpx", "-f", path, "-o", "unicsv,utc=0", "-F", "-"],
                           capture_output=True, text=True).stdout.splitlines()[1:]
    times = [datetime.strptime(ln.split(",")[-2] + " " + ln.split(",")[-1], "%Y/%m/%d %H:%M:%S")
             .replace(tzinfo=timezone.utc).timestamp() for ln in babel]
    expect(f"{label}: GPSBabel GPX times", times, [p["time"] for p in good])


def check_kml(label, path, good, title):
    ns = {"k": "http://www.opengis.net/kml/2.2", "gx": "http://www.google.com/kml/ext/2.2"}
    root = ET.parse(path).getroot()
    expect(f"{label}: KML names", (root.find("k:Document/k:name", ns).text,
                                   root.find("k:Document/k:Placemark/k:name", ns).text), (title, title))
    track = root.find("k:Document/k:Placemark/gx:Track", ns)
    when = [w.text for w in track.findall("k:when", ns)]
    coord = [c.text.split() for c in track.findall("gx:coord", ns)]
    expect(f"{label}: KML when and gx:coord counts", (len(when), len(coord)), (len(good), len(good)))
    expect(f"{label}: KML times", when, [iso(p["time"]) for p in good])
    bad = [(c, p) for c, p in zip(coord, good) if len(c) != 3 or abs(float(c[0]) - p["lon"]) > 1e-6 or
           abs(float(c[1]) - p["lat"]) > 1e-6 or int(c[2]) != p["alt_gps"]]
    expect(f"{label}: KML coordinates differ from the log at", bad[:1], [])


def check_flights(folder, lines):
    kept = [(n, pts) for n, pts in decoded if any(usable(p) for p in pts)]
    names = sorted(n for n in os.listdir(folder) if n.endswith(".igc"))
    expect("IGC files (none for the flight without a position, which has number 02 of its day)", names,
           ["2024-03-30-XXX-KXP-01.igc", "2024-03-31-XXX-KXP-01.igc", "2024-03-31-XXX-KXP-03.igc",
            "2024-07-14-XXX-KXP-01.igc"])
    for name, (label, pts) in zip(names, kept):
        good = [p for p in pts if usable(p)]
        stem = os.path.join(folder, name[:-4])
        date, number = name[:10], int(name[19:21])
        title = f"KX+ flight {date} {number:02}"
        check_igc(label, stem + ".igc", pts, date, number)
        check_gpx(label, stem + ".gpx", good, title, pts[0]["time"])  # metadata: the flight's start
        check_kml(label, stem + ".kml", good, title)
        for ext in (".gpx", ".kml"):
            lint = subprocess.run(["xmllint", "--noout", stem + ext], capture_output=True, text=True)
            expect(f"{label}: xmllint reads {ext}", lint.stderr, "")
    expect("a line per flight: points, points without a position, files", lines[:-2],
           [f"{i}. {datetime.fromtimestamp(pts[0]['time'], timezone.utc):%Y-%m-%d %H:%M:%S} UTC, {len(pts)} points, "
            + (f"{sum(not usable(p) for p in pts)} without a usable position" if n else "none with a usable position")
            + (", possibly cut" if i == 5 else "")  # the last flight of a log shorter than the whole memory
            + (f": new {n[:-4]}.igc .gpx .kml" if n else ": new 2024-03-31-XXX-KXP-02 (in the logbook only: no "
                                                           "track without a position)")
            for i, ((_, pts), n) in enumerate(zip(decoded, [names[0], names[1], None, names[2], names[3]]), 1)])


with tempfile.TemporaryDirectory() as d:
    with open(os.path.join(d, "raw.dat"), "wb") as f:
        f.write(log)
    status, out, err = run(["-f", "igc,gpx,kml", "-o", "out", "raw.dat"], d)
    expect("status", status, 0)
    expect("a partial log is named as kxlogreader names it", re.sub(r"\(.*?\)", "(DATE)", err),
           'Exporting the "raw.dat" of an earlier download (DATE): 3 of 256 pages, a partial log: download again '
           'for the whole of it.\n')
    check_flights(os.path.join(d, "out"), out.splitlines())
    utc_files = folder_bytes(os.path.join(d, "out"))
    for tz in ("Europe/Berlin", "America/New_York", "NZST-12NZDT,M9.5.0,M4.1.0/3"):
        status, _, _ = run(["-q", "-f", "igc,gpx,kml", "-o", tz.replace("/", "_"), "raw.dat"], d, tz)
        expect(f"the same bytes under TZ={tz}", folder_bytes(os.path.join(d, tz.replace("/", "_"))), utc_files)
    expect("nothing but whole files", [n for n in os.listdir(os.path.join(d, "out")) if n.endswith(".part")], [])


    usage = "Try 'kxconvert --help'.\n"
    expect("unknown format", run(["-f", "igc,fit"], d), (1, "", "kxconvert: unknown format list (igc, gpx, kml, html): "
                                                                 "igc,fit\n" + usage))
    expect("unknown option", run(["--colour"], d), (1, "", "kxconvert: unknown option or missing value: --colour\n"
                                                           + usage))
    expect("two logs", run(["raw.dat", "raw.dat"], d)[0], 1)
    expect("missing log", run(["missing.dat"], d), (2, "", "kxconvert: cannot read missing.dat: No such file or "
                                                           "directory\n"))
    open(os.path.join(d, "taken"), "w").close()
    expect("output folder is a file", run(["-o", "taken"], d)[0], 2)
    expect("--help", run(["--help"], d)[:2], (0, run(["-h"], d)[1]))

finish("of kxconvert's files were read as written")
