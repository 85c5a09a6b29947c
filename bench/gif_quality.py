#!/usr/bin/python3
"""PSNR and size of GIF output against the true-colour source, for every
palette/dither choice of the engine's colour reduction (bench/reduce_tool.cpp,
one process per photo) and for ImageMagick's default GIF.

    gif_quality.py --tool build-bench/bench/vellumar_reduce --inputs build-bench/inputs
                   [--photos 5] [--runs 1]

Sources are the benchmark's PNG photos. PSNR is over R, G and B of the decoded
GIF (Pillow) against the PNG; time is the median wall time of converting all
the photos and their CPU time (user + system), one core: every command under
taskset -c 0, ImageMagick asked for one thread.
"""
import argparse
import glob
import os
import resource
import shutil
import statistics
import subprocess
import tempfile
import time

import numpy as np
from PIL import Image

IM_CONVERT = "/usr/bin/convert"


def psnr(a, b):
    mse = np.mean((a.astype(np.float64) - b.astype(np.float64)) ** 2)
    return float("inf") if mse == 0 else 10 * np.log10(255.0 ** 2 / mse)


def pick(files, n):
    if n >= len(files) or n < 2:
        return files[:max(n, 0)]
    return [files[round(i * (len(files) - 1) / (n - 1))] for i in range(n)]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--inputs", required=True)
    ap.add_argument("--photos", type=int, default=5)
    ap.add_argument("--runs", type=int, default=1)
    ap.add_argument("--only", default="", help="only conversions whose names contain this text")
    a = ap.parse_args()
    photos = pick(sorted(glob.glob(os.path.join(a.inputs, "photos/png/*.png"))), a.photos)
    tool = os.path.abspath(a.tool)
    loop = 'o=$1; shift; i=1; for f; do "$T" "$f" "$o/main$i.gif" "$P" "$D" || exit 1; i=$((i+1)); done'
    variants = {}
    for pal in ("standard", "adaptive"):
        for dither in ("none", "floyd-steinberg"):
            variants[f"Vellumar palette {pal}, dither {dither}"] = (
                lambda out, p=pal, d=dither: ["env", f"T={tool}", f"P={p}", f"D={d}",
                                              "sh", "-c", loop, "sh", out])
    variants["ImageMagick default (mogrify -format gif)"] = (
        lambda out: ["mogrify", "-path", out, "-format", "gif"])
    env = dict(os.environ, OMP_NUM_THREADS="1", MAGICK_THREAD_LIMIT="1")
    sources = [np.asarray(Image.open(p).convert("RGB")) for p in photos]
    print(f"{len(photos)} photos, {sum(s.shape[0] * s.shape[1] for s in sources) / 1e6:.1f} MP; "
          f"one core, median of {a.runs} run(s)\n")
    print("| conversion | mean PSNR dB | lowest PSNR dB | total size MB | wall s | CPU s |")
    print("|---|---:|---:|---:|---:|---:|")
    work = tempfile.mkdtemp()
    try:
        for name, build in variants.items():
            if a.only not in name:
                continue
            out = os.path.join(work, "out")
            walls, cpus = [], []
            for _ in range(a.runs):
                shutil.rmtree(out, ignore_errors=True)
                os.makedirs(out)
                r0 = resource.getrusage(resource.RUSAGE_CHILDREN)
                t0 = time.monotonic()
                subprocess.run(["taskset", "-c", "0"] + build(out) + photos, env=env, check=True)
                walls.append(time.monotonic() - t0)
                r1 = resource.getrusage(resource.RUSAGE_CHILDREN)
                cpus.append(r1.ru_utime + r1.ru_stime - r0.ru_utime - r0.ru_stime)
            gifs = sorted(glob.glob(os.path.join(out, "*")))
            if len(gifs) != len(photos):
                raise SystemExit(f"{name}: wrote {len(gifs)} of {len(photos)} files")
            # Vellumar names rows main1.GIF ...; mogrify keeps the photo names.
            gifs.sort(key=lambda g: int("".join(c for c in os.path.basename(g) if c.isdigit())))
            scores = [psnr(s, np.asarray(Image.open(g).convert("RGB"))) for s, g in zip(sources, gifs)]
            size = sum(os.path.getsize(g) for g in gifs) / 1e6
            print(f"| {name} | {statistics.mean(scores):.2f} | {min(scores):.2f} | {size:.2f} | "
                  f"{statistics.median(walls):.2f} | {statistics.median(cpus):.2f} |")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
