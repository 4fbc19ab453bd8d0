#!/usr/bin/env python3
"""The clipboard routines on the process-private clipboard and under X11.

clipboard.qel (expectations written in it, checked by tests/lang/run.py)
runs first without a display, on the clipboard private to the process, then
under a private Xvfb server through xclip. Under X11 the clipboard is also
filled and read by xclip itself: text with CR LF line ends, a file list,
damaged image data (which reads as false, never a crash), and the text and
image qel wrote. The X11 part is skipped, with a message, when Xvfb or
xclip is missing.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
RUNNER = os.path.join(HERE, "..", "lang", "run.py")


def clean_env():
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    return env


def run_script(qel, env):
    r = subprocess.run([sys.executable, RUNNER, "--qel", qel, os.path.join(HERE, "clipboard.qel")], env=env,
                       capture_output=True, text=True)
    return r.returncode, r.stdout + r.stderr


def qel_says(qel, env, code):
    with tempfile.NamedTemporaryFile("w", suffix=".qel", delete=False) as f:
        f.write("Qel []\n" + code + "\n")
        path = f.name
    try:
        r = subprocess.run([qel, path], env=env, capture_output=True, text=True, timeout=60,
                           stdin=subprocess.DEVNULL)
    finally:
        os.unlink(path)
    return r.stdout.strip()


def xclip_in(env, data, target=None):
    cmd = ["xclip", "-selection", "clipboard", "-i"] + (["-t", target] if target else [])
    subprocess.run(cmd, input=data, env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def xclip_out(env, target=None):
    cmd = ["xclip", "-selection", "clipboard", "-o"] + (["-t", target] if target else [])
    return subprocess.run(cmd, env=env, capture_output=True, timeout=30).stdout


def start_xvfb():
    for n in range(91, 140):
        if os.path.exists(f"/tmp/.X{n}-lock") or os.path.exists(f"/tmp/.X11-unix/X{n}"):
            continue
        proc = subprocess.Popen(["Xvfb", f":{n}", "-nolisten", "tcp", "-screen", "0", "320x200x24"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            if os.path.exists(f"/tmp/.X11-unix/X{n}"):
                return proc, f":{n}"
            if proc.poll() is not None:
                break
            time.sleep(0.05)
        proc.kill()
    return None, None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--qel", required=True)
    args = ap.parse_args()
    failures = []

    status, out = run_script(args.qel, clean_env())
    if status != 0:
        failures.append("private clipboard:\n" + out)

    if not shutil.which("Xvfb") or not shutil.which("xclip"):
        print("SKIP (X11 part): Xvfb or xclip is not installed")
    else:
        proc, display = start_xvfb()
        if not proc:
            failures.append("Xvfb did not start")
        else:
            try:
                env = clean_env()
                env["DISPLAY"] = display
                status, out = run_script(args.qel, env)
                if status != 0:
                    failures.append("X11 clipboard:\n" + out)
                cases = [
                    # (what xclip puts on the clipboard, its target, what qel reads)
                    (b"a\r\nb\r\n", None, '"a^/b^/"'),
                    (b"file:///x/y%20z\r\nfile://localhost/w\r\n", "text/uri-list", '[%"/x/y z" %/w]'),
                    (b"http://example.com/\r\n", "text/uri-list", "none"),
                    (b"BM\x00\x00", "image/bmp", "false"),
                    (b"\x89PNG\r\n\x1a\n\x00\x00", "image/png", "false"),
                    (b"GIF89a", "image/gif", "false"),
                ]
                for data, target, want in cases:
                    xclip_in(env, data, target)
                    got = qel_says(args.qel, env, "print mold read-clipboard")
                    if got != want:
                        failures.append(f"xclip {data!r} as {target}: qel read {got!r}, expected {want!r}")
                # A BMP whose rows are cut short.
                bmp = subprocess.run(["convert", "-size", "4x4", "xc:red", "BMP3:-"], capture_output=True).stdout \
                    if shutil.which("convert") else b""
                if bmp:
                    xclip_in(env, bmp[:-10], "image/bmp")
                    got = qel_says(args.qel, env, "print mold read-clipboard")
                    if got != "false":
                        failures.append(f"a cut BMP: qel read {got!r}")
                    xclip_in(env, bmp, "image/bmp")
                    got = qel_says(args.qel, env, "img: read-clipboard print img/size")
                    if got != "4x4":
                        failures.append(f"a whole BMP: qel read {got!r}")
                # What qel writes, other programs read.
                qel_says(args.qel, env, 'write-clipboard "p^/q"')
                if xclip_out(env) != b"p\nq":
                    failures.append(f"xclip read {xclip_out(env)!r} after qel wrote text")
                qel_says(args.qel, env, "write-clipboard make image! [3x2 1.2.3]")
                png = xclip_out(env, "image/png")
                if not png.startswith(b"\x89PNG"):
                    failures.append(f"xclip read {png[:8]!r} as image/png after qel wrote an image")
                qel_says(args.qel, env, "write-clipboard [%/p/q %/r]")
                if xclip_out(env, "text/uri-list") != b"file:///p/q\r\nfile:///r\r\n":
                    failures.append(f"xclip read {xclip_out(env, 'text/uri-list')!r} as a file list")
            finally:
                proc.kill()
                proc.wait()
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
