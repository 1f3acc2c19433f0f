#!/usr/bin/env python3
"""The flight library however a run ends: kxconvert stopped (as when killed,
or the battery goes flat) before each of its file operations in turn, then
interrupted with Ctrl-C before each, then started several times at once; and
its writes seen in the system calls: each file written back and flushed
before it takes its name, and the folder after.

After a stop, the next complete run must leave the library exactly as one
run without a stop leaves it, byte for byte: every flight once, under its
name, its row made from its records, the pilot's column kept, and no
temporary file.

usage: check_crashes.py BUILD_FOLDER
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from checks import expect, finish, record, whole

build = os.path.abspath(sys.argv[1])
kxconvert, crashrun = os.path.join(build, "kxconvert"), os.path.join(build, "kxcrashrun")
T0 = 1714557600  # 2024-05-01 10:00:00 UTC


def flight(start, n=30, lat=50.0):
    return b"".join(record(start + i * 4, lat + i * 1e-4, 8.0, 60 + i % 50, 300 + i, 45, 9, 500, 80, 90, 10, 70,
                           9000, 290 + i, i % 20) for i in range(n))


def run(args, folder, program=kxconvert):
    done = subprocess.run([program, *args], cwd=folder, capture_output=True, text=True, timeout=60)
    return done.returncode, done.stdout, done.stderr


def files_of(folder):
    """Every file of the library but the lock, by its path in the library."""
    return {os.path.relpath(os.path.join(top, n), folder): open(os.path.join(top, n), "rb").read()
            for top, _, names in os.walk(folder) for n in names if n != "kxconvert.lock"}


def first_difference(a, b):
    for name in sorted(set(a) | set(b)):
        if a.get(name) != b.get(name):
            return name
    return None


def library_with_remarks(folder, log):
    """A library from `log`, with the pilot's own column of remarks."""
    with open(os.path.join(folder, "first.dat"), "wb") as f:
        f.write(log)
    run(["-o", "lib", "first.dat"], folder)
    book = os.path.join(folder, "lib", "logbook.csv")
    lines = open(book, newline="").read().split("\r\n")
    lines = [lines[0] + ",Remarks"] + [ln + f",remark {k}" for k, ln in enumerate(lines[1:-1])] + [""]
    open(book, "w", newline="").write("\r\n".join(lines))
    run(["-o", "lib", "first.dat"], folder)


def scenario(name, first, second, act):
    """Every stop or interrupt of the run converting `second` into a library made from `first`."""
    with tempfile.TemporaryDirectory() as d:
        start = os.path.join(d, "start")
        os.mkdir(start)
        library_with_remarks(start, first)
        with open(os.path.join(d, "second.dat"), "wb") as f:
            f.write(second)
        reference = os.path.join(d, "reference")
        shutil.copytree(start, reference)
        run(["-o", "lib", os.path.join(d, "second.dat")], reference)
        wanted = files_of(os.path.join(reference, "lib"))
        counted = os.path.join(d, "counted")
        shutil.copytree(start, counted)
        _, _, err = run(["count", "-o", "lib", os.path.join(d, "second.dat")], counted, crashrun)
        expect(f"{name}: counting made the library as one run makes it",
               first_difference(files_of(os.path.join(counted, "lib")), wanted), None)
        count = int(re.search(r"file operations: (\d+)", err)[1])
        statuses = set()
        for n in range(1, count + 1):
            trial = os.path.join(d, f"trial{n}")
            shutil.copytree(start, trial)
            status, out, err = run([act, str(n), "-o", "lib", os.path.join(d, "second.dat")], trial, crashrun)
            statuses.add(status)
            if act == "interrupt" and status == 130:
                expect(f"{name}, Ctrl-C at {n}: says how far it came", re.search(
                    r"interrupted: \d+ of the \d+ flights of .* are in the library lib; converting the log again "
                    r"completes it\.", err) is not None, True)
            left = [n for _, _, names in os.walk(trial) for n in names if n.endswith(".part")]
            status, out, _ = run(["--check", os.path.join(trial, "lib")], trial)
            expect(f"{name}, {act} at {n}: --check names what it left", bool(status & 64), bool(left))
            if left and n % 2:
                # What a stopped run left goes with the next run, whichever log it converts.
                with open(os.path.join(trial, "other.dat"), "wb") as f:
                    f.write(whole(flight(T0 + 20 * 86400)))
                run(["-o", "lib", "other.dat"], trial)
                expect(f"{name}, {act} at {n}: the next run removes what it left",
                       [m for _, _, names in os.walk(trial) for m in names if m.endswith(".part")], [])
                continue
            run(["-o", "lib", os.path.join(d, "second.dat")], trial)
            got = files_of(os.path.join(trial, "lib"))
            expect(f"{name}, {act} at operation {n} of {count}, then a whole run: the library as one run makes it "
                   f"(first difference)", first_difference(got, wanted), None)
            shutil.rmtree(trial)
        done = {"stop": "stopped", "interrupt": "interrupted"}[act]
        print(f"{name}: {count} file operations, {done} at each; statuses {sorted(statuses)}")
        # Stopped at once; interrupted while the library changes (130), or before (killed by the signal).
        expect(f"{name}: how the runs ended", statuses <= ({137} if act == "stop" else {130, -signal.SIGINT}), True)


def waiting_and_racing():
    with tempfile.TemporaryDirectory() as d:
        # Ctrl-C while another run holds the library changes nothing.
        with open(os.path.join(d, "log.dat"), "wb") as f:
            f.write(whole(flight(T0)))
        run(["-o", "lib", "log.dat"], d)
        before = files_of(os.path.join(d, "lib"))
        import fcntl
        with open(os.path.join(d, "lib", "records", "kxconvert.lock"), "r+") as held:
            fcntl.flock(held, fcntl.LOCK_EX)
            waiting = subprocess.Popen([kxconvert, "-o", "lib", "log.dat"], cwd=d, stderr=subprocess.PIPE, text=True)
            said = waiting.stderr.readline()
            waiting.send_signal(signal.SIGINT)
            rest = waiting.stderr.read()
            status = waiting.wait(timeout=30)
        expect("waiting: says so", "another kxconvert is changing the library lib; waiting" in said, True)
        expect("Ctrl-C while waiting: status, nothing changed", (status, "nothing was changed" in rest,
                                                                 files_of(os.path.join(d, "lib"))), (130, True, before))
        # Eight runs at once into one library, three rounds; each run its own three flights.
        for k in range(8):
            with open(os.path.join(d, f"pilot{k}.dat"), "wb") as f:
                f.write(whole(b"".join(flight(T0 + 86400 * (k + 1) + 3600 * j, lat=40 + k) for j in range(3))))
        for round_ in range(3):
            runs = [subprocess.Popen([kxconvert, "-q", "-o", "club", f"pilot{k}.dat"], cwd=d, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE) for k in range(8)]
            statuses = [r.wait(timeout=120) for r in runs]
            expect(f"runs at once, round {round_}: every run ends well", statuses, [0] * 8)
        rows = open(os.path.join(d, "club", "logbook.csv")).read().splitlines()[1:]
        names = [r.split(",")[1] for r in rows]
        expect("runs at once: 24 flights, a row and a name each", (len(rows), len(set(names))), (24, 24))
        expect("runs at once: no temporary file left", [n for n in os.listdir(os.path.join(d, "club"))
                                                        if n.endswith(".part")], [])


def flushed_before_named():
    """In the system calls: every file that takes its name was written back
    (sync_file_range or fdatasync) and then passed a barrier (an fsync) before
    the rename, and its folder was synced after."""
    with tempfile.TemporaryDirectory() as d:
        with open(os.path.join(d, "log.dat"), "wb") as f:
            f.write(whole(flight(T0) + flight(T0 + 3600)))
        trace = os.path.join(d, "trace")
        subprocess.run(["strace", "-f", "-y", "-o", trace, "-e",
                        "trace=write,sync_file_range,fdatasync,fsync,rename,renameat,renameat2", kxconvert, "-o",
                        "lib", "log.dat"], cwd=d, capture_output=True, timeout=60)
        events = []
        for line in open(trace):
            call = re.match(r"\d+ +(\w+)\((.*)", line)
            if not call:
                continue
            paths = re.findall(r'<([^>]*)>|"([^"]*)"', call[2])
            events.append((call[1], [p or q for p, q in paths]))
        renamed = 0
        for k, (call, paths) in enumerate(events):
            if not call.startswith("rename"):
                continue
            renamed += 1
            part = paths[0]
            written = max((j for j, (c, p) in enumerate(events[:k]) if c == "write" and p and p[0].endswith(part)),
                          default=-1)
            back = [j for j, (c, p) in enumerate(events[:k]) if j > written and c in ("sync_file_range", "fdatasync")
                    and p and p[0].endswith(part)]
            barrier = [j for j, (c, _) in enumerate(events[:k]) if back and j > back[0] and c == "fsync"]
            folder = os.path.dirname(paths[-1])
            synced = [j for j, (c, p) in enumerate(events) if j > k and c == "fsync" and p and p[0].endswith(folder)]
            expect(f"{os.path.basename(part)}: written back, a barrier, then its name, then its folder synced",
                   (bool(back), bool(barrier), bool(synced)), (True, True, True))
        expect("files took their names", renamed >= 8, True)


first = whole(flight(T0) + flight(T0 + 3600, n=40))
longer = whole(flight(T0, n=60) + flight(T0 + 3600, n=40) + flight(T0 + 7200) + flight(T0 + 10800))
scenario("new flights", first, longer, "stop")
scenario("longer copies", flight(T0 + 3600, n=20) + flight(T0, n=60)[:30 * 32], longer, "stop")  # a cut log
scenario("new flights and longer copies", first, longer, "interrupt")
waiting_and_racing()
flushed_before_named()
finish("checks of the library after stops, interrupts and runs at once held")
