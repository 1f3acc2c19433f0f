#!/usr/bin/env python3
"""The shipped Windows programs (hidapi's Windows back end, hid.dll, wine's
hidclass and winebus) against the simulated instrument emulated as a Linux
hidraw node (kxemu --hidraw, umockdev), under wine. Each case starts a wine
server inside the emulation, waits until wine lists the instrument, runs the
program in an empty folder, and stops the server before the emulation ends.

What this stack does differently from the link seam, and how the programs
handle it: a request goes out as one write of 65 bytes (the report number 0
first) and a reply is one read of 64 bytes; wine drops a report shorter than
the report size, so a short reply never reaches the program (it is a
timeout there). After the instrument is pulled out (a udev remove event) its
reads do not fail but time out: the download ends at its 30 s bound with
"No usable answer from the instrument for 30 s", the whole pages kept.

usage: check_windows_hid.py WINDOWS_BUILD_FOLDER LINUX_BUILD_FOLDER
"""
import os
import shlex
import shutil
import subprocess
import sys
import tempfile

from checks import check_flashing, check_removal, comparable, expect, exported, finish

build, linux = map(os.path.abspath, sys.argv[1:3])
kxemu = os.path.join(linux, "kxemu")


def wine_env(extra=None):
    env = dict(os.environ, TZ="UTC0", WINEDEBUG="-all", **(extra or {}))
    overrides = env.get("WINEDLLOVERRIDES", "")
    env["WINEDLLOVERRIDES"] = ";".join(o for o in (overrides, "cfgmgr32=n,b") if o)
    return env


def run(app, folder, program, args=(), env=None, emulated=True, instrument=True, timeout=300):
    """Status, standard output and error of the Windows program `program` of
    the folder `app`, run in `folder`."""
    words = " ".join(shlex.quote(a) for a in args)
    wait = f"wine {shlex.quote(os.path.join(app, 'kxhidwait.exe'))} >/dev/null 2>&1;" if instrument else ""
    script = (f"wineserver -p 30; wine cmd /c exit >/dev/null 2>&1; {wait} "
              f"wine {shlex.quote(os.path.join(app, program))} {words} </dev/null >out.txt 2>err.txt; "
              "echo $? >status.txt; wineserver -k; wineserver -w")
    command = [kxemu, "--hidraw", "sh", "-c", script] if emulated else ["sh", "-c", script]
    try:
        subprocess.run(command, cwd=folder, env=wine_env(env), stdin=subprocess.DEVNULL, capture_output=True,
                       timeout=timeout)
    except subprocess.TimeoutExpired:
        subprocess.run(["wineserver", "-k"], env=wine_env())
        return None, b"", b""
    read = lambda name: open(os.path.join(folder, name), "rb").read()
    for name in ("out.txt", "err.txt", "status.txt"):
        if not os.path.exists(os.path.join(folder, name)):
            return None, b"", b""
    return int(read("status.txt")), read("out.txt"), read("err.txt")


def download_and_export(app):
    """One full download with a timeout, a late reply, a CRC fault and a wrong
    echo folded in, beside the -sim program's with the same faults."""
    results = {}
    faults = {"KXSIM_FAULTS": "timeout@300:0,late@301:5,crc@302:7,wrongecho@303:9"}
    for emulated in (True, False):
        with tempfile.TemporaryDirectory() as d:
            program = "kxlogreader.exe" if emulated else "kxlogreader-sim.exe"
            status, out, err = run(app, d, program, env=faults, emulated=emulated, instrument=emulated)
            expect(f"download status ({program})", status, 0)
            raw = open(os.path.join(d, "raw.dat"), "rb").read() if os.path.exists(os.path.join(d, "raw.dat")) else b""
            results[emulated] = (comparable(out), raw, exported(d))
    expect("the console shows the same as with the link seam", results[True][0], results[False][0])
    expect("the CRC error shown", b"CRC error\r\ncalculatedCRC=" in results[True][0], True)
    expect("raw.dat the same, 1 MiB", (results[True][1] == results[False][1], len(results[True][1])), (True, 1 << 20))
    expect("the exports the same", (results[True][2] == results[False][2], len(results[True][2])), (True, 4))


def removal(app):
    # Wine does not fail the reads of a handle whose device went away: they
    # time out, and the download ends at its 30 s bound.
    said = check_removal(lambda d, program, env: run(app, d, program, env=env), "kxlogreader.exe",
                         rb"(?:The instrument stopped answering|No usable answer from the instrument)[^\r\n]*")
    print("pulled out, kxlogreader.exe says:", said)


def flashing(app):
    make = lambda d, *args: subprocess.run(["wine", os.path.join(app, "kxsim-firmware.exe"), *args], cwd=d,
                                           env=wine_env(), capture_output=True)
    check_flashing(lambda d, program, env: run(app, d, program, env=env), "kxflash.exe", make)


def no_instrument(app):
    with tempfile.TemporaryDirectory() as d:
        status, out, err = run(app, d, "kxflash.exe", env={"KXSIM_ABSENT": "1"}, instrument=False)
        expect("no instrument: kxflash", (status, out.endswith(b"Quellon device not found!\r\n")), (2, True))
        status, out, err = run(app, d, "kxlogreader.exe", env={"KXSIM_ABSENT": "1"}, instrument=False)
        expect("no instrument: kxlogreader", b"Device not found \r\nReading data \r\n" in out, True)


if not os.access(kxemu, os.X_OK):
    sys.exit(f"{kxemu} is missing: build the Linux tree first (scripts/test-windows does)")
app = tempfile.mkdtemp()
for name in ("kxlogreader.exe", "kxflash.exe", "kxlogreader-sim.exe", "kxsim-firmware.exe", "kxhidwait.exe",
             "winehid/cfgmgr32.dll"):
    shutil.copy(os.path.join(build, name), app)
# wine 8 starts its SDL bus, and then never its udev one, unless told not to.
subprocess.run(["wine", "reg", "add", r"HKLM\System\CurrentControlSet\Services\winebus", "/v", "Enable SDL", "/t",
                "REG_DWORD", "/d", "0", "/f"], env=wine_env(), capture_output=True)
subprocess.run(["wineserver", "-k"], env=wine_env())
subprocess.run(["wineserver", "-w"], env=wine_env())
try:
    for case in (no_instrument, flashing, download_and_export, removal):
        case(app)
finally:
    shutil.rmtree(app)
finish("runs of the Windows programs over wine's HID stack ended as expected")
