#!/usr/bin/env python3
"""The Windows zip as its README.txt tells a user to use it, under wine: the
zip unpacked into a folder of one's own, the programs found in the folder
the guide names, the settings file made where the guide says with its
example, and every command of the guide run there from a command prompt,
as written, the library landing outside the programs' folder. Then kxconvert.exe's key wait: in a console of its own
(wine gives a program started from a terminal one, as Windows gives one to a
double-clicked program) it waits for a key; started from a command prompt it
never does.

usage: check_windows_guide.py ZIP RAW.DAT
"""
import csv
import os
import pty
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

from checks import expect, finish

archive, raw = map(os.path.abspath, sys.argv[1:3])
env = dict(os.environ, WINEDEBUG="-all", TZ="CET-1CEST")


def in_cmd(folder, command):
    """A command typed at a command prompt in `folder`, as it stands (in a
    batch file, so that no quoting of ours comes between): status and output."""
    with open(os.path.join(folder, "typed.bat"), "w", newline="\r\n") as f:
        f.write("@" + command + "\n")
    done = subprocess.run(["wine", "cmd", "/c", "typed.bat"], cwd=folder, env=env, stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=120)
    return done.returncode, done.stdout.decode("utf-8", "replace") + done.stderr.decode("utf-8", "replace")


def windows_path(path, way):
    """A path as wine's Windows programs name it ("-w") or as Linux does ("-u")."""
    return subprocess.run(["winepath", way, path], env=env, capture_output=True, text=True).stdout.strip()


def follow_the_guide(top):
    unpacked = os.listdir(top)
    expect("the zip holds one folder", len(unpacked), 1)
    guide = open(os.path.join(top, unpacked[0], "README.txt"), newline="").read()
    expect("README.txt has Windows line ends", "\n" in guide.replace("\r\n", ""), False)
    # Step 1: "Unpack the zip into a folder of your own, for example C:\KX.
    # The programs are then in C:\KX\<folder>".
    said = re.search(r"The\s+programs are then in C:\\KX\\(\S+),", guide)
    expect("the guide says where the programs are", said is not None, True)
    folder = os.path.join(top, said.group(1)) if said else top
    expect("the programs are there", sorted(n for n in os.listdir(folder) if n.endswith(".exe")),
           ["kxconvert.exe", "kxflash.exe", "kxlogreader.exe"])
    shutil.copy(raw, os.path.join(folder, "raw.dat"))  # as an earlier download left it
    # The settings file: its folder made by the guide's mkdir, its text the guide's example.
    mkdir = re.findall(r"^ {7}(mkdir .*)\r$", guide, re.M)
    example = re.search(r"write into it, for example:\r\n\r\n((?: {7}.*\r\n)+)", guide)
    expect("the guide makes the settings' folder and shows an example", (len(mkdir), example is not None), (1, True))
    for command in mkdir:
        in_cmd(folder, command)
    settings = windows_path(in_cmd(folder, "echo %APPDATA%\\kxtools\\kxconvert.conf")[1].strip(), "-u")
    if example:
        with open(settings, "w", newline="\r\n") as f:
            f.write("".join(line[7:] + "\n" for line in example.group(1).split("\r\n") if line))
    commands = re.findall(r"^ {7}(kx\S+(?: [^ (][^(\r]*?)?)\s*(?:\(.*\))?\r$", guide, re.M)
    expect("the guide's commands", commands, ["kxlogreader", "kxconvert -f igc,gpx,kml,html -o C:\\KX\\flights",
                                              "kxflash", 'kxflash "KX 1.05a.qln"'])
    for command in commands:
        # C:\KX is where the zip was unpacked: here the temporary folder.
        status, out = in_cmd(folder, command.replace("C:\\KX", windows_path(top, "-w")))
        # No instrument here: the programs start, say so, and end. A name in
        # quotes reaches kxflash as one argument.
        expect(f"'{command}' runs from that folder", "is not recognized" not in out and bool(out) and
               "takes one firmware file name" not in out, True)
    os.remove(settings)  # the wine prefix is shared with the other tests
    flights = os.path.join(top, "flights")
    made = sorted(os.listdir(flights)) if os.path.isdir(flights) else []
    expect("the library outside the programs' folder: index, logbook, and KML with the other files",
           ([n for n in made if not n.startswith("2024")], {n[n.rfind("."):] for n in made if n.startswith("2024")}),
           (["index.html", "logbook.csv", "records"], {".igc", ".gpx", ".kml", ".html"}))
    if "logbook.csv" in made:
        with open(os.path.join(flights, "logbook.csv"), newline="", encoding="utf-8-sig") as f:
            aircraft = {row["Aircraft"] for row in csv.DictReader(f)}
        igc = open(os.path.join(flights, next(n for n in made if n.endswith(".igc"))), "rb").read()
        expect("the example's pilot and aircraft in the logbook and the IGC files",
               (aircraft, b"Anna Example" in igc), ({"Paramotor"}, True))
    for word in ("kxlogreader --help", "kxflash --help", "kxconvert --help"):
        expect(f"'{word}'", in_cmd(folder, word)[1].startswith("Usage: "), True)
    return folder


def in_terminal(folder, argv, key_after=None, limit=20):
    """Runs `argv` under wine in a terminal of its own; how long it ran, and
    whether it was still running when a key was sent after `key_after` s."""
    pid, fd = pty.fork()
    if pid == 0:
        os.chdir(folder)
        os.execvpe("wine", ["wine", *argv], env)
    start, waited = time.time(), False
    while time.time() - start < limit:
        if select.select([fd], [], [], 0.2)[0]:
            try:
                os.read(fd, 4096)
            except OSError:
                pass
        if os.waitpid(pid, os.WNOHANG)[0]:
            return time.time() - start, waited
        if key_after is not None and time.time() - start > key_after and not waited:
            waited = True
            os.write(fd, b"x")
    os.kill(pid, 9)
    os.waitpid(pid, 0)
    return None, waited


def key_wait(folder):
    args = ["kxconvert.exe", "-q", "-o", "waits", "raw.dat"]
    # A console of its own: the run ends only once a key is pressed.
    ran, waited = in_terminal(folder, args, key_after=8)
    expect("kxconvert.exe in a window of its own waits for a key", (ran is not None and ran >= 8, waited), (True, True))
    expect("...and has written its files before", os.path.exists(os.path.join(folder, "waits", "logbook.csv")), True)
    # From a command prompt, the window is the prompt's: no wait.
    ran, _ = in_terminal(folder, ["cmd", "/c", "kxconvert.exe -q -o prompt raw.dat"])
    expect("kxconvert.exe from a command prompt ends by itself", ran is not None and ran < 8, True)


with tempfile.TemporaryDirectory() as d:
    with zipfile.ZipFile(archive) as z:
        z.extractall(d)
    subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
    folder = follow_the_guide(d)
    key_wait(folder)
    subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
finish("steps of README.txt and key waits of kxconvert.exe held under wine")
