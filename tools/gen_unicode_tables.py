#!/usr/bin/env python3
"""Generates the case-mapping and display-width tables from the Unicode
Character Database.

    tools/gen_unicode_tables.py [--ucd DIR] [--check]

Reads UnicodeData.txt, EastAsianWidth.txt, PropList.txt and
HangulSyllableType.txt (the Debian package `unicode-data` puts them in
/usr/share/unicode) and writes runtime/case_tables.cpp and
platform/char_width_tables.cpp. Both outputs are committed, so the build
needs neither Python nor the database; run this by hand after a Unicode
upgrade and review the counts it prints. With --check nothing is written and
the exit status says whether the committed files are current.
"""
import argparse
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CASE_OUT = os.path.join(ROOT, "runtime", "case_tables.cpp")
WIDTH_OUT = os.path.join(ROOT, "platform", "char_width_tables.cpp")

MAX_CP = 0x10FFFF
# The case tables cover planes 0 and 1: every cased letter lives there, and
# the lookup answers anything above unchanged without touching a table.
CASE_LIMIT = 0x20000
BLOCK = 256

# Unassigned code points that East_Asian_Width defaults to W (the header of
# EastAsianWidth.txt); listed code points override these.
DEFAULT_WIDE = [(0x3400, 0x4DBF), (0x4E00, 0x9FFF), (0xF900, 0xFAFF),
                (0x20000, 0x2FFFD), (0x30000, 0x3FFFD)]


def ucd_lines(path):
    """Data lines of a UCD property file as (first, last, fields)."""
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            fields = [x.strip() for x in line.split(";")]
            lo, _, hi = fields[0].partition("..")
            yield int(lo, 16), int(hi or lo, 16), fields[1:]


def read_unicode_data(path):
    """General categories by code point and the simple case-mapping pairs."""
    category = {}
    upper, lower = [], []
    first = None
    with open(path, encoding="utf-8") as f:
        for line in f:
            fields = line.rstrip("\n").split(";")
            cp = int(fields[0], 16)
            name, cat = fields[1], fields[2]
            if name.endswith(", First>"):
                first = cp
                continue
            if name.endswith(", Last>"):
                for c in range(first, cp + 1):
                    category[c] = cat
                continue
            category[cp] = cat
            if fields[12]:
                upper.append((cp, int(fields[12], 16)))
            if fields[13]:
                lower.append((cp, int(fields[13], 16)))
    return category, upper, lower


def version_of(ucd):
    with open(os.path.join(ucd, "EastAsianWidth.txt"), encoding="utf-8") as f:
        m = re.search(r"EastAsianWidth-(\d+\.\d+\.\d+)", f.readline())
    return m.group(1) if m else "unknown"


def ranges_of(member):
    """Merged inclusive ranges of the code points for which member is true."""
    out = []
    start = None
    for c in range(MAX_CP + 2):
        inside = c <= MAX_CP and member(c)
        if inside and start is None:
            start = c
        elif not inside and start is not None:
            out.append((start, c - 1))
            start = None
    return out


# ---- case tables -------------------------------------------------------------

def two_stage(pairs):
    """Index of 256-entry blocks of deltas (mapped - code point), identical
    blocks shared, for the code points below CASE_LIMIT."""
    delta = [0] * CASE_LIMIT
    for cp, mapped in pairs:
        if cp >= CASE_LIMIT or mapped >= CASE_LIMIT:
            sys.exit(f"case pair {cp:X} -> {mapped:X} lies beyond the tables")
        delta[cp] = mapped - cp
    blocks, index, seen = [], [], {}
    for b in range(CASE_LIMIT // BLOCK):
        block = tuple(delta[b * BLOCK:(b + 1) * BLOCK])
        if block not in seen:
            seen[block] = len(blocks)
            blocks.append(block)
        index.append(seen[block])
    if len(blocks) > 256:
        sys.exit("more than 256 distinct case blocks: the index needs wider entries")
    return index, blocks


def c_rows(values, per_line, fmt):
    items = [fmt(v) for v in values]
    return "\n".join("    " + ", ".join(items[i:i + per_line]) + ","
                     for i in range(0, len(items), per_line))


def case_source(version, upper, lower):
    def part(name, pairs):
        index, blocks = two_stage(pairs)
        text = f"const uint8_t {name}_INDEX[{len(index)}] = {{\n"
        text += c_rows(index, 16, str) + "\n};\n\n"
        text += f"const int32_t {name}_BLOCKS[{len(blocks)}][{BLOCK}] = {{\n"
        for block in blocks:
            text += "  {\n" + c_rows(block, 12, str) + "\n  },\n"
        return text + "};\n", len(blocks)

    def counts(pairs):
        bmp = sum(1 for cp, _ in pairs if cp < 0x10000)
        return bmp, len(pairs) - bmp

    ub, us = counts(upper)
    lb, ls = counts(lower)
    upper_text, upper_blocks = part("UPPER", upper)
    lower_text, lower_blocks = part("LOWER", lower)
    return f"""// Simple (one-to-one) case mappings of the Unicode Character Database
// {version}, generated by tools/gen_unicode_tables.py from UnicodeData.txt.
// Do not edit: run the generator. Each direction is a two-stage table over
// planes 0 and 1: an index of 256-code-point blocks into shared blocks of
// deltas (mapped code point minus code point, 0 for no mapping).
// Upper-case pairs: {ub} below U+10000 and {us} above ({upper_blocks} blocks).
// Lower-case pairs: {lb} below U+10000 and {ls} above ({lower_blocks} blocks).
#include "runtime/unicode.hpp"

namespace qel::unicode::tables {{

const char UCD_VERSION[] = "{version}";
const uint32_t UPPER_PAIRS_BMP = {ub};
const uint32_t UPPER_PAIRS_SUPPLEMENTARY = {us};
const uint32_t LOWER_PAIRS_BMP = {lb};
const uint32_t LOWER_PAIRS_SUPPLEMENTARY = {ls};

{upper_text}
{lower_text}
}}  // namespace qel::unicode::tables
""", (ub, us, lb, ls)


# ---- display-width tables ----------------------------------------------------

def width_source(version, zero, wide, ambiguous):
    def table(name, ranges):
        rows = c_rows(ranges, 4, lambda r: f"{{0x{r[0]:04X}, 0x{r[1]:04X}}}")
        return (f"const Range {name}[] = {{\n{rows}\n}};\n"
                f"const size_t {name}_COUNT = std::size({name});\n")

    return f"""// Display-width ranges of the Unicode Character Database {version},
// generated by tools/gen_unicode_tables.py. Do not edit: run the generator.
// Zero width: general categories Mn, Me and Cf, less U+00AD (a soft hyphen
// is shown as a hyphen) and the prepended concatenation marks (visible
// signs), plus the conjoining Hangul vowels and final consonants, which
// join the leading consonant's column. Wide: East Asian Width W and F,
// unassigned code points of the CJK blocks and planes 2-3 included.
// Ambiguous: East Asian Width A.
// Ranges: {len(zero)} zero-width, {len(wide)} wide, {len(ambiguous)} ambiguous.
#include <iterator>

#include "platform/char_width.hpp"

namespace qel::text {{

{table("ZERO_WIDTH", zero)}
{table("WIDE", wide)}
{table("AMBIGUOUS", ambiguous)}
}}  // namespace qel::text
"""


def width_ranges(ucd, category):
    eaw = {}
    for lo, hi in DEFAULT_WIDE:
        for c in range(lo, hi + 1):
            eaw[c] = "W"
    for lo, hi, fields in ucd_lines(os.path.join(ucd, "EastAsianWidth.txt")):
        for c in range(lo, hi + 1):
            eaw[c] = fields[0]
    prepended = set()
    for lo, hi, fields in ucd_lines(os.path.join(ucd, "PropList.txt")):
        if fields[0] == "Prepended_Concatenation_Mark":
            prepended.update(range(lo, hi + 1))
    conjoining = set()
    for lo, hi, fields in ucd_lines(os.path.join(ucd, "HangulSyllableType.txt")):
        if fields[0] in ("V", "T"):
            conjoining.update(range(lo, hi + 1))

    def zero(c):
        if c in conjoining:
            return True
        return (category.get(c) in ("Mn", "Me", "Cf") and c != 0x00AD
                and c not in prepended)

    return (ranges_of(zero),
            ranges_of(lambda c: eaw.get(c) in ("W", "F")),
            ranges_of(lambda c: eaw.get(c) == "A"))


def emit(path, text, check):
    if check:
        with open(path, encoding="utf-8") as f:
            return f.read() == text
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return True


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--ucd", default="/usr/share/unicode",
                    help="folder of the Unicode Character Database files")
    ap.add_argument("--check", action="store_true",
                    help="compare with the committed files instead of writing")
    args = ap.parse_args()

    version = version_of(args.ucd)
    category, upper, lower = read_unicode_data(os.path.join(args.ucd, "UnicodeData.txt"))
    case_text, (ub, us, lb, ls) = case_source(version, upper, lower)
    zero, wide, ambiguous = width_ranges(args.ucd, category)
    width_text = width_source(version, zero, wide, ambiguous)

    def first_last(pairs, below):
        sel = [p for p in pairs if (p[0] < 0x10000) == below]
        return f"({sel[0][0]:X}, {sel[0][1]:X}) .. ({sel[-1][0]:X}, {sel[-1][1]:X})"

    def span(ranges):
        return f"{ranges[0][0]:04X}..{ranges[0][1]:04X} .. {ranges[-1][0]:04X}..{ranges[-1][1]:04X}"

    print(f"Unicode {version}")
    print(f"upper pairs: {ub} below U+10000 {first_last(upper, True)}, "
          f"{us} above {first_last(upper, False)}")
    print(f"lower pairs: {lb} below U+10000 {first_last(lower, True)}, "
          f"{ls} above {first_last(lower, False)}")
    print(f"zero-width ranges: {len(zero)}  {span(zero)}")
    print(f"wide ranges:       {len(wide)}  {span(wide)}")
    print(f"ambiguous ranges:  {len(ambiguous)}  {span(ambiguous)}")

    current = emit(CASE_OUT, case_text, args.check) & emit(WIDTH_OUT, width_text, args.check)
    if args.check and not current:
        print("the committed tables differ from the database: run without --check")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
