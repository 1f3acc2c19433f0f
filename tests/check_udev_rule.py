#!/usr/bin/env python3
"""Checks the udev rule: udevadm verify where the installed udev has it, and
always a syntax check of its own (keys, operators, quoting), that it names the
instrument's identifiers, and that it grants access through uaccess rather
than through open modes."""
import re
import shutil
import subprocess
import sys

MATCH_KEYS = {"SUBSYSTEM", "SUBSYSTEMS", "KERNEL", "KERNELS", "ACTION", "DRIVER", "DRIVERS"}
PARAM_KEYS = {"ATTR", "ATTRS", "ENV"}
ASSIGN_KEYS = {"TAG", "MODE", "GROUP", "OWNER", "SYMLINK", "RUN"}
PAIR = re.compile(r'^\s*([A-Z]+)(\{([A-Za-z_]+)\})?\s*(==|!=|\+=|-=|:=|=)\s*"([^"]*)"\s*$')


def udevadm_verify(path):
    udevadm = shutil.which("udevadm")
    if not udevadm:
        return
    if subprocess.run([udevadm, "verify", "--help"], capture_output=True).returncode != 0:
        return  # udev before 253 has no verify
    subprocess.run([udevadm, "verify", "--resolve-names=never", path], check=True)


def check(path):
    rules = []
    for number, line in enumerate(open(path, encoding="ascii"), 1):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        pairs = {}
        for item in line.split(","):
            m = PAIR.match(item)
            assert m, f"{path}:{number}: cannot read {item.strip()!r}"
            key, _, param, op, value = m.groups()
            known = key in MATCH_KEYS | ASSIGN_KEYS or (key in PARAM_KEYS and param)
            assert known, f"{path}:{number}: unknown key {key}"
            if key in MATCH_KEYS or key in PARAM_KEYS and key != "ENV" or (key == "ENV" and op == "=="):
                assert op in ("==", "!="), f"{path}:{number}: {key} is matched with == or !="
            pairs[(key, param)] = (op, value)
        rules.append(pairs)
    assert rules, "no rule"
    subsystems = set()
    for r in rules:
        vendor = r.get(("ATTR", "idVendor")) or r.get(("ATTRS", "idVendor"))
        product = r.get(("ATTR", "idProduct")) or r.get(("ATTRS", "idProduct"))
        assert vendor == ("==", "02ab") and product == ("==", "0031"), f"rule {r} does not name 02ab:0031"
        assert r.get(("TAG", None)) == ("+=", "uaccess"), f"rule {r} does not tag uaccess"
        assert ("MODE", None) not in r, f"rule {r} sets a mode"
        subsystems.add(r[("SUBSYSTEM", None)][1])
    assert subsystems == {"usb", "hidraw"}, subsystems
    name = path.rsplit("/", 1)[-1]
    m = re.match(r"^([0-9]{2})-[a-z0-9+-]+\.rules$", name)
    assert m and int(m.group(1)) < 73, f"{name}: uaccess needs a number below 73, then a name"


if __name__ == "__main__":
    udevadm_verify(sys.argv[1])
    check(sys.argv[1])
    print(f"{sys.argv[1]}: ok")
