"""What the check scripts share: the failures gathered and reported, the
log's records as the instrument stores them and as a reader must decode them,
the console compared without what depends on the moment, the files of an
export folder, and the flashing cases that every stack is taken through."""
import math
import os
import re
import struct
import sys
import tempfile

failures = []


def expect(what, actual, wanted):
    if actual != wanted:
        shown = lambda v: repr(v) if len(repr(v)) < 600 else repr(v)[:300] + " ... " + repr(v)[-250:]
        failures.append(f"{what}: got {shown(actual)}, wanted {shown(wanted)}")


def finish(what):
    """Prints the failures and ends the script: 0 when there were none."""
    for f in failures:
        print("FAILED:", f)
    print(f"{'all' if not failures else 'not all'} {what}")
    sys.exit(1 if failures else 0)


# A point record as the log holds it, big-endian: type 1, time (s since 1970
# UTC), latitude and longitude (floats), speed (km/h, 250 and more: none),
# GPS altitude, course (degrees / 2), satellites, engine speed (rpm / 10),
# T1, T2, outside air, fuel, pressure, altitude, climb rate (0.1 m/s).
RECORD = ">BIffBhBBHhhbBHhh"
# Times strictly between these two are the instrument's.
EARLIEST, LATEST = 1614890433, 1854890433


def record(time, lat, lon, speed=0, alt_gps=0, course=0, sats=0, rpm=0, t1=0, t2=0, oat=0, fuel=0, pressure=0,
           alt=0, vario=0):
    """A point record with the values as stored (course and engine speed scaled down)."""
    return struct.pack(RECORD, 1, time, lat, lon, speed, alt_gps, course, sats, rpm, t1, t2, oat, fuel, pressure, alt,
                       vario)


def decode(rec):
    """The values of a point record as a reader of the log must see them."""
    _, t, lat, lon, speed, alt_gps, course, sats, rpm, t1, t2, oat, fuel, pressure, alt, vario = \
        struct.unpack(RECORD, rec)
    return dict(time=t, lat=lat, lon=lon, speed=0 if speed >= 250 else speed, alt_gps=alt_gps, course=course * 2,
                sats=sats, rpm=rpm * 10 % 65536, t1=t1, t2=t2, oat=oat, fuel=fuel, pressure=pressure, alt=alt,
                vario=vario)


def usable(p):
    """A position that maps and scorers take."""
    return p["lat"] != 0 and math.isfinite(p["lat"]) and math.isfinite(p["lon"]) and abs(p["lat"]) <= 90 \
        and abs(p["lon"]) <= 180


def points(log):
    """The decoded point records of a log, in file order."""
    return [decode(log[k:k + 32]) for k in range(0, len(log) - 31, 32)
            if log[k] == 1 and EARLIEST < struct.unpack(">I", log[k + 1:k + 5])[0] < LATEST]


def whole(log):
    """A log as a complete download holds it: 1 MiB, erased space after the records."""
    return log + b"\xff" * ((1 << 20) - len(log))


def comparable(text):
    """The console output without the export folder's name and the dots of
    reads that timed out (on the real clock a busy machine can add one; the
    link seam's tests pin them exactly)."""
    text = re.sub(rb"Directory (created ?:|already created) \S+", b"Directory", text)
    return re.sub(rb"(?<=[%\n])\.+", b"", text)


def exported(folder):
    """The files of the export folders in `folder`, by name."""
    return {f.name: open(f.path, "rb").read() for d in os.scandir(folder) if d.is_dir() for f in os.scandir(d.path)}


def check_removal(run, program, said):
    """The instrument pulled out at request 700, in the sixth page of the
    download, through `run(folder, program, env)`: status 1, the "raw.dat" of
    an earlier download as it was, the five whole pages read beside it, no
    export, and one message matching `said`, which is returned."""
    with tempfile.TemporaryDirectory() as d:
        earlier = bytes(range(256)) * 64
        with open(os.path.join(d, "raw.dat"), "wb") as f:
            f.write(earlier)
        status, out, err = run(d, program, {"KXSIM_REMOVE_AT": "700"})
        expect("pulled out: status", status, 1)
        expect("pulled out: raw.dat as it was", open(os.path.join(d, "raw.dat"), "rb").read() == earlier, True)
        size = os.path.getsize(os.path.join(d, "raw-partial.dat"))
        expect("pulled out: whole pages kept beside it", (size % 4096, size // 4096), (0, 5))
        expect("pulled out: both files named", err.endswith(
            b'"raw.dat" is as it was; the 5 whole pages read are in "raw-partial.dat".\n'), True)
        found = re.findall(said, out)
        expect("pulled out: the message", len(found), 1)
        expect("pulled out: no export", b"Reading data" in out, False)
        return found[0].decode() if found else "nothing"


def check_flashing(run, program, make_firmware, report=None):
    """A good flashing, a refused part and a failed verification through
    `run(folder, program, env)`, which gives status, output and error;
    `report(folder)`, where the stack has one, tells what the instrument saw."""
    seen = {"KXEMU_REPORT": "report.txt"} if report else {}
    with tempfile.TemporaryDirectory() as d:
        make_firmware(d, "KX_1.05a_3F2C.qln", "20000", "6000")
        status, out, _ = run(d, program, {"KXSIM_FLASH_OUT": "flash.bin", **seen})
        expect("flashing: status", status, 0)
        firmware = open(os.path.join(d, "KX_1.05a_3F2C.qln"), "rb").read()
        flash = open(os.path.join(d, "flash.bin"), "rb").read() if os.path.exists(os.path.join(d, "flash.bin")) else b""
        expect("flashing: firmware area as in the file", flash[:20000] == firmware[:20000], True)
        expect("flashing: graphics area as in the file", flash[128 * 4096:len(firmware)] == firmware[128 * 4096:], True)
        expect("flashing: consistent", b"Firmware and Graphics data are consistent :)" in out, True)
        if report:
            expect("flashing: restarted", report(d)["restarts"], 10)

        status, out, _ = run(d, program, {"KXSIM_FAULTS": "crc@3455:3", **seen})
        expect("refused part: status", status, 2)
        expect("refused part: the line", re.search(rb"Transmission fail Page:3455, Part:3, calculatedCRC:[0-9A-F]{2}, "
                                                   rb"ReceivedCRC:[0-9A-F]{2}\r\n\r\n$", out) is not None, True)
        if report:
            expect("refused part: no verification", "command 17" in report(d), False)

        status, out, _ = run(d, program, {"KXSIM_INTEGRITY": "mismatch", **seen})
        expect("verification fails: status", status, 2)
        expect("verification fails: the line",
               b"Something went wrong - Graphics data aren't consistent with firmware\r\n" in out, True)
        if report:
            expect("verification fails: no restart", report(d)["restarts"], 0)
