#!/usr/bin/env python3
"""The line editor in a real terminal, through ask and input: typing,
cursor keys, deleting, history, completion, masked input, Esc, Ctrl-C and
Ctrl-D, long lines and a resize; the terminal's modes come back as they
were."""
import argparse
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmux_driver import Terminal, report  # noqa: E402

SCRIPT = r'''Qel []
h: copy []
complete-input: func [line console? /local s] [
    s: head line
    case [
        s = "pri" [reduce [tail copy "print"]]
        s = "ap" [reduce [skip copy "app" 3  "append"  "apply"]]
        s = "bad" [1 / 0]
        true [copy []]
    ]
]
forever [
    l: ask/history ">> " h
    print ["got" mold l]
    if l = "q" [break]
]
print ["hidden" mold ask/hide "pw: "]
print ["history" mold h]
'''

failures = []


def check(name, got, want):
    if got != want:
        failures.append(f"{name}: got {got!r}, want {want!r}")


def modes(path):
    """stty -a without its size, which the test changes on purpose."""
    with open(path) as f:
        return re.sub(r"rows \d+; columns \d+;", "", f.read())


def last_got(t, want_prefix="got "):
    lines = [l for l in t.lines() if l.startswith(want_prefix)]
    return lines[-1] if lines else None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--qel", required=True)
    args = ap.parse_args()
    with tempfile.TemporaryDirectory() as d:
        script = os.path.join(d, "edit.qel")
        with open(script, "w") as f:
            f.write(SCRIPT)
        before = os.path.join(d, "stty-before")
        after = os.path.join(d, "stty-after")
        t = Terminal(f"stty -a > {before}; {args.qel} {script}; s=$?; stty -a > {after}; (exit $s)", cols=40, rows=14,
                     env={"HOME": d})
        try:
            steps = [
                ("typing and cursor keys", lambda: (t.type("hello"), t.keys("Left", "Left"), t.type("X"),
                                                    t.keys("Home"), t.type("A"), t.keys("End"), t.type("Z"),
                                                    t.keys("Enter")), 'got "AhelXloZ"'),
                ("backspace and delete", lambda: (t.type("abcd"), t.keys("BSpace", "Home", "DC", "Enter")),
                 'got "bc"'),
                ("ctrl-k", lambda: (t.type("keep-cut"), t.keys("Left", "Left", "Left", "Left", "C-k", "Enter")),
                 'got "keep"'),
                ("history up twice", lambda: t.keys("Up", "Up", "Enter"), 'got "bc"'),
                ("history up then down", lambda: t.keys("Up", "Up", "Down", "Down", "Enter"), 'got "bc"'),
                ("one candidate", lambda: (t.type("pri"), t.keys("Tab"), t.type("!"), t.keys("Enter")),
                 'got "print!"'),
                ("an error in completion is no candidate", lambda: (t.type("bad"), t.keys("Tab", "Enter")),
                 'got "bad^-"'),
                ("esc", lambda: (t.type("xy"), t.keys("Escape")), 'got "xy^["'),
            ]
            t.wait_text(">>")
            for name, act, want in steps:
                act()
                t.wait_text(want)
                check(name, last_got(t), want)
            # Several candidates: listed, then the same edit goes on from
            # what they share.
            t.type("ap")
            t.keys("Tab")
            t.wait_text("append apply")
            t.type("ly")
            t.keys("Enter")
            t.wait_text('got "apply"')
            check("several candidates", last_got(t), 'got "apply"')
            # A long line wraps; editing at its head redraws every row, and
            # a narrower window redraws it at the new width.
            long = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJ"
            t.type(long)
            t.keys("Home")
            t.type("_")
            t.wait_text(">> _abcdefghijklmnopqrstuvwxyz0123456")
            t.resize(20, 14)
            t.keys("End")
            t.type("!")
            t.wait_for(lambda s: "ABCDEFGHIJ!" in s, "the line redrawn at 20 columns")
            rows = [l for l in t.lines() if l]
            i = next(k for k, l in enumerate(rows) if l.startswith(">> _"))
            check("rows at 20 columns", rows[i:i + 3], [">> _abcdefghijklmnop", "qrstuvwxyz0123456789",
                                                         "ABCDEFGHIJ!"])
            t.keys("Enter")
            t.wait_text('IJ!"')
            t.resize(40, 14)
            # Ctrl-D on an empty line is "q" and ends the loop; the masked
            # prompt shows stars and keeps the line out of the history.
            t.keys("C-d")
            t.wait_text("pw:")
            t.type("secret")
            t.wait_text("pw: ******")
            t.keys("Enter")
            t.wait_text('hidden "secret"')
            screen = t.wait_text("history [")
            if "secret" in screen.split('hidden "secret"')[1]:
                failures.append("hidden input reached the history")
            check("exit status", t.status(), 0)
            check("terminal modes after the program", modes(after), modes(before))
        finally:
            t.close()
        # Ctrl-C ends an edit with "q" whatever the line holds.
        t = Terminal(f"{args.qel} {script}", env={"HOME": d})
        try:
            t.wait_text(">>")
            t.type("abc")
            t.keys("C-c")
            t.wait_text('got "q"')
        finally:
            t.close()
        # SIGTERM in the middle of an edit: the terminal's modes come back
        # before the process ends.
        t = Terminal(f"stty -a > {before}; {args.qel} {script}; s=$?; stty -a > {after}; (exit $s)", env={"HOME": d})
        try:
            t.wait_text(">>")
            t.type("abc")
            t.wait_text(">> abc")
            subprocess.run(["pkill", "-TERM", "-f", "^" + args.qel + " " + script])
            check("status after SIGTERM", t.status(), 128 + 15)
            check("terminal modes after SIGTERM", modes(after), modes(before))
        finally:
            t.close()
    return report(failures)


if __name__ == "__main__":
    sys.exit(main())
