#!/usr/bin/python3
"""How one large picture, and a few photos, use the cores: Vellumar at
--threads 1 and at every core beside libvips with one thread and with its own
pool, on the same file; peak memory with each; and whether Vellumar's output
is the same file at both counts.

    /usr/bin/python3 bench/scaling.py --cli build-bench/vellumar-convert \
        --inputs build-bench/inputs [--runs 3] [--targets PNG,TIF,JXL,JP2,AVIF]

The large picture (DIR/large/scan.png, 11548 x 8660, 100 megapixels) is made
once from the largest benchmark photo, enlarged with light noise added so that
it does not compress like a flat field.
"""
import argparse
import filecmp
import glob
import os
import shutil
import statistics
import sys

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from compare import fmt_s, measure  # noqa: E402

VIPS_SUFFIX = {"PNG": ".png[compression=6,filter=all]", "TIF": ".tif[compression=deflate]",
               "JXL": ".jxl[Q=90,effort=4]", "JP2": ".jp2[Q=90]", "AVIF": ".avif[Q=50]"}


def large_input(inputs):
    path = os.path.join(inputs, "large", "scan.png")
    if not os.path.exists(path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        photos = sorted(glob.glob(os.path.join(inputs, "photos/png/*.png")), key=os.path.getsize)
        im = Image.open(photos[-1]).convert("RGB").resize((11548, 8660), Image.BICUBIC)
        px = np.asarray(im, dtype=np.int16)
        rng = np.random.default_rng(20261211)
        px = np.clip(px + rng.integers(-3, 4, px.shape, dtype=np.int16), 0, 255).astype(np.uint8)
        Image.fromarray(px).save(path, compress_level=1)
    return path


def run(cmd, env, out, runs, expected):
    samples = []
    for _ in range(runs):
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        got, err = measure(cmd, env, False, None, out, expected)
        if got is None:
            return None, err
        samples.append(got)
    return tuple(statistics.median(s[i] for s in samples) for i in range(3)) + (samples[-1][3],), None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--inputs", required=True)
    ap.add_argument("--work", default="/tmp/vellumar-scaling")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--targets", default="PNG,TIF,JXL,JP2,AVIF")
    a = ap.parse_args()
    cores = os.cpu_count()
    cli = os.path.abspath(a.cli)
    scan = large_input(a.inputs)
    photos = sorted(glob.glob(os.path.join(a.inputs, "photos/png/*.png")), key=os.path.getsize)[-3:]
    print(f"\n## One 100-megapixel picture and three photos, {cores} cores\n")
    print("| input | target | tool | wall s | CPU s | peak RSS MiB | output MB | speed-up |")
    print("|---|---|---|---:|---:|---:|---:|---:|")
    for label, files in (("100 MP PNG", [scan]), ("3 photos (PNG)", photos)):
        for target in a.targets.split(","):
            outs, walls = {}, {}
            tools = [(f"Vellumar --threads {n}", [cli, "--to", target, "--quiet", "--threads", str(n)],
                      {}) for n in (1, cores)]
            tools += [(f"libvips, {n} thread{'s' if n > 1 else ''}",
                       ["sh", "-c", 'o=$1; shift; for f; do n="${f##*/}"; '
                        f'vips copy "$f" "$o/${{n%.*}}{VIPS_SUFFIX[target]}" || exit 1; done', "sh"],
                       {"VIPS_CONCURRENCY": str(n)}) for n in (1, cores)]
            for tool, cmd, extra in tools:
                out = os.path.join(a.work, tool.split()[0] + tool.split()[-1].rstrip("s"))
                env = dict(os.environ, **extra)
                full = cmd + ["--out-dir", out] + files if tool.startswith("Vellumar") else cmd + [out] + files
                got, err = run(full, env, out, a.runs if target != "AVIF" else 1, len(files))
                if got is None:
                    print(f"| {label} | {target} | {tool} | failed: {' / '.join(err)[:60]} | | | | |")
                    continue
                walls[tool] = got[0]
                kept = os.path.join(a.work, "kept-" + tool.replace(" ", "_"))
                shutil.rmtree(kept, ignore_errors=True)
                shutil.move(out, kept)
                outs[tool] = kept
                first = next(t for t in walls if t.split()[0] == tool.split()[0])
                speed = f"{walls[first] / got[0]:.2f}" if first != tool else ""
                print(f"| {label} | {target} | {tool} | {fmt_s(got[0])} | {fmt_s(got[1])} | "
                      f"{got[2]:.0f} | {got[3] / 1e6:.1f} | {speed} |")
                sys.stdout.flush()
            ours = [outs[t] for t in outs if t.startswith("Vellumar")]
            if len(ours) == 2:
                same = all(filecmp.cmp(os.path.join(ours[0], f), os.path.join(ours[1], f), shallow=False)
                           for f in os.listdir(ours[0]))
                print(f"| {label} | {target} | *Vellumar's files at 1 and {cores} threads* | "
                      f"{'the same bytes' if same else 'DIFFER'} | | | | |")
            for d in outs.values():
                shutil.rmtree(d, ignore_errors=True)


if __name__ == "__main__":
    main()
