#!/usr/bin/env python3
"""load-json and to-json against Python's json module, on seeded random
documents written by json.dumps.

Each document goes through json_python.qel: load-json of the file, then
to-json compact, with /pretty and a two-blank indent, and with /ascii.
Python must read every output back equal to the document. For documents of
integers, strings without control characters other than the named escapes,
logic values and nulls, the compact and pretty outputs must moreover be
byte-identical to json.dumps with the separators "," ":" and with indent=2.
"""
import argparse
import json
import os
import random
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "json_python.qel")

KEY_CHARS = "abcXYZ019-_ .+'$é中"
PLAIN_CHARS = "ab Z9/\\\"\n\r\t\b\f~é€中😀"
ALL_CHARS = PLAIN_CHARS + "".join(chr(c) for c in range(0, 32)) + "\x7f\u00a0\u2028\U0001F600"


def rand_string(rng, chars, n):
    return "".join(rng.choice(chars) for _ in range(rng.randint(0, n)))


def rand_number(rng, plain):
    kind = rng.randint(0, 5 if not plain else 1)
    if kind == 0:
        return rng.randint(-2**31, 2**31 - 1)
    if kind == 1:
        return rng.randint(-1000, 1000)
    if kind == 2:
        return rng.uniform(-1e6, 1e6)
    if kind == 3:
        return rng.choice([0.1, 0.30000000000000004, 1e-7, 1e16, 5e-324, 1.7976931348623157e308, -0.0, 2.5])
    if kind == 4:
        return rng.randint(-2**52, 2**52)
    return rng.random() * 10 ** rng.randint(-300, 300)


def rand_value(rng, depth, plain):
    kind = rng.randint(0, 7 if depth < 4 else 4)
    if kind == 0:
        return None
    if kind == 1:
        return rng.choice([True, False])
    if kind in (2, 3):
        return rand_number(rng, plain)
    if kind == 4:
        return rand_string(rng, PLAIN_CHARS if plain else ALL_CHARS, 12)
    if kind in (5, 6):
        return [rand_value(rng, depth + 1, plain) for _ in range(rng.randint(0, 5))]
    obj = {}
    folded = set()
    for _ in range(rng.randint(0, 5)):
        k = rand_string(rng, KEY_CHARS, 6)
        # Keys that differ only in letter case are refused by load-json.
        if k.lower() in folded:
            continue
        folded.add(k.lower())
        obj[k] = rand_value(rng, depth + 1, plain)
    return obj


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--qel", required=True)
    ap.add_argument("--count", type=int, default=300)
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args()

    rng = random.Random(args.seed)
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        cases = []
        for i in range(args.count):
            plain = i % 2 == 0
            doc = rand_value(rng, 0, plain)
            path = os.path.join(tmp, f"case{i}.json")
            with open(path, "w", encoding="utf-8") as f:
                f.write(json.dumps(doc, ensure_ascii=rng.choice([True, False]), indent=rng.choice([None, 1, "\t"])))
            cases.append((path, doc, plain))
        listing = os.path.join(tmp, "list.txt")
        with open(listing, "w") as f:
            f.write("".join(p + "\n" for p, _, _ in cases))
        run = subprocess.run([args.qel, SCRIPT], capture_output=True, timeout=300, stdin=subprocess.DEVNULL,
                             env=dict(os.environ, QEL_JSON_LIST=listing))
        if run.returncode != 0:
            print(run.stdout.decode("utf-8", "replace"), run.stderr.decode("utf-8", "replace"))
            print(f"FAIL: json_python.qel ended with status {run.returncode}")
            return 1
        for path, doc, plain in cases:
            name = os.path.basename(path)
            outputs = {}
            for mode in ("compact", "pretty", "ascii"):
                out = f"{path}.{mode}"
                if not os.path.exists(out):
                    failures.append(f"{name}: no {mode} output")
                    continue
                with open(out, "rb") as f:
                    raw = f.read()
                outputs[mode] = raw.decode("utf-8")
                if mode == "ascii" and not raw.isascii():
                    failures.append(f"{name}: /ascii output is not ASCII")
                try:
                    back = json.loads(outputs[mode])
                except ValueError as e:
                    failures.append(f"{name}: {mode} output is not JSON ({e}): {outputs[mode][:200]!r}")
                    continue
                if back != doc:
                    failures.append(f"{name}: {mode} output reads back unequal: {outputs[mode][:200]!r}")
            if plain:
                want = {"compact": json.dumps(doc, ensure_ascii=False, separators=(",", ":")),
                        "pretty": json.dumps(doc, ensure_ascii=False, indent=2)}
                for mode, text in want.items():
                    if mode in outputs and outputs[mode] != text:
                        failures.append(f"{name}: {mode} output {outputs[mode][:200]!r} is not {text[:200]!r}")
    print(f"{args.count} documents")
    for f in failures[:40]:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
