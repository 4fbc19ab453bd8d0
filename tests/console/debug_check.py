#!/usr/bin/env python3
"""The debugger at the console in a real terminal: its first stop, the
"debug> " prompt taking ?, an unknown command, a command that fails, Enter
and q, which leaves the evaluation with "(halted)" and gives the prompt
back; the lines typed at the debugger do not stay in the history after a
run that ends by itself."""
import argparse
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmux_driver import Terminal, report  # noqa: E402


def ends_with_prompt(prompt):
    return lambda s: s.rstrip("\n").split("\n")[-1].rstrip() == prompt.rstrip()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--qel", required=True)
    args = ap.parse_args()
    failures = []
    with tempfile.TemporaryDirectory() as home:
        t = Terminal(args.qel, cols=80, rows=40, env={"HOME": home})
        try:
            t.wait_text("Type HELP for starting information.")
            t.wait_for(ends_with_prompt(">> "), "the console prompt")
            t.type("debug [1 + 2]")
            t.keys("Enter")
            screen = t.wait_for(ends_with_prompt("debug> "), "the debugger's prompt")
            for want in ["-----> EVAL 1", "Input: 1 + 2", "-empty stack-"]:
                if want not in screen:
                    failures.append(f"first stop without {want!r}:\n{screen}")
            t.type("?")
            t.keys("Enter")
            t.wait_text("`quit` or `q`: exit debugger and stop evaluation.")
            t.wait_for(ends_with_prompt("debug> "), "the prompt after ?")
            t.type("frobnicate")
            t.keys("Enter")
            t.wait_text("Unknown command!")
            t.wait_for(ends_with_prompt("debug> "), "the prompt after an unknown command")
            # A command that does not load shows its error and prompts again.
            t.type("[")
            t.keys("Enter")
            t.wait_text("*** Syntax Error")
            t.wait_for(ends_with_prompt("debug> "), "the prompt after a failed command")
            t.keys("Enter")
            t.wait_text("-----> PUSH 1")
            t.wait_for(ends_with_prompt("debug> "), "the prompt at the second stop")
            t.type("q")
            t.keys("Enter")
            t.wait_text("(halted)")
            t.wait_for(ends_with_prompt(">> "), "the console prompt after q")
            # A run that ends by itself takes the debugger's lines out of
            # the history: Up recalls the debug line itself.
            t.type("debug [3]")
            t.keys("Enter")
            t.wait_for(ends_with_prompt("debug> "), "the debugger's prompt again")
            t.type("c")
            t.keys("Enter")
            t.wait_for(ends_with_prompt(">> "), "the console prompt after c")
            t.keys("Up")
            t.wait_for(lambda s: s.rstrip("\n").split("\n")[-1].rstrip() == ">> debug [3]",
                       "the debug line recalled by Up")
            t.keys("Escape")
            t.wait_text("(escape)")
            t.type("quit")
            t.keys("Enter")
            if t.status() != 0:
                failures.append("the console did not end with status 0")
        except AssertionError as e:
            failures.append(str(e))
        finally:
            t.close()
    return report(failures)


if __name__ == "__main__":
    sys.exit(main())
