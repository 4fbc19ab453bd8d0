#!/usr/bin/env python3
"""Runs fault_probe in one mode and checks the report and the exit status."""
import re
import shutil
import subprocess
import sys

SKIP = 77

# mode: (accepted exit codes, message or None for no report, exact output or None)
CASES = {
    "segv": ({1}, "access violation"),
    "fpe": ({13}, "integer divide by zero"),
    "ill": ({17, 23}, None),
    "bus": ({27}, "non-existent physical address"),
    "stack": ({19}, "stack error or overflow"),
    "oom": ({94}, "out of memory"),
    "nocatch": ({95}, "no CATCH for THROW"),
}

# Language errors that no try takes: printed, then exit status 254 (-2).
UNCAUGHT = {
    # The system refuses pages for a series frame.
    "alloc-fail": b"*** Internal Error: not enough memory\n*** Where: ???\n",
    # Recursion that checks its depth ends in the language's error.
    "depth": b"*** Internal Error: stack overflow\n*** Where: ???\n*** Near : none\n",
}

REPORT = re.compile(rb"\A\n\*\*\* Runtime Error (\d+): ([^\n]*)\n\*\*\* at: [0-9A-F]{8}h\n\Z")


def main():
    probe, mode = sys.argv[1], sys.argv[2]
    run = subprocess.run([probe, mode], capture_output=True, timeout=60)
    out, status = run.stdout, run.returncode
    if status == SKIP:
        print(f"skipped: {mode} cannot be forced on this machine")
        return SKIP
    if mode == "normal":
        if status != 0 or out:
            return fail(f"normal end: status {status}, output {out!r}")
        return leak_check(probe)
    if mode in UNCAUGHT:
        expected = UNCAUGHT[mode]
        if status != 254 or out != expected:
            return fail(f"{mode}: status {status}, output {out!r}")
        return 0
    codes, message = CASES[mode]
    m = REPORT.match(out)
    if not m:
        return fail(f"{mode}: report malformed: {out!r}")
    code = int(m.group(1))
    if code not in codes or status != code:
        return fail(f"{mode}: code {code}, status {status}, expected {codes}")
    if message is not None and m.group(2).decode() != message:
        return fail(f"{mode}: message {m.group(2)!r}")
    print(f"{mode}: ok ({out!r})")
    return 0


def leak_check(probe):
    """Every tracked block is freed at the normal end."""
    if not shutil.which("valgrind"):
        print("valgrind absent: leak check skipped")
        return 0
    run = subprocess.run(
        ["valgrind", "-q", "--leak-check=full", "--show-leak-kinds=definite,indirect,possible",
         "--errors-for-leak-kinds=definite,indirect,possible", "--error-exitcode=3", probe, "normal"],
        capture_output=True, timeout=300)
    if run.returncode != 0:
        return fail(f"valgrind: status {run.returncode}\n{run.stderr.decode(errors='replace')}")
    return 0


def fail(msg):
    print("FAIL:", msg)
    return 1


if __name__ == "__main__":
    sys.exit(main())
