#!/usr/bin/env python3
"""Runs kxlogreader-sim on its sample log in a fresh folder and reads what it
wrote with real readers: Python's csv module for the tables, xmllint and GDAL's
ogrinfo for the KML documents. Each flight's KML must hold as many point
placemarks and track vertices as its CSV has rows."""
import csv
import glob
import os
import re
import subprocess
import sys
import tempfile


def check_csv(path):
    with open(path, newline="", encoding="ascii") as f:
        rows = list(csv.reader(f))
    assert rows[0][0].endswith(" points from Kestrix+"), f"{path}: title {rows[0]!r}"
    assert len(rows[1]) == 14, f"{path}: header has {len(rows[1])} columns"
    body = [r for r in rows[2:] if r]
    assert body, f"{path}: no rows"
    for r in body:
        assert len(r) == 14, f"{path}: row with {len(r)} fields: {r!r}"
        float(r[2]), float(r[3]), float(r[12])
    return len(body)


def check_kml(path, points):
    subprocess.run(["xmllint", "--noout", path], check=True)
    out = subprocess.run(["ogrinfo", "-ro", "-al", path], check=True, capture_output=True, text=True).stdout
    features = len(re.findall(r"^\s*POINT Z? ?\(", out, re.M))
    assert features == points, f"{path}: {features} point features, {points} CSV rows"
    lines = re.findall(r"LINESTRING Z? ?\(([^)]*)\)", out)
    assert len(lines) == 1, f"{path}: {len(lines)} line strings"
    vertices = len(lines[0].split(","))
    assert vertices == points, f"{path}: track of {vertices} vertices, {points} CSV rows"


def main():
    program = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory() as work:
        env = dict(os.environ, TZ="UTC0")
        subprocess.run([program], cwd=work, env=env, check=True, stdout=subprocess.DEVNULL)
        tables = sorted(glob.glob(os.path.join(work, "*", "*.csv")))
        assert len(tables) == 2, f"expected two flights, found {tables}"
        for table in tables:
            points = check_csv(table)
            check_kml(table[:-4] + ".kml", points)
            print(f"{os.path.basename(table)}: {points} points, CSV, KML and track agree")


if __name__ == "__main__":
    main()
