#!/usr/bin/env python3
"""Checks money! arithmetic and rounding against Python's decimal module on
seeded random operands.

money! amounts have 17 integer and 5 fraction digits; sums and differences
are exact, products and quotients are cut (toward zero) to 5 fraction
digits, and a result that does not fit, or a non-zero product or quotient
that the cut leaves at zero, raises type-limit. round/to takes every mode
at a money scale. Each case is one line of a generated script, printing
`mold/all` of the result or the id of the error; the expected lines are
computed here with Decimal.

Usage: decimal_check.py --qel path/to/qel [--seed N] [--count N]
"""
import argparse
import decimal
import os
import random
import subprocess
import sys
import tempfile
from decimal import Decimal

decimal.getcontext().prec = 80
STEP = Decimal("0.00001")
LIMIT = Decimal(10) ** 17
ROUNDINGS = {
    "": decimal.ROUND_HALF_UP,  # halves away from zero
    "/even": decimal.ROUND_HALF_EVEN,
    "/down": decimal.ROUND_DOWN,
    "/half-down": decimal.ROUND_HALF_DOWN,
    "/floor": decimal.ROUND_FLOOR,
    "/ceiling": decimal.ROUND_CEILING,
    "/half-ceiling": None,  # halves toward plus infinity, else nearest
}


def amount(rng):
    """A random amount, with integer parts of every length and ties of
    rounding made likely by short fractions."""
    digits = rng.choice([0, 1, 2, 3, 5, 8, 12, 16, 17])
    whole = rng.randrange(10 ** digits) if digits else 0
    places = rng.choice([0, 1, 2, 3, 5])
    frac = rng.randrange(10 ** places) if places else 0
    text = f"{whole}.{frac:0{places}d}" if places else str(whole)
    value = Decimal(text)
    return -value if rng.random() < 0.4 else value


def money_text(v):
    """The money! literal of an amount."""
    sign = "-" if v < 0 else ""
    return f"{sign}${abs(v)}"


def mold_all(v):
    if v == 0:
        return "$0.00000"
    sign = "-" if v < 0 else ""
    whole, _, frac = f"{abs(v):.5f}".partition(".")
    return f"{sign}${whole}.{frac}"


def number(rng):
    """An integer or a float whose shortest text has at most 5 fraction
    digits, so that money! reads it exactly."""
    if rng.random() < 0.5:
        return str(rng.randrange(-10 ** 6, 10 ** 6) or 7)
    while True:
        v = Decimal(rng.randrange(1, 10 ** 9)).scaleb(-rng.choice([1, 2, 3, 4, 5]))
        if rng.random() < 0.4:
            v = -v
        text = repr(float(v))
        if Decimal(text) == v and "e" not in text:
            return text


def fits(v):
    return abs(v) < LIMIT


def cut(v):
    return v.quantize(STEP, rounding=decimal.ROUND_DOWN)


def expect_arith(op, a, b):
    if op == "+":
        r = a + b
    elif op == "-":
        r = a - b
    elif op == "*":
        if a == 0 or b == 0:
            return mold_all(Decimal(0))
        r = cut(a * b)
        if r == 0:
            return "type-limit"
    else:
        if b == 0:
            return "zero-divide"
        if a == 0:
            return mold_all(Decimal(0))
        r = cut(a / b)
        if r == 0:
            return "type-limit"
    return mold_all(r) if fits(r) else "type-limit"


def expect_round(mode, n, scale):
    if n == 0 or scale == 0:
        return mold_all(n)
    s = abs(scale)
    q = n / s
    if mode == "/half-ceiling":
        r = q - q.to_integral_value(rounding=decimal.ROUND_FLOOR)
        rounding = decimal.ROUND_CEILING if r == Decimal("0.5") else decimal.ROUND_HALF_UP
    else:
        rounding = ROUNDINGS[mode]
    v = q.to_integral_value(rounding=rounding) * s
    return mold_all(v) if fits(v) else "type-limit"


def cases(rng, count):
    out = []
    for _ in range(count):
        a, b = amount(rng), amount(rng)
        op = rng.choice(["+", "-"])
        out.append((f"{money_text(a)} {op} {money_text(b)}", expect_arith(op, a, b)))
        x = number(rng)
        op = rng.choice(["*", "/"])
        out.append((f"{money_text(a)} {op} {x}", expect_arith(op, a, Decimal(x))))
        if op == "*":
            out.append((f"{x} * {money_text(b)}", expect_arith("*", Decimal(x), b)))
        mode = rng.choice(list(ROUNDINGS))
        scale = rng.choice([Decimal("0.01"), Decimal("0.05"), Decimal("1"), Decimal("0.5"),
                            Decimal("0.001"), Decimal("25"), Decimal("0.00002"), amount(rng)])
        out.append((f"round/to{mode} {money_text(a)} {money_text(scale)}", expect_round(mode, a, scale)))
        if scale == 1:
            out.append((f"round{mode} {money_text(a)}", expect_round(mode, a, Decimal(1))))
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--qel", required=True)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--count", type=int, default=600)
    args = ap.parse_args()
    rng = random.Random(args.seed)
    table = cases(rng, args.count)
    lines = ["Qel []",
             "show: func [code /local r] [r: try code either error! = type? :r [print r/id] [print mold/all r]]"]
    lines += [f"show [{expr}]" for expr, _ in table]
    with tempfile.TemporaryDirectory() as home:
        script = os.path.join(home, "money_decimal.qel")
        with open(script, "w") as f:
            f.write("\n".join(lines) + "\n")
        run = subprocess.run([args.qel, script], env=dict(os.environ, HOME=home), capture_output=True,
                             text=True, timeout=120)
    got = run.stdout.splitlines()
    failures = [(expr, want, got[i] if i < len(got) else "<nothing>")
                for i, (expr, want) in enumerate(table) if i >= len(got) or got[i] != want]
    if run.returncode != 0 or len(got) != len(table):
        print(f"qel ended with status {run.returncode} after {len(got)} of {len(table)} lines")
        print(run.stderr[-2000:])
    for expr, want, have in failures[:30]:
        print(f"{expr}: decimal gives {want}, qel gives {have}")
    if failures or run.returncode != 0 or len(got) != len(table):
        sys.exit(1)
    print(f"{len(table)} money! cases agree with decimal")


if __name__ == "__main__":
    main()
