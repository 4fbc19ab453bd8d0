"""A qel process in a real terminal: a private tmux server, keys sent with
send-keys, the screen read with capture-pane, waits by polling the screen
(never by fixed sleeps)."""
import os
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77


class Terminal:
    def __init__(self, command, cols=60, rows=12, env=None):
        if not shutil.which("tmux"):
            print("tmux is not installed: skipped")
            sys.exit(SKIP)
        self.dir = tempfile.mkdtemp(prefix="qel-term-")
        self.socket = os.path.join(self.dir, "tmux.sock")
        self.done = os.path.join(self.dir, "done")
        # The command's status is kept and the pane stays, so the end is
        # seen on screen and in the status file.
        shell = f"{command}; echo $? > {self.done}; sleep 600"
        full_env = dict(os.environ, **(env or {}))
        full_env.pop("TMUX", None)
        self.tmux("new-session", "-d", "-x", str(cols), "-y", str(rows), shell, env=full_env)

    def tmux(self, *args, env=None):
        return subprocess.run(["tmux", "-S", self.socket, "-f", "/dev/null", *args], capture_output=True,
                              text=True, env=env, check=True).stdout

    def keys(self, *keys):
        self.tmux("send-keys", *keys)

    def type(self, text):
        self.tmux("send-keys", "-l", text)

    def screen(self):
        return self.tmux("capture-pane", "-p")

    def lines(self):
        return [l.rstrip() for l in self.screen().rstrip("\n").split("\n")]

    def wait_for(self, predicate, what, timeout=10.0):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            s = self.screen()
            if predicate(s):
                return s
            time.sleep(0.02)
        raise AssertionError(f"timed out waiting for {what}; screen:\n{self.screen()}")

    def wait_text(self, text, timeout=10.0):
        return self.wait_for(lambda s: text in s, repr(text), timeout)

    def resize(self, cols, rows):
        self.tmux("resize-window", "-x", str(cols), "-y", str(rows))

    def status(self, timeout=10.0):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if os.path.exists(self.done):
                with open(self.done) as f:
                    text = f.read().strip()
                if text:
                    return int(text)
            time.sleep(0.02)
        raise AssertionError("the program did not end; screen:\n" + self.screen())

    def close(self):
        subprocess.run(["tmux", "-S", self.socket, "kill-server"], capture_output=True)
        shutil.rmtree(self.dir, ignore_errors=True)


def report(failures):
    """Prints each failure; the exit status of a check."""
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0
