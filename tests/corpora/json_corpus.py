#!/usr/bin/env python3
"""JSON decoder conformance against the public JSONTestSuite corpus.

Every file of json/test_parsing and json/test_transform goes through
json_case.qel, which decodes it, encodes the value and decodes that text
again. y_ files must be accepted and come back the same; n_ files must be
rejected (an error value, or an error raised for bytes that are not UTF-8 or
nesting too deep to parse); nothing may crash or take longer than the time
limit. The outcomes of the i_ files and of the transform files, which the
format leaves open, are kept in json_outcomes.txt, so that a change shows
as a difference (--update rewrites it).

The corpus lives next to the project (../shared/corpora/json, or the folder
named by QEL_CORPORA_DIR); without it the test skips (exit status 77).
"""
import argparse
import os
import select
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "json_case.qel")
OUTCOMES = os.path.join(HERE, "json_outcomes.txt")


def run_cases(qel, paths, limit):
    """Outcome line of each path. One qel process decodes the files in
    order, printing a line for each; a file that takes longer than limit
    seconds is a hang, a process that ends early a crash, and the run goes
    on in a new process from the next file."""
    outcomes = {}
    pending = list(paths)
    while pending:
        with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as f:
            f.write("".join(p + "\n" for p in pending))
            listing = f.name
        env = dict(os.environ, QEL_JSON_LIST=listing)
        proc = subprocess.Popen([qel, SCRIPT], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                stdin=subprocess.DEVNULL, env=env)
        buf = b""
        done = 0
        failed = None
        while done < len(pending):
            deadline = time.monotonic() + limit
            while b"\n" not in buf:
                left = deadline - time.monotonic()
                ready = left > 0 and select.select([proc.stdout], [], [], left)[0]
                if not ready:
                    failed = "hang"
                    break
                chunk = os.read(proc.stdout.fileno(), 4096)
                if not chunk:
                    failed = "crash"
                    break
                buf += chunk
            if failed:
                break
            line, buf = buf.split(b"\n", 1)
            outcomes[pending[done]] = line.decode("utf-8", "replace").strip()
            done += 1
        proc.kill()
        proc.wait()
        os.unlink(listing)
        if failed:
            outcomes[pending[done]] = f"{failed} ({buf.decode('utf-8', 'replace').strip()[:200]})"
            done += 1
        pending = pending[done:]
    return outcomes


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--qel", required=True)
    ap.add_argument("--corpora", required=True)
    ap.add_argument("--limit", type=float, default=20, help="seconds allowed for one file")
    ap.add_argument("--update", action="store_true", help="rewrite the known outcomes")
    args = ap.parse_args()

    root = os.path.join(os.environ.get("QEL_CORPORA_DIR") or args.corpora, "json")
    if not os.path.isdir(root):
        print(f"SKIP: no JSON corpus at {root}")
        return 77
    paths = []
    for folder in ("test_parsing", "test_transform"):
        d = os.path.join(root, folder)
        paths += [os.path.join(d, n) for n in sorted(os.listdir(d)) if n.endswith(".json")]
    outcomes = run_cases(args.qel, paths, args.limit)

    failures = []
    known = {}
    counts = {"y": 0, "n": 0, "open": 0}
    for path in paths:
        name = os.path.basename(path)
        folder = os.path.basename(os.path.dirname(path))
        got = outcomes[path]
        if folder == "test_parsing" and name.startswith("y_"):
            counts["y"] += 1
            if got != "accept stable":
                failures.append(f"{name}: must be accepted and stable, got {got}")
        elif folder == "test_parsing" and name.startswith("n_"):
            counts["n"] += 1
            if got != "reject" and not got.startswith("raise "):
                failures.append(f"{name}: must be rejected, got {got}")
        else:
            counts["open"] += 1
            key = f"{folder}/{name}"
            known[key] = got
            if got.startswith(("hang", "crash")):
                failures.append(f"{name}: {got}")

    if args.update:
        with open(OUTCOMES, "w", encoding="utf-8") as f:
            f.write("# Outcomes of the JSON corpus files whose handling is left open (json_corpus.py).\n")
            f.write("".join(f"{k} {v}\n" for k, v in known.items()))
    else:
        want = {}
        with open(OUTCOMES, encoding="utf-8") as f:
            for line in f:
                if line.strip() and not line.startswith("#"):
                    k, v = line.rstrip("\n").split(" ", 1)
                    want[k] = v
        for k in sorted(set(want) | set(known)):
            if want.get(k) != known.get(k):
                failures.append(f"{k}: known outcome {want.get(k)}, got {known.get(k)}")

    print(f"{counts['y']} y_ files, {counts['n']} n_ files, {counts['open']} files with known outcomes")
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
