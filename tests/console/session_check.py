#!/usr/bin/env python3
"""The console in a real terminal: the prompt, a result, Esc, a multi-line
input with its continuation prompt, ls in columns, the width after a
resize, and the history kept
across a restart (Up after the restart recalls the last line)."""
import argparse
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmux_driver import Terminal, report  # noqa: E402


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--qel", required=True)
    args = ap.parse_args()
    failures = []
    with tempfile.TemporaryDirectory() as home:
        listing = os.path.join(home, "files")
        os.mkdir(listing)
        for name in ["alpha.txt", "beta.txt", "gamma.txt", "delta.txt"]:
            open(os.path.join(listing, name), "w").close()
        t = Terminal(f"cd {listing} && {args.qel}", cols=80, rows=20, env={"HOME": home})
        try:
            t.wait_text("Type HELP for starting information.")
            t.wait_for(lambda s: s.rstrip().endswith(">>"), "the prompt")
            t.type("1 + 2")
            t.keys("Enter")
            t.wait_text("== 3")
            t.type("[")
            t.keys("Enter")
            t.wait_text(">> [\n[")
            t.type("4 5]")
            t.wait_text("[    4 5]")
            t.keys("Enter")
            t.wait_text("== [\n    4 5\n]")
            t.type("abc")
            t.keys("Escape")
            t.wait_text("(escape)")
            t.type("ls")
            t.keys("Enter")
            screen = t.wait_text("gamma.txt")
            rows = [l for l in screen.split("\n") if ".txt" in l]
            # 80 columns: three names to a row, each behind a tab.
            if len(rows) != 2 or rows[0].count(".txt") != 3:
                failures.append("ls columns:\n" + screen)
            # A resize reaches the width that results are cut to.
            t.resize(40, 20)
            t.type("print system/console/size/x")
            t.keys("Enter")
            t.wait_text("\n40\n")
            t.resize(80, 20)
            t.type("print 42")
            t.keys("Enter")
            t.wait_text("\n42")
            t.keys("C-d")
            if t.status() != 0:
                failures.append("Ctrl-D did not end the console with status 0")
        finally:
            t.close()
        # The history was saved: Up recalls the last line after a restart.
        t = Terminal(args.qel, cols=80, rows=20, env={"HOME": home})
        try:
            t.wait_text("Type HELP")
            t.wait_for(lambda s: s.rstrip().endswith(">>"), "the prompt")
            t.keys("Up")
            t.wait_text(">> print 42")
            t.keys("Enter")
            t.wait_for(lambda s: s.count("42") >= 2, "the recalled line run")
        finally:
            t.close()
    return report(failures)


if __name__ == "__main__":
    sys.exit(main())
