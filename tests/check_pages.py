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
import subprocess
import sys
import tempfile
from collections import defaultdict
from datetime import datetime, timezone
from zoneinfo import ZoneInfo

from checks import expect, finish, points, record, usable, whole

build, readers = map(os.path.abspath, sys.argv[1:3])
here = os.path.dirname(os.path.abspath(__file__))
zone = "Europe/Berlin"


def point(t, lat, lon, i):
    return record(t, lat, lon, 40 + i % 120, 120 + i % 1400, i % 180, 7 + i % 5, 480 + i % 70, 62 + i % 25,
                  70 + i % 22, 18 - i % 30, 92 - i % 30, 10000 - i % 900, 110 + i % 1400, i % 91 - 45)


def shown(p):
    """A decoded point as its time, whether it has a fix, its GPS altitude, and what the read-out shows of it."""
    t, fix = p["time"], usable(p)
    local = datetime.fromtimestamp(t, ZoneInfo(zone))
    offset = int(local.utcoffset().total_seconds() // 60)
    vario = p["vario"]
    return t, fix, p["alt_gps"], {
        "utc": datetime.fromtimestamp(t, timezone.utc).strftime("%Y-%m-%d %H:%M:%S"),
        "local": local.strftime("%Y-%m-%d %H:%M:%S ") + ("-" if offset < 0 else "+") +
        f"{abs(offset) // 60:02}:{abs(offset) % 60:02}",
        "baro": str(p["alt"]), "gps": str(p["alt_gps"]) if fix else "no fix", "rpm": str(p["rpm"]),
        "t1": str(p["t1"]), "t2": str(p["t2"]), "fuel": str(p["fuel"]), "oat": str(p["oat"]),
        "climb": repr(vario / 10) if vario % 10 else str(vario // 10),
        "speed": str(p["speed"]) if fix else "no fix",
        "position": f"{p['lat']:.6f}, {p['lon']:.6f}" if fix else "no fix"}, {"t1": p["t1"], "rpm": p["rpm"],
                                                                              "fuel": p["fuel"]}


# The sample flights' aircraft, with limits they go over and named temperatures.
LIMITS = {"t1": 80, "rpm": 5400, "fuel": 70}
SETTINGS = "[Paramotor]\nname t1 = CHT\nname t2 = EGT\n" + "".join(f"limit {k} = {v}\n" for k, v in LIMITS.items())


def convert(folder, log, *args):
    with open(os.path.join(folder, "log.dat"), "wb") as f:
        f.write(whole(log))
    os.makedirs(os.path.join(folder, "config", "kxtools"), exist_ok=True)
    with open(os.path.join(folder, "config", "kxtools", "kxconvert.conf"), "w") as f:
        f.write(SETTINGS)
    subprocess.run([os.path.join(build, "kxconvert"), "-f", "igc,gpx,html", "-o", "lib", *args, "log.dat"], cwd=folder,
                   check=True, capture_output=True,
                   env=dict(os.environ, TZ=zone, XDG_CONFIG_HOME=os.path.join(folder, "config")))


def stretches(mine, aircraft):
    """The stretches over each limit of the flight's aircraft: (limit, first record's time), in time order."""
    if aircraft != "Paramotor":
        return []
    found = []
    for key, bound in LIMITS.items():
        over = [(r[4][key] < bound) if key == "fuel" else (r[4][key] > bound) for r in mine]
        found += [(key, mine[i][0]) for i in range(len(mine)) if over[i] and (i == 0 or not over[i - 1])]
    return sorted(found, key=lambda s: s[1])


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
    named = lambda k: k.replace("T1 ", "CHT (T1) ").replace("T2 ", "EGT (T2) ") if row["Aircraft"] else k
    return {"name": row["Name"], "page": os.path.join(folder, "lib", row["Name"] + ".html"), "first": first,
            "last": last, "step": max(1, (last - first) // 400), "series": series, "hasTrack": bool(fixes),
            "figures": {named(k): v for k, v in row.items() if k != "Files"}, "records": {str(r[0]): r[3] for r in mine},
            "limits": LIMITS if row["Aircraft"] else {}, "stretches": stretches(mine, row["Aircraft"])}


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
    for k, log in enumerate(logs):
        convert(d, log, *(("--aircraft", "Paramotor") if k == 0 else ()))
        records += [shown(p) for p in points(log)]
    with open(os.path.join(d, "lib", "logbook.csv"), newline="") as f:
        rows = list(csv.DictReader(f))
    records.sort(key=lambda r: r[0])
    wanted = {"timezone": zone, "flights": [flight_wanted(d, r, records) for r in rows],
              "index": os.path.join(d, "lib", "index.html"), "pages": len(rows), "totals": totals(rows),
              "trends": {"Paramotor": [r["Name"] for r in rows if r["Aircraft"] == "Paramotor"]}}
    nine_page = os.path.join(d, "lib", "2024-06-02-XXX-KXP-01.html")
    size = os.path.getsize(nine_page)
    with open(os.path.join(d, "wanted.json"), "w") as f:
        json.dump(wanted, f)
    shots = os.path.join(build, "test-artefacts", "pages")
    os.makedirs(shots, exist_ok=True)
    done = subprocess.run(["node", os.path.join(here, "check_pages.js"), os.path.join(d, "wanted.json"), shots],
                          cwd=readers, env=dict(os.environ, NODE_PATH=os.path.join(readers, "node_modules")))
    print(f"the 9-hour flight's page: {size} bytes; screenshots in {shots}")
    expect("the 9-hour flight's page under 1 MB", size < 1 << 20, True)
    expect("the checks in chromium held", done.returncode, 0)
finish("checks of the pages held")
