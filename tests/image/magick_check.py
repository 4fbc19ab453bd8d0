#!/usr/bin/env python3
"""The image codecs against ImageMagick, in both directions.

qel writes `make image! [2x2 255.0.0]` (and an image with transparent
pixels) as PNG, JPEG, BMP, GIF and TIFF; ImageMagick must name each file's
format and size and read the same pixels (JPEG within a tolerance). Then
ImageMagick writes files of its own in each format, and in the BMP layouts
it knows (24-bit, 32-bit with masks, 8-bit with a palette), an interlaced
GIF, a 16-bit PNG, a progressive JPEG and a TIFF with a palette, and qel
must read the same pixels from them. Exits 77 (skipped) without ImageMagick.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

FORMATS = [("png", "PNG"), ("jpeg", "JPEG"), ("bmp", "BMP"), ("gif", "GIF"), ("tiff", "TIFF")]
JPEG_TOLERANCE = 8

WRITE_SCRIPT = """Qel []
dir: to file! "DIR/"
red: make image! [2x2 255.0.0]
mixed: make image! [2x1 #{00FF000000FF} #{00FF}]
foreach name [png jpeg bmp gif tiff] [
    codec: select system/codecs name
    codec/encode red append append copy dir "red." name
    codec/encode mixed append append copy dir "mixed." name
]
"""

READ_SCRIPT = """Qel []
foreach f [{FILES}] [
    img: decode-image to file! f
    print [img/size enbase/base img/argb 16]
]
"""


def run_qel(qel, text, home):
    with tempfile.NamedTemporaryFile("w", suffix=".qel", delete=False) as f:
        f.write(text)
        path = f.name
    try:
        r = subprocess.run([qel, path], capture_output=True, text=True, env=dict(os.environ, HOME=home),
                           stdin=subprocess.DEVNULL, timeout=120)
    finally:
        os.unlink(path)
    if r.returncode != 0:
        raise SystemExit(f"FAIL: qel ended with {r.returncode}\n{r.stdout}{r.stderr}")
    return r.stdout


def magick_pixels(path):
    """The RGBA bytes of every pixel, as ImageMagick reads the file."""
    r = subprocess.run(["convert", path, "-depth", "8", "rgba:-"], capture_output=True, check=True)
    b = r.stdout
    return [tuple(b[i:i + 4]) for i in range(0, len(b), 4)]


def close(a, b, tolerance):
    return all(abs(x - y) <= tolerance for x, y in zip(a, b))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--qel", required=True)
    args = ap.parse_args()
    if not shutil.which("convert") or not shutil.which("identify"):
        print("SKIP: ImageMagick is not installed")
        return 77
    failures = []
    with tempfile.TemporaryDirectory() as d:
        # qel writes; ImageMagick reads.
        script = WRITE_SCRIPT.replace("DIR", d)
        run_qel(args.qel, script, d)
        for suffix, magick_name in FORMATS:
            tol = JPEG_TOLERANCE if suffix == "jpeg" else 0
            red = os.path.join(d, "red." + suffix)
            ident = subprocess.run(["identify", "-format", "%m %w %h", red], capture_output=True, text=True).stdout
            if ident != f"{magick_name} 2 2":
                failures.append(f"{suffix}: identify says {ident!r}")
            px = magick_pixels(red)
            if len(px) != 4 or not all(close(p, (255, 0, 0, 255), tol) for p in px):
                failures.append(f"{suffix}: red read as {px}")
            mixed = magick_pixels(os.path.join(d, "mixed." + suffix))
            # JPEG has no transparency: both pixels come back opaque.
            want = [(0, 255, 0, 255), (0, 0, 255, 255 if suffix == "jpeg" else 0)]
            if suffix == "gif":
                want[1] = (mixed[1][0], mixed[1][1], mixed[1][2], 0)  # a transparent entry keeps no colour
            if len(mixed) != 2 or not all(close(a, b, 40 if tol else 0) for a, b in zip(mixed, want)):
                failures.append(f"{suffix}: mixed read as {mixed}, expected {want}")

        # ImageMagick writes; qel reads.
        made = []
        sources = [
            ("im.png", []), ("im.jpg", []), ("im.gif", []), ("im.tiff", []),
            ("BMP3:im24.bmp", []), ("BMP:im32.bmp", ["-alpha", "on"]), ("im8.bmp", ["-type", "Palette"]),
            ("im-interlaced.gif", ["-interlace", "GIF"]), ("PNG48:im16.png", []),
            ("im-progressive.jpg", ["-interlace", "JPEG"]), ("im-palette.tiff", ["-type", "Palette"]),
        ]
        for target, options in sources:
            out = os.path.join(d, target.split(":")[-1])
            spec = (target.split(":")[0] + ":" if ":" in target else "") + out
            subprocess.run(["convert", "-size", "3x2", "xc:rgb(10,200,30)", "-fill", "rgb(250,5,90)", "-draw",
                            "point 2,1"] + options + [spec], check=True)
            made.append(out)
        files = " ".join('"' + f + '"' for f in made)
        lines = run_qel(args.qel, READ_SCRIPT.replace("{FILES}", files), d).splitlines()
        for path, line in zip(made, lines):
            size, argb = line.split(" ")
            raw = bytes.fromhex(argb)
            qel_px = [(raw[i + 2], raw[i + 1], raw[i], raw[i + 3]) for i in range(0, len(raw), 4)]
            tol = JPEG_TOLERANCE * 3 if path.endswith(".jpg") else 0
            if size != "3x2" or not close(sum(qel_px, ()), sum(magick_pixels(path), ()), tol):
                failures.append(f"{os.path.basename(path)}: qel read {size} {qel_px}, "
                                f"ImageMagick {magick_pixels(path)}")
        if len(lines) != len(made):
            failures.append(f"qel read {len(lines)} files of {len(made)}")
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
