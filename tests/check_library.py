#!/usr/bin/env python3
"""kxconvert as a pilot uses it over a season: logs converted one after another
into one library folder. The logbook is read with Python's csv module and the
IGC files with igc-parser; the figures of one small flight are compared with
values worked out by hand.

usage: check_library.py BUILD_FOLDER READERS_FOLDER
"""
import csv
import json
import math
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
from datetime import datetime, timezone

from checks import expect, finish, record, whole

build, readers = map(os.path.abspath, sys.argv[1:3])
kxconvert = os.path.join(build, "kxconvert")
T0 = int(datetime(2024, 5, 1, 10, 0, tzinfo=timezone.utc).timestamp())


def point(t, lat=50.0, lon=8.0, speed=80, rpm=500, alt=300, **v):
    return record(t, lat, lon, speed, v.get("gps", alt + 10), 45, 9, rpm, v.get("t1", 80), v.get("t2", 90),
                  v.get("oat", 10), v.get("fuel", 70), 9000, alt, v.get("vario", 0))


def flight(start, n=20, step=5, lat=None, **v):
    """A flight that climbs 60 m above its field and comes back to it."""
    return b"".join(point(start + i * step, 50.0 + i * 1e-3 if lat is None else lat,
                          alt=300 + round(60 * math.sin(math.pi * i / max(n - 1, 1))), **v) for i in range(n))


def convert(folder, log, *args, user=None, env=None):
    path = os.path.join(folder, "log.dat")
    with open(path, "wb") as f:
        f.write(log)
    done = subprocess.run([kxconvert, "-o", "lib", *args, "log.dat"], cwd=folder, capture_output=True, text=True,
                          env=dict(os.environ, TZ="Europe/Berlin", **(env or {})), user=user, timeout=120)
    return done.returncode, done.stdout, done.stderr


def logbook(folder):
    with open(os.path.join(folder, "lib", "logbook.csv"), newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f))


def fates(out):
    """Each flight's line as (UTC start, what became of it, its name)."""
    found = [re.match(r"\d+\. (.{19}) UTC, [^:]*: (.*?)(?: \(\d+ points\))? (\d{4}-\d\d-\d\d-XXX-KXP-[0-9Z]+)", ln)
             for ln in out.splitlines() if ln[:1].isdigit()]
    return [m.groups() for m in found if m]


def first_fix(path):
    return next(ln for ln in open(path) if ln.startswith("B"))[1:7]


def shared_flights():
    a, b, c = T0, T0 + 3600, T0 + 7200  # three flights of one day, in two logs that share B
    for order in ("AB then BC", "BC then AB"):
        with tempfile.TemporaryDirectory() as d:
            logs = [whole(flight(a) + flight(b)), whole(flight(b) + flight(c))]
            if order == "BC then AB":
                logs.reverse()
            convert(d, logs[0])
            status, out, _ = convert(d, logs[1])
            expect(f"{order}: status", status, 0)
            rows = logbook(d)
            expect(f"{order}: one row per flight, by start", [r["Flight (UTC start)"][11:16] for r in rows],
                   ["10:00", "11:00", "12:00"])
            names = {r["Flight (UTC start)"][11:16]: r["Name"][-2:] for r in rows}
            # A flight new to the library takes the next number of its day, even when it is earlier.
            expect(f"{order}: numbers", names, {"10:00": "01", "11:00": "02", "12:00": "03"} if order == "AB then BC"
                   else {"10:00": "03", "11:00": "01", "12:00": "02"})
            for r in rows:
                expect(f"{order}: {r['Name']} holds its own flight",
                       first_fix(os.path.join(d, "lib", r["Name"] + ".igc")), r["Flight (UTC start)"][11:19]
                       .replace(":", ""))
            expect(f"{order}: the second run's lines", [f for _, f, _ in fates(out)], ["unchanged", "new"]
                   if order == "AB then BC" else ["new", "unchanged"])
            # A flight whose row and files the pilot removed leaves its number
            # free; the next flight of the day still takes the number after the highest.
            path = os.path.join(d, "lib", "logbook.csv")
            lines = open(path, newline="").read().split("\r\n")
            open(path, "w", newline="").write("\r\n".join(ln for ln in lines if "-XXX-KXP-02," not in ln))
            for ending in (".igc", ".gpx", ".html"):
                os.remove(os.path.join(d, "lib", "2024-05-01-XXX-KXP-02" + ending))
            status, out, _ = convert(d, whole(flight(c + 3600)))
            expect(f"{order}: after a removed flight, the next number", fates(out)[0][2], "2024-05-01-XXX-KXP-04")


def cut_and_whole():
    log = whole(flight(T0) + flight(T0 + 3600, n=300, step=2))
    cut = log[:4096]  # the second flight cut after 108 of its 300 points
    for order in ((cut, log), (log, cut)):
        with tempfile.TemporaryDirectory() as d:
            status, out, err = convert(d, order[0])
            if order[0] is cut:
                expect("cut log: said as kxlogreader says it", "1 of 256 pages, a partial log" in err, True)
                expect("cut log: last flight possibly cut", ("possibly cut" in out, logbook(d)[1]["Possibly cut"]),
                       (True, "yes"))
                # The pilot corrects the cut flight's time and remarks on it.
                header, rows, _ = read_logbook(d)
                rows[1]["Flight time [h:mm:ss]"], rows[1]["Remarks"] = "0:12:00", "cut by the battery"
                with open(os.path.join(d, "lib", "logbook.csv"), "w", newline="") as f:
                    csv.writer(f, lineterminator="\r\n").writerows([header + ["Remarks"]] + [
                        [r.get(h, "") for h in header + ["Remarks"]] for r in rows])
            before = open(os.path.join(d, "lib", "2024-05-01-XXX-KXP-02.igc"), "rb").read()
            status, out, err = convert(d, order[1])
            after = open(os.path.join(d, "lib", "2024-05-01-XXX-KXP-02.igc"), "rb").read()
            rows = logbook(d)
            expect("cut and whole: the longer copy stays", [r["Points"] for r in rows], ["20", "300"])
            if order[0] is cut:
                expect("cut, then whole: replaced", fates(out)[1][1], "replaced the shorter copy")
                expect("cut, then whole: IGC of the whole flight", after.count(b"\r\nB"), 300)
                expect("cut, then whole: the pilot's edit and remark kept, no figure taken for an edit",
                       ([k for k in rows[1] if k.endswith("(pilot)")], rows[1]["Flight time [h:mm:ss] (pilot)"],
                        rows[1]["Remarks"], rows[1]["Possibly cut"]),
                       (["Flight time [h:mm:ss] (pilot)"], "0:12:00", "cut by the battery", ""))
            else:
                expect("whole, then cut: kept", fates(out)[1][1], "kept the longer copy")
                expect("whole, then cut: IGC untouched", after, before)


def odd_flights():
    with tempfile.TemporaryDirectory() as d:
        # A reset clock: a flight stored after a later one. No fix at all. A fix after 20 points.
        late = b"".join(point(T0 + 9000 + i, 0.0 if i < 20 else 51.0, 9.0) for i in range(40))
        log = flight(T0 + 3600) + flight(T0) + flight(T0 + 6000, lat=0.0) + late
        status, out, err = convert(d, whole(log))
        rows = logbook(d)
        expect("backward step: a flight of its own", len(rows), 4)
        for r in rows:
            if r["Flight (UTC start)"].endswith("10:00:00Z"):  # no jump from the later flight's end
                expect("backward step: its distance", r["Distance [km]"], "2.1")
        nofix = [r for r in rows if r["Points without position"] == r["Points"]]
        expect("no fix: a logbook row with engine figures, only its page", [(r["Files"], r["Max engine speed [rpm]"])
                                                                             for r in nofix], [("html", "5000")])
        expect("no fix: its line says so", "in the logbook only" in out, True)
        expect("no fix: no track file", [n for n in os.listdir(os.path.join(d, "lib"))
                                          if n.startswith(nofix[0]["Name"])], [nofix[0]["Name"] + ".html"])
        lateRow = next(r for r in rows if r["Points"] == "40")
        expect("late fix: every point in the IGC", open(os.path.join(d, "lib", lateRow["Name"] + ".igc")).read()
               .count("\nB"), 40)


def many_in_a_day():
    with tempfile.TemporaryDirectory() as d:
        log = b"".join(flight(T0 - 36000 + k * 610, n=2) for k in range(130))  # 00:00 UTC on
        status, out, err = convert(d, whole(log))
        names = [r["Name"] for r in logbook(d)]
        expect("130 flights: distinct names", len(set(names)), 130)
        expect("130 flights: names sort by time", sorted(names), names)
        expect("130 flights: past 99", names[98:101], ["2024-05-01-XXX-KXP-99", "2024-05-01-XXX-KXP-Z100",
                                                       "2024-05-01-XXX-KXP-Z101"])
        expect("130 flights: FAT-safe", all(c.isalnum() or c == "-" for n in names for c in n), True)
        for name, header in (("2024-05-01-XXX-KXP-99", "HFDTEDATE:010524,99"), ("2024-05-01-XXX-KXP-Z130",
                                                                                "HFDTEDATE:010524")):
            path = os.path.join(d, "lib", name + ".igc")
            expect(f"{name}: HFDTE", open(path).read().split("\n")[1].strip(), header)
            parsed = subprocess.run(["node", "-e", "console.log(JSON.stringify(require('igc-parser').parse("
                                     "require('fs').readFileSync(process.argv[1], 'utf8')).date))", path],
                                    cwd=readers, capture_output=True, text=True)
            expect(f"{name}: igc-parser reads its date", parsed.stdout.strip(), '"2024-05-01"')


def files_of(folder):
    return {os.path.relpath(os.path.join(top, n), folder): open(os.path.join(top, n), "rb").read()
            for top, _, names in os.walk(folder) for n in names}


def read_only_library():
    with tempfile.TemporaryDirectory() as d:
        os.chmod(d, 0o755)
        short, longer = whole(flight(T0, n=10)), whole(flight(T0, n=30))
        convert(d, short)
        lib = os.path.join(d, "lib")
        kept = files_of(lib)
        for folder in (lib, os.path.join(lib, "records")):
            os.chmod(folder, 0o555)
        os.chmod(os.path.join(lib, "records", "kxconvert.lock"), 0o444)
        user = 65534 if os.getuid() == 0 else None  # root writes anywhere
        os.chmod(d, 0o777)
        status, out, err = convert(d, longer, user=user)
        for folder in (lib, os.path.join(lib, "records")):
            os.chmod(folder, 0o755)
        expect("read-only library: status", status, 2)
        expect("read-only library: says why", "kxconvert.lock" in err and "Permission denied" in err, True)
        expect("read-only library: nothing lost", files_of(lib), kept)


def read_logbook(folder):
    """The logbook's header and rows, in whatever form it was written, and that form."""
    raw = open(os.path.join(folder, "lib", "logbook.csv"), "rb").read()
    text = raw.decode("utf-8-sig")
    separator = ";" if text.split("\n")[0].count(";") > text.split("\n")[0].count(",") else ","
    header, *rows = list(csv.reader(text.splitlines(), delimiter=separator))
    return header, [dict(zip(header, r)) for r in rows], (separator, raw.startswith(b"\xef\xbb\xbf"), b"\r\n" in raw)


def in_all(out):
    return out.splitlines()[-1].split("; in all ")[1]


def german(value):
    """A cell as a German spreadsheet saves it: D.M.YYYY H:MM, decimal commas."""
    m = re.fullmatch(r"(\d{4})-(\d\d)-(\d\d) (\d\d:\d\d):\d\d", value)
    if m:
        return f"{m[3]}.{m[2]}.{m[1]} {m[4]}"
    return value.replace(".", ",") if re.fullmatch(r"-?\d+\.\d+", value) else value


class Instrument:
    """A log memory that is a ring: the records go on at its start once it is full."""

    def __init__(self):
        self.memory, self.at = bytearray(b"\xff" * (1 << 20)), 0

    def record(self, rec):
        self.memory[self.at:self.at + 32] = rec
        self.at = (self.at + 32) % len(self.memory)


def season():
    """Two instruments flying at the same hours all season, each downloaded
    six times: later downloads overlap earlier ones, start with the newest
    records after a wrap, and hold old flights only as a tail; one download
    is cut. In the order they were made and shuffled, every flight that any
    download held is in the library once, its records all that the downloads
    held of it."""
    instruments, truth, logs = [Instrument(), Instrument()], {}, []
    # The first is downloaded often, the second seldom: it writes over flights not downloaded yet.
    downloads, length = ({1, 3, 7, 9, 11, 15, 17, 19, 23}, {7, 15, 23}), (700, 2300)
    for day in range(24):
        for k, (inst, lat) in enumerate(zip(instruments, (46.0, 48.0))):
            for hour in (8, 14):
                start = T0 + day * 86400 + (hour - 10) * 3600 + k * 60
                recs = [point(start + i, lat + i * 1e-5, 8.0, alt=300 + i % 400)
                        for i in range(length[k] + 37 * (day % 5))]
                truth[(k, start)] = recs
                for r in recs:
                    inst.record(r)
            if day in downloads[k]:
                logs.append(bytes(inst.memory))
    logs[4] = logs[4][:300 * 4096]  # a download given up after 300 pages
    seen = {}
    for log in logs:
        held = {log[i:i + 32] for i in range(0, len(log), 32)}
        for key, recs in truth.items():
            mine = [r for r in recs if r in held]
            if mine:
                seen.setdefault(key, set()).update(mine)
    wanted = sorted(b"".join(sorted(recs, key=lambda r: r[1:5])) for recs in seen.values())
    expect("season: flights seen only in part", sum(len(seen[k]) < len(truth[k]) for k in seen) > 2, True)
    for order in ("in order", "shuffled"):
        with tempfile.TemporaryDirectory() as d:
            for log in (logs if order == "in order" else [logs[i] for i in (7, 2, 11, 0, 9, 4, 5, 1, 10, 3, 8, 6)]):
                status, out, err = convert(d, log, "-q")
                expect(f"season {order}: status", status, 0)
            kept = os.path.join(d, "lib", "records")
            got = sorted(open(os.path.join(kept, n), "rb").read() for n in os.listdir(kept) if n.endswith(".kxr"))
            rows = logbook(d)
            expect(f"season {order}: every flight once, with all its records", (len(got), got == wanted),
                   (len(wanted), True))
            expect(f"season {order}: a row each, by its records' count", sorted(int(r["Points"]) for r in rows),
                   sorted(len(w) // 32 for w in wanted))


def hand_flown(start, phases, field=200, drift=6.0, seed=1):
    """A flight a second at a time: phases of (seconds, speed from, speed to,
    height above the field from, to, engine rpm), with the noise of real
    sensors and the field's pressure altitude drifting with the weather.
    Returns the records and the phases' start times."""
    rng, records, starts, t, lat = random.Random(seed), [], [], start, 47.0
    total = sum(p[0] for p in phases)
    height = phases[0][3]
    for seconds, v0, v1, h0, h1, rpm in phases:
        starts.append(t)
        for i in range(seconds):
            f = i / max(seconds - 1, 1)
            speed = max(0, v0 + (v1 - v0) * f + rng.uniform(-1.5, 1.5))
            before, height = height, h0 + (h1 - h0) * f + rng.uniform(-1, 1)
            ground = field + drift * (t - start) / total
            lat += speed / 3.6 / 111000
            records.append(point(t, lat, 8.0, round(speed), rpm // 10, round(ground + height),
                                 vario=round((height - before) * 10 + rng.uniform(-2, 2))))
            t += 1
    starts.append(t)
    return b"".join(records), starts


def kinds_of_aircraft():
    """Takeoff and landing at lift-off and touchdown, within a minute, for a
    paramotor, a low flight along a beach, a microlight, a light aircraft
    taxiing just under 30 km/h, and a piece of a flight that starts in the air."""
    kinds = {
        # (phases, the phase that lifts off, the phase after touchdown)
        "paramotor": ([(90, 0, 0, 0, 0, 2500), (12, 0, 28, 0, 0, 7500), (240, 36, 40, 0, 250, 7200),
                       (900, 40, 42, 250, 250, 6500), (180, 40, 38, 250, 0, 4000), (6, 30, 0, 0, 0, 2000),
                       (60, 0, 0, 0, 0, 0)], 2, 5),
        "low flight": ([(60, 0, 0, 0, 0, 2500), (12, 0, 28, 0, 0, 7500), (30, 36, 40, 0, 40, 7000),
                        (1500, 40, 42, 30, 55, 6500), (40, 40, 38, 40, 0, 4000), (6, 30, 0, 0, 0, 2000),
                        (60, 0, 0, 0, 0, 0)], 2, 5),
        "microlight": ([(120, 0, 20, 0, 0, 2500), (20, 20, 65, 0, 0, 5500), (300, 90, 95, 0, 600, 5200),
                        (1800, 100, 100, 600, 600, 4600), (400, 90, 70, 600, 0, 3000), (25, 65, 15, 0, 0, 2000),
                        (120, 15, 10, 0, 0, 1500)], 2, 5),
        "light aircraft": ([(300, 27, 28, 0, 0, 1200), (25, 30, 100, 0, 0, 2500), (480, 130, 140, 0, 1500, 2450),
                            (2400, 180, 180, 1500, 1500, 2300), (600, 150, 100, 1500, 0, 1800), (30, 100, 25, 0, 0, 1000),
                            (240, 25, 25, 0, 0, 900)], 2, 5),
    }
    with tempfile.TemporaryDirectory() as d:
        wanted, log = {}, b""
        for k, (name, (phases, lift, down)) in enumerate(kinds.items()):
            records, starts = hand_flown(T0 + k * 86400, phases, seed=k)
            log += records
            wanted[T0 + k * 86400] = (name, starts[lift], starts[down])
        # The microlight's flight from its 20th minute: a piece that starts in cruise.
        records, starts = hand_flown(T0 + 9 * 86400, kinds["microlight"][0], seed=9)
        log += records[1200 * 32:]
        wanted[T0 + 9 * 86400 + 1200] = ("in the air at the start", T0 + 9 * 86400 + 1200, starts[5])
        convert(d, whole(log))
        for row in logbook(d):
            name, takeoff, landing = wanted[utc(row["Flight (UTC start)"])]
            got = (utc(row["Takeoff (UTC)"].replace(" ", "T") + "Z"), utc(row["Landing (UTC)"].replace(" ", "T") + "Z"))
            expect(f"{name}: takeoff and landing within a minute of lift-off and touchdown",
                   (abs(got[0] - takeoff) <= 60, abs(got[1] - landing) <= 60), (True, True))


def two_aircraft():
    """A paramotor and a trike in one library: their totals apart, a flight
    without an aircraft given one in the logbook, and the paramotor's service
    counted down over runs until it is due and then overdue."""
    with tempfile.TemporaryDirectory() as d:
        os.makedirs(os.path.join(d, "config", "kxtools"))
        with open(os.path.join(d, "config", "kxtools", "kxconvert.conf"), "w") as f:
            f.write("[Paramotor]\nengine hours before = 1.5\nservice at = 1\nservice every = 3.2\n[Trike]\nlimit rpm = 4000\n")
        env = {"XDG_CONFIG_HOME": os.path.join(d, "config")}
        runs = []
        def run(day, aircraft=None, n=200):
            args = ("-q",) if aircraft is None else ("--aircraft", aircraft)
            runs.append(convert(d, whole(flight(T0 + day * 86400, n=n, step=10)), *args, env=env))
        run(0)                        # no aircraft named: the pilot names it later
        run(1, "Paramotor")           # each about 0:33 h of engine time
        run(2, "Trike")
        header, rows, _ = read_logbook(d)
        rows[0]["Aircraft"] = "Paramotor"
        with open(os.path.join(d, "lib", "logbook.csv"), "w", newline="") as f:
            csv.writer(f, lineterminator="\r\n").writerows([header] + [[r[h] for h in header] for r in rows])
        run(3, "Paramotor")
        run(4, "Paramotor", n=400)
        status, out, err = runs[-2]
        expect("the aircraft named in the logbook taken", "its aircraft is Paramotor from now on" in err, True)
        lines = [r[1].splitlines() for r in runs]
        hours = lambda h: f"{round(abs(h) * 60) // 60}:{round(abs(h) * 60) % 60:02} h"
        def said(engine):  # the engine's hours, from 1.5 before the library, serviced at 1, every 3.2
            until = 3.2 - (engine - 1)
            return (f"Paramotor: engine {hours(engine)} in all, {hours(engine - 1)} since the service at 1:00 h; " +
                    (f"the next service at 4:12 h, in {hours(until)}." if until >= 0 else
                     f"the next service is overdue by {hours(until)}."))
        per = 1990 / 3600  # a flight of 200 points 10 s apart
        expect("service: said after the totals while it is more than 2 h off", lines[1][-1], said(1.5 + per))
        expect("service: said first when due within 2 h, then overdue", (lines[3][-3], lines[4][-3]),
               (said(1.5 + 3 * per), said(1.5 + 3 * per + 3990 / 3600)))
        index = open(os.path.join(d, "lib", "index.html"), encoding="utf-8").read()
        for aircraft in ("Paramotor", "Trike"):
            mine = [r for r in logbook(d) if r["Aircraft"] == aircraft]
            seconds = lambda column: sum(sum(int(x) * m for x, m in zip(r[column].split(":"), (3600, 60, 1))) for r in mine)
            text = lambda s: f"{s // 3600}:{s // 60 % 60:02}:{s % 60:02}"
            table = index[index.index(f'data-aircraft="{aircraft}"'):]
            table = table[table.index('data-period="In all"'):table.index("</tr>", table.index('data-period="In all"'))]
            expect(f"{aircraft}: its totals in the index", re.findall(r'<td class="n">([^<]*)</td>', table),
                   [str(len(mine)), text(seconds("Flight time [h:mm:ss]")), text(seconds("Engine time [h:mm:ss]"))])
        expect("a flight per aircraft and run", sorted(r["Aircraft"] for r in logbook(d)),
               ["Paramotor"] * 4 + ["Trike"])


def utc(text):
    return int(datetime.strptime(text, "%Y-%m-%dT%H:%M:%SZ").replace(tzinfo=timezone.utc).timestamp())


def pilots_logbook():
    """The logbook as the pilot keeps it: columns of their own, an edited
    figure, a German spreadsheet's form, a line broken and then repaired."""
    log = whole(flight(T0) + flight(T0 + 3600) + flight(T0 + 7200))
    with tempfile.TemporaryDirectory() as d:
        _, out, _ = convert(d, log)
        totals = in_all(out)
        header, rows, _ = read_logbook(d)
        time = rows[0]["Flight time [h:mm:ss]"]
        lines = [header + ["Remarks"]] + [[german(r[h]) for h in header] + [f"remark {k}"] for k, r in enumerate(rows)]
        lines[1][header.index("Flight time [h:mm:ss]")] = "0:30:00"
        text = [";".join(f'"{v}"' for v in line) for line in lines]
        repaired = text[2]
        text[2] = text[2].replace('";"', '";', 1)  # a quote left out: the line cannot be read
        text.insert(2, "remember to refuel")
        open(os.path.join(d, "lib", "logbook.csv"), "w", encoding="utf-8-sig", newline="").write("\r\n".join(text) + "\r\n")
        status, out, err = convert(d, log)
        header, rows, form = read_logbook(d)
        expect("pilot's logbook: status and totals", (status, in_all(out)), (0, totals))
        expect("pilot's logbook: written back in its form", form, (";", True, True))
        expect("pilot's logbook: a row per flight, the unreadable line's too", [r["Name"][-2:] for r in rows],
               ["01", "02", "03"])
        expect("pilot's logbook: remarks kept", [r["Remarks"] for r in rows], ["remark 0", "", "remark 2"])
        expect("pilot's logbook: the edit kept as the pilot's",
               [(r["Flight time [h:mm:ss]"], r["Flight time [h:mm:ss] (pilot)"]) for r in rows],
               [(time, "0:30:00"), (time, ""), (time, "")])
        expect("pilot's logbook: the edit said, the lines set aside named",
               (err.count("kept as \"Flight time [h:mm:ss] (pilot)\""), err.count("cannot be read")), (1, 2))
        aside = open(os.path.join(d, "lib", "logbook.unreadable.txt"), encoding="utf-8").read()
        expect("pilot's logbook: the broken line kept aside with its remark", "remark 1" in aside, True)
        with open(os.path.join(d, "lib", "logbook.csv"), "a", encoding="utf-8", newline="") as f:
            f.write(repaired + "\r\n")
        status, out, err = convert(d, log)
        header, rows, form = read_logbook(d)
        expect("repaired line pasted back: taken, one row a flight", ([r["Remarks"] for r in rows], err),
               (["remark 0", "remark 1", "remark 2"], ""))

    # A logbook opened and saved by LibreOffice, which takes durations for times of day.
    with tempfile.TemporaryDirectory() as d:
        _, out, _ = convert(d, log)
        time = logbook(d)[0]["Flight time [h:mm:ss]"]
        book = os.path.join(d, "lib", "logbook.csv")
        saved = os.path.join(d, "saved")
        done = subprocess.run(["soffice", f"-env:UserInstallation=file://{d}/profile", "--headless",
                               "--infilter=CSV:44,34,76,1,,1033,false,true",
                               "--convert-to", "csv:Text - txt - csv (StarCalc):44,34,76,1,,1033", "--outdir", saved,
                               book], capture_output=True, timeout=240)
        os.replace(os.path.join(saved, "logbook.csv"), book)
        expect("LibreOffice made durations times of day", f"12:{time[2:]} AM" in open(book).read(), True)
        status, again, err = convert(d, log)
        expect("after LibreOffice: the same totals, no edit", (status, in_all(again), err), (0, in_all(out), ""))
        expect("after LibreOffice: durations written again", logbook(d)[0]["Flight time [h:mm:ss]"], time)


def lost_logbook():
    """A deleted logbook, and one put back from an older backup: the same
    flights under the same names, and what the older one held of the pilot's."""
    with tempfile.TemporaryDirectory() as d:
        convert(d, whole(flight(T0)))
        book = os.path.join(d, "lib", "logbook.csv")
        header, rows, _ = read_logbook(d)
        with open(book, "w", newline="") as f:
            csv.writer(f, lineterminator="\r\n").writerows([header + ["Remarks"], list(rows[0].values()) + ["first"]])
        older = open(book, "rb").read()
        log = whole(flight(T0) + flight(T0 + 3600) + flight(T0 + 7200))
        convert(d, log)
        os.remove(book)
        status, out, _ = convert(d, log)
        expect("deleted logbook: the flights as they were", [f for _, f, _ in fates(out)], ["unchanged"] * 3)
        expect("deleted logbook: a row each", [r["Name"][-2:] for r in logbook(d)], ["01", "02", "03"])
        open(book, "wb").write(older)
        status, out, _ = convert(d, log)
        expect("older logbook: every flight, the pilot's remark kept",
               [(r["Name"][-2:], r["Remarks"]) for r in logbook(d)], [("01", "first"), ("02", ""), ("03", "")])
        expect("older logbook: no new names", sorted(n for n in os.listdir(os.path.join(d, "lib")) if n.endswith(".igc")),
               [f"2024-05-01-XXX-KXP-0{k}.igc" for k in (1, 2, 3)])


def rebuild_and_check():
    with tempfile.TemporaryDirectory() as d:
        convert(d, whole(flight(T0) + flight(T0 + 3600)))
        lib = os.path.join(d, "lib")
        made = files_of(lib)
        run = lambda *args: subprocess.run([kxconvert, *args, lib], capture_output=True, text=True,
                                           env=dict(os.environ, TZ="Europe/Berlin"))
        expect("check of a sound library", run("--check").returncode, 0)
        os.remove(os.path.join(lib, "2024-05-01-XXX-KXP-01.html"))
        os.remove(os.path.join(lib, "logbook.csv"))
        open(os.path.join(lib, "2024-05-01-XXX-KXP-02.gpx.part"), "w").write("left")
        os.rename(os.path.join(lib, "records", "2024-05-01-XXX-KXP-02.kxr"), os.path.join(d, "02.kxr"))
        shutil.copy(os.path.join(lib, "2024-05-01-XXX-KXP-02.igc"), os.path.join(lib, "2024-05-01-XXX-KXP-03.igc"))
        done = run("--check")
        expect("check: a status for each finding", done.returncode, 4 + 8 + 16 + 32 + 64)
        expect("check: what it found", sorted(ln.split(":")[0] for ln in done.stdout.splitlines()[:-1]),
               sorted(["a file that no row names", "a row whose file is missing", "left by a stopped run",
                       "a flight whose records the library does not keep", "one flight under two names"]))
        expect("check changes nothing", files_of(lib), {k: v for k, v in made.items() if "KXP-01.html" not in k and
                                                        k != "logbook.csv" and "02.kxr" not in k} |
               {"2024-05-01-XXX-KXP-02.gpx.part": b"left", "2024-05-01-XXX-KXP-03.igc":
                made["2024-05-01-XXX-KXP-02.igc"]})
        os.rename(os.path.join(d, "02.kxr"), os.path.join(lib, "records", "2024-05-01-XXX-KXP-02.kxr"))
        os.remove(os.path.join(lib, "2024-05-01-XXX-KXP-03.igc"))
        expect("rebuild", run("--rebuild").returncode, 0)
        rebuilt = files_of(lib)
        expect("rebuild makes every file again, the same", rebuilt, made)
        run("--rebuild")
        expect("rebuild again: the same library", files_of(lib), rebuilt)


def figures_by_hand():
    """One flight of 8 points, 10 s apart; every figure worked out by hand."""
    speeds = [0, 60, 80, 90, 80, 60, 20, 0]
    rpms = [0, 550, 550, 520, 500, 300, 100, 0]  # stored in tens: 5500 rpm and so on; 500 rpm and up runs
    alts = [100, 110, 150, 200, 180, 120, 100, 100]
    t1s = [60, 70, 80, 90, 95, 85, 75, 70]
    t2s = [100, 120, 140, 160, 170, 150, 130, 120]
    oats = [15, 14, 12, 10, 11, 13, 14, 15]
    fuels = [80, 80, 79, 79, 78, 78, 77, 77]
    varios = [0, 25, 40, 35, -10, -30, -15, 0]
    log = b"".join(point(T0 + 10 * i, 50.0 + i * 1e-3, 8.0, speeds[i], rpms[i], alts[i], gps=alts[i] + 10,
                         t1=t1s[i], t2=t2s[i], oat=oats[i], fuel=fuels[i], vario=varios[i]) for i in range(8))
    with tempfile.TemporaryDirectory() as d:
        status, out, err = convert(d, whole(log))
        row = logbook(d)[0]
        expect("figures by hand", {k: row[k] for k in row if k not in ("Name", "Files", "Possibly cut")}, {
            "Flight (UTC start)": "2024-05-01T10:00:00Z", "Date (UTC)": "2024-05-01",
            "Takeoff (UTC)": "2024-05-01 10:00:10", "Landing (UTC)": "2024-05-01 10:00:50",
            "Takeoff (local)": "2024-05-01 12:00:10 +02:00", "Landing (local)": "2024-05-01 12:00:50 +02:00",
            "Flight time [h:mm:ss]": "0:00:40", "Last record (UTC)": "2024-05-01T10:01:10Z",
            "Record span [h:mm:ss]": "0:01:10", "Points": "8", "Points without position": "0",
            "Engine time [h:mm:ss]": "0:01:00", "Max engine speed [rpm]": "5500",
            "Mean engine speed running [rpm]": "4200", "Max T1 [deg C]": "95", "Mean T1 running [deg C]": "82.5",
            "Max T2 [deg C]": "170", "Mean T2 running [deg C]": "145.0", "Min outside air [deg C]": "10",
            "Max outside air [deg C]": "15", "Fuel at start [%]": "80", "Fuel at end [%]": "77", "Fuel used [%]": "3",
            "Fuel burn [%/h of engine time]": "180.0", "Max pressure altitude [m]": "200",
            "Max GPS altitude [m]": "210", "Total climb [m]": "100", "Best climb [m/s]": "4.0",
            "Best sink [m/s]": "-3.0", "Distance [km]": "0.8", "Max ground speed [km/h]": "90", "Aircraft": "",
            "Registration": "", "Over limits": "", "Cruise time [h:mm:ss]": "0:00:00",
            "Mean engine speed cruise [rpm]": "", "Mean T1 cruise [deg C]": "", "Mean T2 cruise [deg C]": ""})
        expect("summary of the run", out.splitlines()[-2],
               "This run: 1 flight, flight time 0:00:40, engine time 0:01:00 (1 new).")
        expect("summary of the library", out.splitlines()[-1].split("; in all ")[1],
               "1 flight, flight time 0:00:40, engine time 0:01:00.")
    with tempfile.TemporaryDirectory() as d:  # airborne for exactly 30 s: a flight of 30 s
        # Airborne (15 m up and more) from 10 s to 40 s, and, in the second, to 39 s.
        alts = [100, 115, 120, 120, 115, 100]
        convert(d, whole(b"".join(point(T0 + 10 * i, 50.0, 8.0, 60, 0, a) for i, a in enumerate(alts))))
        convert(d, whole(b"".join(point(T0 + 3600 + t, 50.0, 8.0, 60, 0, a) for t, a in zip((0, 10, 20, 30, 39, 49), alts))))
        expect("airborne for 30 s, and for 29 s", [r["Flight time [h:mm:ss]"] for r in logbook(d)], ["0:00:30", "0:00:00"])


def pilot_details():
    with tempfile.TemporaryDirectory() as d:
        os.makedirs(os.path.join(d, "config", "kxtools"))
        with open(os.path.join(d, "config", "kxtools", "kxconvert.conf"), "w") as f:
            f.write("# filled in once\npilot = Jane Doe\naircraft = Trike 912\nregistration=D-MXYZ\ncolour = red\n")
        status, out, err = convert(d, whole(flight(T0)), "--pilot", "Max Muster",
                                   env={"XDG_CONFIG_HOME": os.path.join(d, "config")})
        head = open(os.path.join(d, "lib", "2024-05-01-XXX-KXP-01.igc"), newline="").read().split("\r\n")
        expect("pilot details: options first, then the settings", [h for h in head if h[2:5] in ("PLT", "GTY", "GID")],
               ["HFPLTPILOTINCHARGE:Max Muster", "HFGTYGLIDERTYPE:Trike 912", "HFGIDGLIDERID:D-MXYZ"])
        expect("pilot details: an unknown setting is named", "kxconvert.conf line 5 is not one of" in err, True)


for case in (kinds_of_aircraft, two_aircraft, season, shared_flights, cut_and_whole, odd_flights, many_in_a_day, read_only_library, pilots_logbook,
             lost_logbook, rebuild_and_check,
             figures_by_hand, pilot_details):
    case()
finish("of the flight library's cases held")
