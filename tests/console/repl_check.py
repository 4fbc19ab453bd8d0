#!/usr/bin/env python3
"""The console with its input redirected: the banner, results behind the
prefix and cut to the width, output of print, errors and the next line
still run, halt, multi-line input, Esc, the end of the input, quit with a
status, and the configuration file written at the end and read back."""
import argparse
import os
import subprocess
import sys
import tempfile

CASES = [
    # (input lines, expected output after the banner, exit status)
    ("1 + 2\n", "== 3\n", 0),
    ('print "hi"\n', "hi\n", 0),
    ("\n\n", "", 0),
    ("append/dup copy \"\" \"x\" 100\n", "== {" + "x" * 72 + "...\n", 0),
    ("1.5\n", "== 1.5\n", 0),
    ("foo-undefined\n1 + 1\n",
     "*** Script Error: foo-undefined has no value\n*** Where: do\n*** Near : foo-undefined\n"
     "*** Stack: run eval-command do-command try-do \n\n== 2\n", 0),
    ("loop 3 [print 1 halt]\n", "1\n(halted)\n", 0),
    ("length? {abc\ndef}\n", "== 7\n", 0),
    ("[\n1 2\n]\n", "== [\n    1 2\n]\n", 0),
    ("[1 2)\n2\n", "*** Syntax Error: (line 1) missing ( at )\n*** Where: transcode\n"
     "*** Near : out: transcode source\n*** Stack: run eval-command do-command load\n== 2\n", 0),
    ("[1\n\x1b\n3\n", "(escape)\n== 3\n", 0),
    ("x: 42\n?? x\n", "== 42\nx: 42\n", 0),
    ("quit/return 3\nprint 1\n", "", 3),
    ("q: 5\nq\n", "== 5\n", 0),
]
BANNER = "--== Qel {} ==-- \nType HELP for starting information. \n\n"


def run(qel, home, text):
    return subprocess.run([qel], input=text.encode(), capture_output=True, timeout=60,
                          env=dict(os.environ, HOME=home))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--qel", required=True)
    args = ap.parse_args()
    failures = []
    with tempfile.TemporaryDirectory() as home:
        version = subprocess.run([args.qel, "/dev/stdin"], input=b"Qel [] prin system/version",
                                 capture_output=True).stdout.decode()
        banner = BANNER.format(version)
        for text, want, status in CASES:
            r = run(args.qel, home, text)
            out = r.stdout.decode("utf-8", "replace")
            if out != banner + want or r.returncode != status:
                failures.append(f"input {text!r}: status {r.returncode} (want {status}), output\n{out!r}\nwant\n"
                                f"{banner + want!r}")
        # The configuration file is written at the end, its history cut to
        # the 100 newest lines.
        cfg = os.path.join(home, ".qel", "Qel-Console", "console-cfg.qel")
        run(args.qel, home, "loop 150 [insert system/console/history copy \"line\"]\n")
        r = run(args.qel, home, "print length? system/console/history\n")
        if not r.stdout.decode().endswith("\n100\n"):
            failures.append("history not kept and cut: " + r.stdout.decode())
        # It is written beside the old one and renamed over it: nothing else
        # stays in the folder.
        left = sorted(os.listdir(os.path.dirname(cfg)))
        if left != ["console-cfg.qel"]:
            failures.append(f"the configuration folder holds {left}")
        # A configuration that does not load, or whose history is no
        # block, leaves the defaults; quit still ends the console.
        for bad in ["Qel [] history: 5", "Qel [ broken", "no header"]:
            with open(cfg, "w") as f:
                f.write(bad)
            r = run(args.qel, home, "print block? system/console/history\nquit/return 4\n")
            if not r.stdout.decode().endswith("true\n") or r.returncode != 4:
                failures.append(f"bad configuration {bad!r}: {r.returncode} {r.stdout.decode()!r}")
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
