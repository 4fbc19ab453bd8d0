#!/usr/bin/env python3
"""to-csv against Python's csv module, on seeded random tables.

Each table (rows of strings, or records with differing fields) goes through
csv_python.qel with one of several delimiters and quote characters: Python's
csv reader must read the to-csv text back to the intended rows (records:
every field of the union, empty where a record lacks it), and load-csv of
the same text must give them too.
"""
import argparse
import csv
import json
import os
import random
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "csv_python.qel")

CHARS = "ab Z9,;|'\"\t\r\n\r\né€中😀-"
# (delimiter, quote character, delimiter given as a string)
DIALECTS = [(",", '"', False), (";", '"', True), ("\t", "'", False), ("|", "'", True)]


def rand_text(rng, allow_empty):
    while True:
        s = "".join(rng.choice(CHARS) for _ in range(rng.randint(0, 8)))
        if s or allow_empty:
            return s


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--qel", required=True)
    ap.add_argument("--count", type=int, default=200)
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args()

    rng = random.Random(args.seed)
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        cases = []
        for i in range(args.count):
            delimiter, quote, with_string = rng.choice(DIALECTS)
            spec = {"delimiter": delimiter, "quote": quote, "with-string": with_string}
            if i % 3 == 2:
                fields = ["name", "size", "note", "x-y", "Z"]
                records = []
                for _ in range(rng.randint(1, 5)):
                    # Every record has its first field, so the header starts
                    # in a known order.
                    keys = [fields[0]] + [f for f in fields[1:] if rng.random() < 0.6]
                    records.append({k: rand_text(rng, True) for k in keys})
                columns = []
                for r in records:
                    columns += [k for k in r if k not in columns]
                want = [columns] + [[r.get(k, "") for k in columns] for r in records]
                spec["records"] = records
            else:
                width = rng.randint(1, 5)
                # A row of one empty value is an empty line: readers differ
                # on what that is.
                want = [[rand_text(rng, width > 1) for _ in range(width)] for _ in range(rng.randint(1, 6))]
                spec["rows"] = want
            path = os.path.join(tmp, f"case{i}.json")
            with open(path, "w", encoding="utf-8") as f:
                json.dump(spec, f)
            cases.append((path, spec, want))
        listing = os.path.join(tmp, "list.txt")
        with open(listing, "w") as f:
            f.write("".join(p + "\n" for p, _, _ in cases))
        run = subprocess.run([args.qel, SCRIPT], capture_output=True, timeout=300, stdin=subprocess.DEVNULL,
                             env=dict(os.environ, QEL_CSV_LIST=listing))
        if run.returncode != 0:
            print(run.stdout.decode("utf-8", "replace"))
            print(f"FAIL: csv_python.qel ended with status {run.returncode}")
            return 1
        for path, spec, want in cases:
            name = os.path.basename(path)
            with open(path + ".csv", encoding="utf-8", newline="") as f:
                text = f.read()
            got = list(csv.reader(text.splitlines(keepends=True), delimiter=spec["delimiter"],
                                  quotechar=spec["quote"]))
            if got != want:
                failures.append(f"{name}: Python reads {got!r} from {text!r}, want {want!r}")
            with open(path + ".back", encoding="utf-8") as f:
                back = json.load(f)
            if "records" in spec and isinstance(back, list) and all(isinstance(r, dict) for r in back):
                back = [want[0]] + [[r.get(k) for k in want[0]] for r in back]
            if back != want:
                failures.append(f"{name}: load-csv reads {back!r} from {text!r}, want {want!r}")
    print(f"{args.count} tables")
    for f in failures[:40]:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
