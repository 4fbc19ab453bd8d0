#!/usr/bin/env python3
"""Runs one language test script through qel and compares its output.

Expected output is written next to the code that produces it, as comments:
    print 1 + 2  ;== 3
Every `;==` comment holds one expected line, in order. A script with a
sibling .out file is compared with that file instead. A comment line
`;exit: N` sets the expected exit status (0 when absent). The script runs
with HOME pointing at a fresh temporary folder, its standard input the
sibling .in file when there is one (else empty).
"""
import argparse
import difflib
import os
import re
import subprocess
import sys
import tempfile

EXPECT = re.compile(r";==(?: (.*))?$")
EXIT = re.compile(r"^\s*;exit:\s*(-?\d+)\s*$")


def expectations(path):
    out_file = os.path.splitext(path)[0] + ".out"
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    status = 0
    expected = []
    for line in lines:
        m = EXIT.match(line)
        if m:
            status = int(m.group(1)) % 256
            continue
        m = EXPECT.search(line)
        if m:
            expected.append(m.group(1) or "")
    if os.path.exists(out_file):
        with open(out_file, encoding="utf-8") as f:
            text = f.read()
    else:
        text = "".join(e + "\n" for e in expected)
    return text, status


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--qel", required=True)
    ap.add_argument("--timeout", type=float, default=120)
    ap.add_argument("script")
    args = ap.parse_args()

    want, want_status = expectations(args.script)
    with tempfile.TemporaryDirectory() as home:
        env = dict(os.environ, HOME=home)
        try:
            in_file = os.path.splitext(args.script)[0] + ".in"
            with open(in_file if os.path.exists(in_file) else os.devnull, "rb") as stdin:
                run = subprocess.run([args.qel, os.path.abspath(args.script)], capture_output=True,
                                     env=env, stdin=stdin, timeout=args.timeout)
        except subprocess.TimeoutExpired:
            print(f"FAIL: {args.script} did not finish in {args.timeout} s")
            return 1
    got = run.stdout.decode("utf-8", errors="replace")
    ok = True
    if got != want:
        ok = False
        sys.stdout.writelines(difflib.unified_diff(
            want.splitlines(True), got.splitlines(True), "expected", "actual"))
    if run.returncode != want_status:
        ok = False
        print(f"exit status {run.returncode}, expected {want_status}")
    if run.stderr:
        sys.stdout.write("stderr:\n" + run.stderr.decode("utf-8", errors="replace"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
