#!/usr/bin/env python3
"""Runs the -sim programs as a user would, each in an empty folder, and checks
their exit statuses and the files they leave. Every run is bounded in time,
so a program that would wait for ever fails the check instead of hanging.

usage: check_programs.py BUILD_FOLDER
"""
import os
import subprocess
import sys
import tempfile

from checks import expect, finish

build = os.path.abspath(sys.argv[1])


def run(program, args=(), env=None, folder=None):
    full_env = dict(os.environ, **(env or {}))
    try:
        done = subprocess.run([os.path.join(build, program), *args], cwd=folder, env=full_env,
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=20)
    except subprocess.TimeoutExpired:
        return None
    return done.returncode


def folders(path):
    return sorted(e.name for e in os.scandir(path) if e.is_dir())


def logreader_cases():
    with tempfile.TemporaryDirectory() as d:
        expect("download and export", run("kxlogreader-sim", folder=d), 0)
        expect("raw.dat size", os.path.getsize(os.path.join(d, "raw.dat")), 1 << 20)
        exported = folders(d)
        expect("one export folder", len(exported), 1)
        if exported:
            expect("two flights as KML and CSV", len(os.listdir(os.path.join(d, exported[0]))), 4)
        expect("export only, again", run("kxlogreader-sim", ["x"], folder=d), 0)

    with tempfile.TemporaryDirectory() as d:
        expect("nothing to export", run("kxlogreader-sim", ["x"], folder=d), 2)
        expect("no instrument, no raw.dat", run("kxlogreader-sim", env={"KXSIM_ABSENT": "1"}, folder=d), 2)
        expect("no folder without raw.dat", os.listdir(d), [])
        os.mkfifo(os.path.join(d, "raw.dat"))
        expect("raw.dat a pipe, export", run("kxlogreader-sim", ["x"], folder=d), 2)
        expect("raw.dat a pipe, download", run("kxlogreader-sim", folder=d), 1)


def flasher_cases():
    with tempfile.TemporaryDirectory() as d:
        expect("sample firmware", run("kxsim-firmware", ["KX_1.05a_3F2C.qln"], folder=d), 0)
        expect("flashed", run("kxflash-sim", env={"KXSIM_FLASH_OUT": "flash.bin"}, folder=d), 0)
        with open(os.path.join(d, "KX_1.05a_3F2C.qln"), "rb") as f:
            firmware = f.read()
        with open(os.path.join(d, "flash.bin"), "rb") as f:
            flash = f.read()
        graphics = slice(128 * 4096, len(firmware))
        expect("firmware area as sent", flash[:26 * 4096] == firmware[:26 * 4096], True)
        expect("graphics area as sent", flash[graphics] == firmware[graphics], True)
        expect("refused part", run("kxflash-sim", env={"KXSIM_FAULTS": "crc@3460:17"}, folder=d), 2)
        expect("inconsistent flash", run("kxflash-sim", env={"KXSIM_INTEGRITY": "mismatch"}, folder=d), 2)
        expect("no integrity answer", run("kxflash-sim", env={"KXSIM_FAULTS": "timeout@c18"}, folder=d), 2)
        expect("another model", run("kxflash-sim", env={"KXSIM_HW": "1.7"}, folder=d), 2)
        # The second Ctrl-C comes with the closing request and ends the program at once.
        expect("Ctrl-C twice", run("kxflash-sim", env={"KXSIM_FAULTS": "sigint@12,sigint@13"}, folder=d), -2)
        os.mkdir(os.path.join(d, "fw.qln"))
        expect("a folder as the firmware", run("kxflash-sim", ["fw.qln"], folder=d), 2)
        os.mkfifo(os.path.join(d, "pipe.qln"))
        expect("a pipe as the firmware", run("kxflash-sim", ["pipe.qln"], folder=d), 2)
    with tempfile.TemporaryDirectory() as d:
        expect("no instrument", run("kxflash-sim", env={"KXSIM_ABSENT": "1"}, folder=d), 2)
        expect("cannot open", run("kxflash-sim", env={"KXSIM_OPEN_FAIL": "1"}, folder=d), 255)
        expect("no HID library", run("kxflash-sim", env={"KXSIM_INIT_FAIL": "1"}, folder=d), 1)
        expect("no firmware file", run("kxflash-sim", folder=d), 2)


logreader_cases()
flasher_cases()
finish("program runs ended as expected")
