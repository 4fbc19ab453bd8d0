#!/usr/bin/env python3
"""load-csv against the public csv-spectrum corpus: every file of csv/csvs
loaded with /header/as-records must give the records of its csv/json file.

The corpus lives next to the project (../shared/corpora/csv, or the folder
named by QEL_CORPORA_DIR); without it the test skips (exit status 77).
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "csv_case.qel")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--qel", required=True)
    ap.add_argument("--corpora", required=True)
    args = ap.parse_args()

    root = os.path.join(os.environ.get("QEL_CORPORA_DIR") or args.corpora, "csv")
    if not os.path.isdir(root):
        print(f"SKIP: no CSV corpus at {root}")
        return 77
    names = sorted(n[:-4] for n in os.listdir(os.path.join(root, "csvs")) if n.endswith(".csv"))
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        # The outputs go next to copies: the corpus folder is read-only.
        copies = []
        for name in names:
            copy = os.path.join(tmp, name + ".csv")
            shutil.copyfile(os.path.join(root, "csvs", name + ".csv"), copy)
            copies.append(copy)
        listing = os.path.join(tmp, "list.txt")
        with open(listing, "w") as f:
            f.write("".join(c + "\n" for c in copies))
        run = subprocess.run([args.qel, SCRIPT], capture_output=True, timeout=120, stdin=subprocess.DEVNULL,
                             env=dict(os.environ, QEL_CSV_LIST=listing))
        if run.returncode != 0:
            print(run.stdout.decode("utf-8", "replace"))
            print(f"FAIL: csv_case.qel ended with status {run.returncode}")
            return 1
        for name, copy in zip(names, copies):
            with open(os.path.join(root, "json", name + ".json"), encoding="utf-8") as f:
                want = json.load(f)
            with open(copy + ".out", encoding="utf-8") as f:
                text = f.read()
            try:
                got = json.loads(text)
            except ValueError:
                got = text
            if got != want:
                failures.append(f"{name}: got {got!r}, want {want!r}")
    print(f"{len(names)} CSV files")
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
