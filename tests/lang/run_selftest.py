#!/usr/bin/env python3
"""Checks run.py itself against a stand-in interpreter, so that the script
runner is known to catch wrong output and wrong exit statuses."""
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))

# The stand-in prints the text after each "print " line and exits with the
# number after "quit ".
FAKE = """#!/usr/bin/env python3
import sys
status = 0
for line in open(sys.argv[1], encoding="utf-8"):
    code = line.split(";")[0].strip()
    if code.startswith("print "):
        print(code[6:])
    elif code.startswith("quit "):
        status = int(code[5:])
sys.exit(status)
"""

# (script, sibling .out or None, runner must pass)
CASES = [
    ("print 3 ;== 3\nprint é ;== é\n", None, True),
    ("print 3 ;== 4\n", None, False),
    ("print 3\n", None, False),                      # output nobody expected
    ("print a\nprint b\n", "a\nb\n", True),
    ("print a\n", "b\n", False),
    ("quit 3\n;exit: 3\n", None, True),
    ("quit 3\n", None, False),
    (";exit: -2\nquit 254\n", None, True),
    ("print x ;==\n", None, False),                  # empty expected line vs "x"
]


def main():
    failures = 0
    with tempfile.TemporaryDirectory() as d:
        fake = os.path.join(d, "fake-qel")
        with open(fake, "w") as f:
            f.write(FAKE)
        os.chmod(fake, 0o755)
        for i, (script, out, should_pass) in enumerate(CASES):
            path = os.path.join(d, f"case{i}.qel")
            with open(path, "w", encoding="utf-8") as f:
                f.write(script)
            if out is not None:
                with open(path[:-4] + ".out", "w", encoding="utf-8") as f:
                    f.write(out)
            run = subprocess.run([sys.executable, os.path.join(HERE, "run.py"), "--qel", fake, path],
                                 capture_output=True)
            passed = run.returncode == 0
            if passed != should_pass:
                failures += 1
                print(f"case {i}: runner {'passed' if passed else 'failed'}, expected the opposite\n"
                      f"{script!r}\n{run.stdout.decode()}")
    print(f"{len(CASES) - failures}/{len(CASES)} runner cases behave")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
