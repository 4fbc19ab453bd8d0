#!/usr/bin/env python3
"""Help in a real terminal: the listing of ? system is cut to the width of
the terminal (50 columns here), its long lines ending in "...", and help
without an argument shows the usage text."""
import argparse
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmux_driver import Terminal, report  # noqa: E402

COLS = 50


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--qel", required=True)
    args = ap.parse_args()
    failures = []
    with tempfile.TemporaryDirectory() as home:
        t = Terminal(args.qel, cols=COLS, rows=40, env={"HOME": home})
        try:
            t.wait_text("Type HELP for starting information.")
            t.wait_for(lambda s: s.rstrip().endswith(">>"), "the prompt")
            t.type("? system")
            t.keys("Enter")
            screen = t.wait_for(lambda s: "     tools " in s and s.rstrip().endswith(">>"), "the listing")
            rows = [l.rstrip() for l in screen.split("\n") if l.startswith("     ")]
            if len(rows) < 10:
                failures.append("too few listing lines:\n" + screen)
            cut = [r for r in rows if r.endswith("...")]
            # A cut line fills the width but the last column.
            if not cut or any(len(r) != COLS - 1 for r in cut):
                failures.append("lines not cut at the width:\n" + screen)
            if any(len(r) > COLS - 1 for r in rows):
                failures.append("a line wider than the terminal:\n" + screen)
            if not any(r.startswith("     words       object!       [datatype! ") for r in rows):
                failures.append("no words line:\n" + screen)
            t.type("help")
            t.keys("Enter")
            t.wait_text("quit   - Leave the Qel console")
            t.keys("C-d")
            if t.status() != 0:
                failures.append("Ctrl-D did not end the console with status 0")
        finally:
            t.close()
    return report(failures)


if __name__ == "__main__":
    sys.exit(main())
