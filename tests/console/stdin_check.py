#!/usr/bin/env python3
"""ask, input, input-stdin and read-stdin on a standard input that is not
a terminal: lines come without a prompt and without their line feed (a CR
before it stays), the end of the input gives none, read-stdin fills a
binary of any size."""
import argparse
import os
import subprocess
import sys
import tempfile

SCRIPT = r'''Qel []
print mold ask "never shown: "
print mold input
print mold input-stdin
b: make binary! 0
read-stdin b 5
print mold b
e: try [read-stdin b -1]
print [e/id e/arg1]
print mold input
print mold input
print mold input
'''
INPUT = b"first\r\nsecond\nthird\n12345rest\n\xc3\xa9t\xc3\xa9"
WANT = '''"first^M"
"second"
"third"
#{3132333435}
out-of-range -1
"rest"
"été"
none
'''


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--qel", required=True)
    args = ap.parse_args()
    with tempfile.TemporaryDirectory() as d:
        script = os.path.join(d, "stdin.qel")
        with open(script, "w") as f:
            f.write(SCRIPT)
        r = subprocess.run([args.qel, script], input=INPUT, capture_output=True, timeout=60,
                           env=dict(os.environ, HOME=d))
    out = r.stdout.decode("utf-8", "replace")
    if out != WANT or r.returncode != 0:
        print("FAIL: got status", r.returncode, "and\n" + out + "\nwant\n" + WANT)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
