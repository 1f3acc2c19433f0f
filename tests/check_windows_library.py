#!/usr/bin/env python3
"""kxconvert.exe under wine, several at once into one library, as a club's
computers or two windows opened by mistake start them: each run waits for
the one before, every flight gets one row and one name, and no temporary
file is left. (Ctrl-C at every file operation runs in kxtests.exe.)

usage: check_windows_library.py WINDOWS_BUILD_FOLDER
"""
import os
import subprocess
import sys
import tempfile

from checks import expect, finish, record, whole

build = os.path.abspath(sys.argv[1])
T0 = 1714557600  # 2024-05-01 10:00:00 UTC
RUNS = 6


def flight(start, lat, n=30):
    return b"".join(record(start + i * 4, lat + i * 1e-4, 8.0, 80, 300, 45, 9, 500, 80, 90, 10, 70, 9000, 290, 0)
                    for i in range(n))


with tempfile.TemporaryDirectory() as d:
    for k in range(RUNS):
        with open(os.path.join(d, f"pilot{k}.dat"), "wb") as f:
            f.write(whole(b"".join(flight(T0 + 86400 * (k + 1) + 3600 * j, 40.0 + k) for j in range(3))))
    env = dict(os.environ, TZ="CET-1CEST", WINEDEBUG="-all")
    for round_ in range(2):
        runs = [subprocess.Popen(["wine", os.path.join(build, "kxconvert.exe"), "-q", "-o", "club", f"pilot{k}.dat"],
                                 cwd=d, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                 env=env) for k in range(RUNS)]
        results = [(r.wait(timeout=300), r.stderr.read().decode(errors="replace")) for r in runs]
        expect(f"round {round_}: every run ends well", [s for s, _ in results], [0] * RUNS)
        print(f"round {round_}: {sum('waiting for it to finish' in e for _, e in results)} of {RUNS} runs waited")
    rows = open(os.path.join(d, "club", "logbook.csv"), newline="").read().split("\r\n")[1:-1]
    names = [r.split(",")[1] for r in rows]
    expect("a row and a name for each of the flights", (len(rows), len(set(names))), (3 * RUNS, 3 * RUNS))
    expect("no temporary file left", [n for _, _, files in os.walk(os.path.join(d, "club")) for n in files
                                      if n.endswith(".part")], [])
finish("runs of kxconvert.exe at once kept the library whole")
