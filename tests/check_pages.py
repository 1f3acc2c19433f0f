#!/usr/bin/env python3
"""Writes a flight library with the sample flights, a 9-hour flight of 32,768
points, a flight without a fix and one across midnight UTC, then has
check_pages.js open every page and index.html in chromium. What the pages
must show comes from here: the records decoded from the logs, the logbook
read with the csv module, and its sums.

usage: check_pages.py BUILD_FOLDER READERS_FOLDER
"""
import csv
import json
import math
import os
import struct
import subprocess
import sys
import tempfile
from collections import defaultdict
from datetime import datetime, timezone
from zoneinfo import ZoneInfo

build, readers = map(os.path.abspath, sys.argv[1:3])
here = os.path.dirname(os.path.abspath(__file__))
zone = "Europe/Berlin"
RECORD = ">BIffBhBBHhhbBHhh"


def point(t, lat, lon, i):
    return struct.pack(RECORD, 1, t, lat, lon, 40 + i % 120, 120 + i % 1400, i % 180, 7 + i % 5, 480 + i % 70,
                       62 + i % 25, 70 + i % 22, 18 - i % 30, 92 - i % 30, 10000 - i % 900, 110 + i % 1400, i % 91 - 45)


def decode(rec):
    _, t, lat, lon, speed, gps, _, _, rpm, t1, t2, oat, fuel, _, alt, vario = struct.unpack(RECORD, rec)
    fix = lat != 0 and math.isfinite(lat) and math.isfinite(lon) and abs(lat) <= 90 and abs(lon) <= 180
    local = datetime.fromtimestamp(t, ZoneInfo(zone))
    offset = int(local.utcoffset().total_seconds() // 60)
    return t, fix, gps, {
        "utc": datetime.fromtimestamp(t, timezone.utc).strftime("%Y-%m-%d %H:%M:%S"),
        "local": local.strftime("%Y-%m-%d %H:%M:%S ") + ("-" if offset < 0 else "+") +
        f"{abs(offset) // 60:02}:{abs(offset) % 60:02}",
        "baro": str(alt), "gps": str(gps) if fix else "no fix", "rpm": str(rpm * 10 % 65536), "t1": str(t1),
        "t2": str(t2), "fuel": str(fuel), "oat": str(oat), "climb": repr(vario / 10) if vario % 10 else str(vario // 10),
        "speed": str(0 if speed >= 250 else speed) if fix else "no fix",
        "position": f"{lat:.6f}, {lon:.6f}" if fix else "no fix"}


def convert(folder, log):
    with open(os.path.join(folder, "log.dat"), "wb") as f:
        f.write(log + b"\xff" * ((1 << 20) - len(log)))
    subprocess.run([os.path.join(build, "kxconvert"), "-f", "igc,gpx,html", "-o", "lib", "log.dat"], cwd=folder,
                   check=True, capture_output=True, env=dict(os.environ, TZ=zone))


def flight_wanted(folder, row, records):
    """What the page of the logbook row's flight must show."""
    mine = [r for r in records if r[0] >= int(datetime.strptime(row["Flight (UTC start)"], "%Y-%m-%dT%H:%M:%SZ")
                                                .replace(tzinfo=timezone.utc).timestamp())][:int(row["Points"])]
    fixes = [r for r in mine if r[1]]
    first, last = mine[0][0], mine[-1][0]
    series = [{"name": n, "first": first, "last": last, "drawn": True} for n in ("baro",)]
    if fixes:
        series.append({"name": "gps", "first": fixes[0][0], "last": fixes[-1][0], "drawn": True})
    series += [{"name": n, "first": first, "last": last, "drawn": True}
               for n in ("rpm", "t1", "t2", "fuel", "oat", "climb")]
    return {"name": row["Name"], "page": os.path.join(folder, "lib", row["Name"] + ".html"), "first": first,
            "last": last, "step": max(1, (last - first) // 400), "series": series, "hasTrack": bool(fixes),
            "figures": {k: v for k, v in row.items() if k != "Files"}, "records": {str(r[0]): r[3] for r in mine}}


def totals(rows):
    sums = defaultdict(lambda: [0, 0, 0])
    for r in rows:
        for period in (r["Date (UTC)"][:7], r["Date (UTC)"][:4], "In all"):
            sums[period][0] += 1
            for k, column in ((1, "Flight time [h:mm:ss]"), (2, "Engine time [h:mm:ss]")):
                h, m, s = map(int, r[column].split(":"))
                sums[period][k] += h * 3600 + m * 60 + s
    text = lambda s: f"{s // 3600}:{s // 60 % 60:02}:{s % 60:02}"
    return {p: [str(n), text(f), text(e)] for p, (n, f, e) in sums.items()}


with tempfile.TemporaryDirectory() as d:
    subprocess.run([os.path.join(build, "kxlogreader-sim")], cwd=d, check=True, capture_output=True)
    logs = [open(os.path.join(d, "raw.dat"), "rb").read()]
    nine = int(datetime(2024, 6, 2, 6, 0, tzinfo=timezone.utc).timestamp())
    logs.append(b"".join(point(nine + i, 47.0 + i * 2e-5, 9.0 + math.sin(i / 2000) * 0.3, i) for i in range(32768)))
    night = int(datetime(2024, 6, 3, 23, 40, tzinfo=timezone.utc).timestamp())
    logs.append(b"".join(point(night - 7200 + i * 5, 0.0, 0.0, i) for i in range(300)) +  # no fix at all
                b"".join(point(night + i * 4, 0.0 if 100 < i < 130 else 48.0 + i * 1e-4, 11.0, i) for i in range(900)))
    records = []
    for log in logs:
        convert(d, log)
        records += [decode(log[k:k + 32]) for k in range(0, len(log) - 31, 32)
                    if log[k] == 1 and 1614890433 < struct.unpack(">I", log[k + 1:k + 5])[0] < 1854890433]
    with open(os.path.join(d, "lib", "logbook.csv"), newline="") as f:
        rows = list(csv.DictReader(f))
    records.sort(key=lambda r: r[0])
    wanted = {"timezone": zone, "flights": [flight_wanted(d, r, records) for r in rows],
            "index": os.path.join(d, "lib", "index.html"), "pages": len(rows), "totals": totals(rows)}
    nine_page = os.path.join(d, "lib", "2024-06-02-XXX-KXP-01.html")
    size = os.path.getsize(nine_page)
    with open(os.path.join(d, "wanted.json"), "w") as f:
        json.dump(wanted, f)
    shots = os.path.join(build, "test-artefacts", "pages")
    os.makedirs(shots, exist_ok=True)
    done = subprocess.run(["node", os.path.join(here, "check_pages.js"), os.path.join(d, "wanted.json"), shots],
                          cwd=readers, env=dict(os.environ, NODE_PATH=os.path.join(readers, "node_modules")))
    print(f"the 9-hour flight's page: {size} bytes; screenshots in {shots}")
    if size >= 1 << 20:
        print("FAILED: the 9-hour flight's page is not under 1 MB")
    sys.exit(1 if done.returncode or size >= 1 << 20 else 0)
