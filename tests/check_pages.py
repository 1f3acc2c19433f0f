#!/usr/bin/env python3
"""Writes a flight library with the sample flights, a 9-hour flight of 32,768
noisy points, a flight without a fix and one across midnight UTC at the end
of a month, then has check_pages.js open every page and index.html in
chromium, on a desktop, a phone, from the keyboard and as printed. What the
pages must show comes from here: the records decoded from the logs, the
logbook read with the csv module, its sums by local date, and its flights
sorted and filtered.

usage: check_pages.py BUILD_FOLDER READERS_FOLDER
"""
import csv
import json
import math
import os
import random
import re
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


def noisy(t0, n, seed=9):
    """A long flight as an instrument logs it, a second apart, every value noisy: the page's size at its worst."""
    rnd = random.Random(seed)
    lat, lon, alt, heading, t1, t2, fuel = 47.0, 9.0, 420.0, 0.0, 140.0, 560.0, 98.0
    out = []
    for i in range(n):
        air = 300 < i < n - 300
        heading += rnd.gauss(0, 0.05)
        speed = max(0, (62 if air else 0) + rnd.gauss(0, 3))
        lat += speed / 3.6 * math.cos(heading) / 111320
        lon += speed / 3.6 * math.sin(heading) / (111320 * math.cos(math.radians(lat)))
        vario = rnd.gauss(0, 1.0) + (0.3 * math.sin(i / 600) if air else 0)
        alt = max(420.0, alt + vario)
        t1 += rnd.gauss(0, 0.3) + (150 - t1) / 300
        t2 += rnd.gauss(0, 1.5) + (560 - t2) / 200
        fuel -= 0.0025
        out.append(record(t0 + i, lat, lon, int(speed), int(alt + rnd.gauss(0, 3)), int(math.degrees(heading) % 360 / 2),
                          rnd.randint(7, 12), (520 if air else 200) + int(rnd.gauss(0, 6)), round(t1), round(t2),
                          round(15 - alt / 150 + rnd.gauss(0, 0.3)), max(0, round(fuel)),
                          int(101325 * (1 - 2.25577e-5 * alt) ** 5.25588 / 10) + rnd.randint(-2, 2), int(alt),
                          int(vario * 10)))
    return b"".join(out)


def shown(p):
    """A decoded point as its time, whether it has a fix, and what the read-out shows of it."""
    t, fix = p["time"], usable(p)
    local = datetime.fromtimestamp(t, ZoneInfo(zone))
    offset = int(local.utcoffset().total_seconds() // 60)
    if_fix = lambda text: text if fix else "no fix"
    return t, fix, {
        "utc": datetime.fromtimestamp(t, timezone.utc).strftime("%Y-%m-%d %H:%M:%S"),
        "local": local.strftime("%Y-%m-%d %H:%M:%S ") + ("-" if offset < 0 else "+") +
        f"{abs(offset) // 60:02}:{abs(offset) % 60:02}",
        "baro": str(p["alt"]), "gps": if_fix(str(p["alt_gps"])), "rpm": str(p["rpm"]), "t1": str(p["t1"]),
        "t2": str(p["t2"]), "fuel": str(p["fuel"]), "oat": str(p["oat"]), "climb": f"{p['vario'] / 10:.1f}",
        "speed": if_fix(str(p["speed"])), "course": if_fix(str(p["course"])), "sats": str(p["sats"]),
        "pressure": str(p["pressure"]), "lat": if_fix(f"{p['lat']:.6f}"), "lon": if_fix(f"{p['lon']:.6f}")}


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
        over = [(int(r[2][key]) < bound) if key == "fuel" else (int(r[2][key]) > bound) for r in mine]
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
            "figures": {named(k): v for k, v in row.items() if k != "Files"}, "times": [r[0] for r in mine],
            "records": [r[2] for r in mine], "limits": LIMITS if row["Aircraft"] else {},
            "stretches": stretches(mine, row["Aircraft"])}


def local_date(row):
    start = datetime.strptime(row["Flight (UTC start)"], "%Y-%m-%dT%H:%M:%SZ").replace(tzinfo=timezone.utc)
    return start.astimezone(ZoneInfo(zone)).strftime("%Y-%m-%d")


def sort_key(text):
    """A cell as the index sorts it: numbers and durations by value, the rest as text; empty cells last."""
    if re.fullmatch(r"-?\d+(\.\d+)?", text):
        return (0, float(text), "")
    if re.fullmatch(r"\d+:\d\d:\d\d", text):
        h, m, sec = map(int, text.split(":"))
        return (0, h * 3600 + m * 60 + sec, "")
    return (1 if text == "" else 0, 0, text)


def index_wanted(rows):
    """The index's flights sorted by a few columns both ways, and filtered."""
    names = lambda chosen: [r["Name"] for r in chosen]
    sorting = {}
    for column in ("Max pressure altitude [m]", "Flight time [h:mm:ss]", "Aircraft"):
        up = sorted(rows, key=lambda r: sort_key(r[column]))
        filled = [r for r in up if r[column]]
        down = sorted(filled, key=lambda r: sort_key(r[column]), reverse=True)  # equal cells keep their order
        sorting[column] = {"ascending": names(up), "descending": names(down + [r for r in up if not r[column]])}
    july = [r for r in rows if local_date(r).startswith("2024-07")]
    return {"sorting": sorting, "filters": [
        {"aircraft": "Paramotor", "names": names(r for r in rows if r["Aircraft"] == "Paramotor")},
        {"year": "2024", "month": "07", "names": names(july)},
        {"text": rows[-1]["Name"][-6:].lower(), "names": names(r for r in rows if r["Name"].endswith(rows[-1]["Name"][-6:]))}]}


def totals(rows):
    sums = defaultdict(lambda: [0, 0, 0])
    for r in rows:
        for period in (local_date(r)[:7], local_date(r)[:4], "In all"):
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
    logs.append(noisy(nine, 32768))
    night = int(datetime(2024, 6, 30, 22, 10, tzinfo=timezone.utc).timestamp())  # 00:10 on 1 July in Berlin
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
              "trends": {"Paramotor": [r["Name"] for r in rows if r["Aircraft"] == "Paramotor"]},
              "sorted": index_wanted(rows), "nine": "2024-06-02-XXX-KXP-01"}
    expect("a flight of July by its local date but of June in UTC", [local_date(r)[:7] for r in rows
                                                                     if local_date(r)[:7] != r["Date (UTC)"][:7]],
           ["2024-07"])
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
