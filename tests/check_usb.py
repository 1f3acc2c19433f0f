#!/usr/bin/env python3
"""The shipped programs (real hidapi and libusb) against the simulated
instrument emulated as a USB device (build/kxemu, umockdev at the usbfs
level). Each run is bounded in time; each case runs in an empty folder.

What the real stack does that the link seam does not, and the programs
handle: hidapi's libusb back end answers every failure with the sentence
"hid_error is not implemented yet" (shown as "unknown error"); a failed IN
transfer is resubmitted and the read returns 0 after its timeout, never -1,
so such a read is repeated like a timeout; -1 comes only once the device is
gone, and then at once for every read.

usage: check_usb.py BUILD_FOLDER
"""
import os
import subprocess
import sys
import tempfile

from checks import check_flashing, check_removal, comparable, expect, finish

build = os.path.abspath(sys.argv[1])


def run(folder, program, args=(), env=None, emulated=True, timeout=180):
    command = [os.path.join(build, program), *args]
    if emulated:
        command.insert(0, os.path.join(build, "kxemu"))
    full_env = dict(os.environ, TZ="UTC", **(env or {}))
    # Under the preload library an AddressSanitizer build cannot have its
    # runtime first, and GLib's lasting allocations are no leaks of ours.
    asan = full_env.get("ASAN_OPTIONS", "")
    full_env["ASAN_OPTIONS"] = ":".join(o for o in (asan, "verify_asan_link_order=0", "detect_leaks=0") if o)
    process = subprocess.Popen(command, cwd=folder, env=full_env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        out, err = process.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        # kxemu stops the program and removes its testbed folder when told to stop.
        process.terminate()
        try:
            out, err = process.communicate(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            out, err = process.communicate()
        return None, out, err
    return process.returncode, out, err


def report(folder):
    seen = {"used": []}
    with open(os.path.join(folder, "report.txt")) as f:
        for line in f:
            key, *value = line.split()
            if key == "used":
                seen["used"].append(value[0])
            elif key == "command":
                seen[f"command {value[0]}"] = int(value[1])
            else:
                seen[key] = int(value[0])
    return seen


def download_and_export():
    # A log of our own, and every fault that is repeated away, in one download.
    log = bytes((i * 7 + i // 4096) & 0xFF for i in range(300 * 1024))
    faults = "crc@300:5x3,timeout@301:0,wrongecho@302:7,readerror@303:9,late@304:0,short@305:1,wrongcode@306:2"
    outputs = {}
    for emulated in (True, False):
        with tempfile.TemporaryDirectory() as d:
            with open(os.path.join(d, "served.bin"), "wb") as f:
                f.write(log)
            env = {"KXSIM_LOG": "served.bin", "KXSIM_FAULTS": faults, "KXEMU_REPORT": "report.txt"}
            program = "kxlogreader" if emulated else "kxlogreader-sim"
            status, out, err = run(d, program, env=env, emulated=emulated)
            outputs[emulated] = comparable(out)
            expect(f"download status ({program})", status, 0)
            if emulated:
                with open(os.path.join(d, "raw.dat"), "rb") as f:
                    raw = f.read()
                expect("raw.dat is the served log", raw == log + b"\xff" * ((1 << 20) - len(log)), True)
                seen = report(d)
                expect("one identification, then the download", (seen["command 2"], seen["command 14"] >= 32768),
                       (1, True))
                expect("export folder made", len([e for e in os.scandir(d) if e.is_dir()]), 1)
    expect("the console shows the same as with the link seam", outputs[True], outputs[False])


def removal_during_download():
    # libusb fails every read of a device that is gone.
    check_removal(lambda d, program, env: run(d, program, env=env), "kxlogreader",
                  rb"The instrument stopped answering: reading from it failed 5 times in a row \(unknown error\)")


def flashing():
    make = lambda d, *args: run(d, "kxsim-firmware", args, emulated=False)
    check_flashing(lambda d, program, env: run(d, program, env=env), "kxflash", make, report)


def no_instrument_and_two():
    with tempfile.TemporaryDirectory() as d:
        status, out, err = run(d, "kxflash", env={"KXSIM_ABSENT": "1"})
        expect("no instrument: kxflash", (status, out.endswith(b"Quellon device not found!\r\n")), (2, True))
        status, out, err = run(d, "kxlogreader", env={"KXSIM_ABSENT": "1"})
        expect("no instrument: kxlogreader", b"Device not found \r\nReading data \r\n" in out, True)
        # Both programs open the first instrument that hidapi lists, one of the two.
        status, out, err = run(d, "kxflash", env={"KXEMU_COUNT": "2", "KXSIM_HW": "1.7", "KXEMU_REPORT": "report.txt"})
        flasher_used = report(d)["used"]
        expect("two instruments: kxflash talks to one", (len(flasher_used), b"Kestrix+ found" in out), (1, True))
        status, out, err = run(d, "kxlogreader", env={"KXEMU_COUNT": "2", "KXSIM_REMOVE_AT": "3",
                                                      "KXEMU_REPORT": "report.txt"})
        expect("two instruments: kxlogreader talks to the same", report(d)["used"], flasher_used)


for case in (flashing, no_instrument_and_two, removal_during_download, download_and_export):
    case()
finish("runs over the emulated USB instrument ended as expected")
