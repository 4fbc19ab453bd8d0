#!/usr/bin/env python3
"""Scripts named on the command line: the switches before the name, the
script's arguments and folder, the header messages, the exit status, and
the console that --catch keeps open after the script (its input
redirected)."""
import argparse
import os
import subprocess
import sys
import tempfile

SCRIPTS = {
    "ran.qel": 'Qel [] print "ran"\n',
    "noheader.qel": 'print "no header"\n',
    "system.qel": "Qel/System [] 5\n",
    "fails.qel": 'Qel [] print "before" 1 / 0 print "after"\n',
    "sub/s.qel": 'Qel [] print mold system/options/args print mold system/script/args '
                 'print mold second split-path what-dir print mold system/options/script\n',
    "--odd.qel": 'Qel [] print "odd"\n',
    "lead.qel": 'text before the header\nQel [title: "x"] print "lead"\n',
    "halts.qel": 'Qel [] print 1 halt print 2\n',
}

# (arguments, standard input, expected output, exit status); BANNER stands
# for the banner lines.
CASES = [
    (["ran.qel"], "", "ran\n", 0),
    (["lead.qel"], "", "lead\n", 0),
    (["noheader.qel"], "", "*** Error: Qel header not found!\n", 1),
    (["system.qel"], "", "*** Error: contains Qel/System code which requires compilation!\n", 1),
    (["fails.qel"], "", "before\n*** Math Error: attempt to divide by zero\n*** Where: /\n"
     "*** Near : 1 / 0 print \"after\"\n*** Stack: try-do\n", 1),
    (["halts.qel"], "", "1\n(halted)\n", 0),
    # --catch: the script's arguments alone, its folder the current one,
    # then the console without the banner.
    (["--catch", "sub/s.qel", "a", "b c"], "print 7\n",
     '["a" "b c"]\n{a "b c"}\n%sub/\n%sub/s.qel\n7\n', 0),
    (["--catch", "fails.qel"], "print 7\n",
     "before\n*** Math Error: attempt to divide by zero\n*** Where: /\n"
     "*** Near : 1 / 0 print \"after\"\n*** Stack: try-do\n7\n", 0),
    # -- ends the switches: the next name is the script even with its dashes.
    (["--", "--odd.qel"], "", "odd\n", 0),
    # Another switch is stepped over.
    (["--other", "ran.qel"], "", "ran\n", 0),
]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--qel", required=True)
    args = ap.parse_args()
    qel = os.path.abspath(args.qel)
    failures = []
    with tempfile.TemporaryDirectory() as home, tempfile.TemporaryDirectory() as work:
        env = dict(os.environ, HOME=home)
        for name, text in SCRIPTS.items():
            path = os.path.join(work, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write(text)

        def run(argv, stdin):
            return subprocess.run([qel] + argv, input=stdin.encode(), capture_output=True, timeout=60,
                                  env=env, cwd=work)

        banner = run([], "").stdout.decode()
        for argv, stdin, want, status in CASES:
            r = run(argv, stdin)
            out = r.stdout.decode("utf-8", "replace")
            if out != want or r.returncode != status:
                failures.append(f"{argv}: status {r.returncode} (want {status}), output\n{out!r}\nwant\n{want!r}")

        # A script that cannot be read: its error, the current folder left
        # as it was, then the banner and the console.
        r = run(["nowhere/missing.qel"], "print what-dir\n")
        out = r.stdout.decode()
        here = work.rstrip("/") + "/"
        if not (out.startswith("*** Access Error:") and out.endswith(banner + here + "\n")) \
                or r.returncode != 0:
            failures.append(f"missing script: status {r.returncode}, output\n{out!r}")

    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
