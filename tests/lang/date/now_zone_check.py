#!/usr/bin/env python3
"""Checks `now/zone` and the zone that `now` molds with against `date +%z`
under several TZ settings, among them offsets with quarter hours and
offsets west of UTC that are not whole hours.

Usage: now_zone_check.py --qel path/to/qel
"""
import argparse
import os
import subprocess
import sys
import tempfile

ZONES = ["UTC", "Asia/Kathmandu", "America/St_Johns", "Asia/Kolkata", "America/Los_Angeles",
         "Pacific/Chatham", "Australia/Eucla", "Pacific/Kiritimati"]

SCRIPT = "Qel []\nprint mold now/zone\nprint mold now\n"


def expected(z):
    """The time! text and the mold suffix of a +HHMM offset."""
    sign = "-" if z[0] == "-" else ""
    hours, minutes = int(z[1:3]), int(z[3:5])
    text = f"{sign}{hours}:{minutes:02d}:00"
    suffix = "" if hours == 0 and minutes == 0 else f"{'-' if sign else '+'}{hours:02d}:{minutes:02d}"
    return text, suffix


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--qel", required=True)
    args = ap.parse_args()
    failures = 0
    with tempfile.TemporaryDirectory() as home:
        script = os.path.join(home, "now_zone.qel")
        with open(script, "w") as f:
            f.write(SCRIPT)
        for tz in ZONES:
            env = dict(os.environ, TZ=tz, HOME=home)
            zone = subprocess.run(["date", "+%z"], env=env, capture_output=True, text=True).stdout.strip()
            run = subprocess.run([args.qel, script], env=env, capture_output=True, text=True, timeout=60)
            lines = run.stdout.splitlines()
            text, suffix = expected(zone)
            ok = run.returncode == 0 and len(lines) == 2 and lines[0] == text
            ok = ok and (lines[1].endswith(suffix) if suffix else lines[1][-3] == ":")
            if not ok:
                failures += 1
                print(f"{tz}: date +%z gives {zone}, qel printed {lines!r} (status {run.returncode})")
    if failures:
        sys.exit(1)
    print(f"now/zone agrees with date +%z under {len(ZONES)} zones")


if __name__ == "__main__":
    main()
