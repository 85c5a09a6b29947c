#!/usr/bin/python3
"""Size, CPU time and fidelity of the WebP, HEIC, AVIF and JPEG XL encoders at
their speed settings, beside Vellumar's choice and ImageMagick's and libvips's
defaults, on the benchmark photos. Prints one Markdown table per format.

    /usr/bin/python3 bench/encoder_settings.py --cli build-bench/vellumar-convert \\
        --inputs build-bench/inputs [--photos 3]

Every command runs on one core (taskset -c 0, peers asked for one thread);
CPU time is user + system, which a busy machine disturbs less than wall time.
PSNR compares each written file, decoded by the format's reference decoder,
with the source photo. The reference tools use the same libraries as Vellumar
(libwebp, libheif, libjxl), so their settings are the candidates Vellumar's
encoders choose from.
"""
import argparse
import glob
import math
import os
import shutil
import subprocess
import tempfile

import numpy as np
from PIL import Image

ONE_THREAD = {"OMP_NUM_THREADS": "1", "MAGICK_THREAD_LIMIT": "1", "VIPS_CONCURRENCY": "1"}
IM = "/usr/bin/convert"


def candidates(cli):
    def vx(fmt, q):
        return lambda src, out: [cli, "--to", fmt, "--quality", str(q), "--quiet", "--jobs", "1",
                                 "--prefix", os.path.splitext(os.path.basename(out))[0],
                                 "--out-dir", os.path.dirname(out), src]

    def tool(*args):
        return lambda src, out: [a.replace("SRC", src).replace("OUT", out) for a in args]

    webp = [(f"cwebp -q 90 -m {m}" + (" (default)" if m == 4 else ""),
             tool("cwebp", "-quiet", "-q", "90", "-m", str(m), "SRC", "-o", "OUT")) for m in (0, 2, 4, 6)]
    webp += [("Vellumar --quality 90", vx("WEBP", 90)),
             ("ImageMagick -quality 90", tool(IM, "SRC", "-quality", "90", "OUT")),
             ("libvips Q=90", tool("vips", "copy", "SRC", "OUT[Q=90]"))]
    webp_ll = [(f"cwebp -lossless -z {z}", tool("cwebp", "-quiet", "-lossless", "-exact", "-z", str(z),
                                                 "SRC", "-o", "OUT")) for z in (1, 3, 6, 9)]
    webp_ll += [("Vellumar --quality 100", vx("WEBP", 100)),
                ("libvips lossless", tool("vips", "copy", "SRC", "OUT[lossless]"))]
    heic = [(f"heif-enc -q 90 preset={p}" + (" (default)" if p == "slow" else ""),
             tool("heif-enc", "-q", "90", "-p", f"preset={p}", "SRC", "-o", "OUT"))
            for p in ("ultrafast", "fast", "medium", "slow")]
    heic += [("Vellumar --quality 90", vx("HEIC", 90)),
             ("ImageMagick -quality 90", tool(IM, "SRC", "-quality", "90", "OUT")),
             ("libvips Q=90", tool("vips", "heifsave", "SRC", "OUT", "--Q", "90", "--compression", "hevc"))]
    avif = [(f"heif-enc -A -q 90 speed={s}" + (" (default)" if s == 6 else ""),
             tool("heif-enc", "-A", "-q", "90", "-p", f"speed={s}", "-p", "threads=1", "SRC", "-o", "OUT"))
            for s in (4, 6, 8, 9)]
    avif += [("avifenc (defaults: speed 6)", tool("avifenc", "-j", "1", "SRC", "OUT")),
             ("Vellumar --quality 90", vx("AVIF", 90)),
             ("ImageMagick -quality 90", tool(IM, "SRC", "-quality", "90", "OUT")),
             ("libvips Q=90", tool("vips", "heifsave", "SRC", "OUT", "--Q", "90", "--compression", "av1"))]
    jxl = [(f"cjxl -d 1 -e {e}" + (" (default)" if e == 7 else ""),
            tool("cjxl", "-d", "1", "-e", str(e), "--num_threads=0", "SRC", "OUT")) for e in (1, 3, 4, 5, 7)]
    jxl += [("Vellumar --quality 90", vx("JXL", 90)),
            ("libvips Q=90", tool("vips", "jxlsave", "SRC", "OUT", "--Q", "90"))]
    jxl_ll = [(f"cjxl -d 0 -e {e}", tool("cjxl", "-d", "0", "-e", str(e), "--num_threads=0", "SRC", "OUT"))
              for e in (1, 3, 4, 7)]
    jxl_ll += [("Vellumar --quality 100", vx("JXL", 100))]
    return [("WebP, lossy (quality 90)", ".webp", webp), ("WebP, lossless", ".webp", webp_ll),
            ("HEIC (quality 90)", ".heic", heic), ("AVIF (quality 90)", ".avif", avif),
            ("JPEG XL, distance 1 (quality 90)", ".jxl", jxl), ("JPEG XL, lossless", ".jxl", jxl_ll)]


def decode(path, tmp):
    """The written file as an RGB array, through the format's reference decoder."""
    out = os.path.join(tmp, "decoded.png")
    ext = os.path.splitext(path)[1].lower()
    if ext == ".webp":
        cmd = ["dwebp", "-quiet", path, "-o", out]
    elif ext in (".heic", ".avif"):
        cmd = ["heif-convert", path, out]
    else:
        cmd = ["djxl", path, out, "--bits_per_sample=8", "--num_threads=1"]
    subprocess.run(cmd, check=True, capture_output=True)
    return np.asarray(Image.open(out).convert("RGB"), dtype=np.float64)


def psnr(a, b):
    mse = float(np.mean((a - b) ** 2))
    return math.inf if mse == 0 else 10 * math.log10(255 ** 2 / mse)


def cpu_seconds(cmd, env):
    with tempfile.NamedTemporaryFile("r", suffix=".time") as tf:
        r = subprocess.run(["/usr/bin/time", "-f", "%U %S", "-o", tf.name, "taskset", "-c", "0"] + cmd,
                           env=env, capture_output=True, text=True)
        if r.returncode != 0:
            return None, (r.stderr.strip().splitlines() or ["failed"])[-1]
        user, sys_ = tf.read().split()[-2:]
    return float(user) + float(sys_), None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--inputs", required=True)
    ap.add_argument("--photos", type=int, default=3)
    ap.add_argument("--formats", default="", help="only tables whose title contains one of these words")
    a = ap.parse_args()
    pngs = sorted(glob.glob(os.path.join(a.inputs, "photos/png/*.png")))
    if a.photos < len(pngs):
        step = (len(pngs) - 1) / max(a.photos - 1, 1)
        pngs = [pngs[round(i * step)] for i in range(a.photos)]
    sources = {p: np.asarray(Image.open(p).convert("RGB"), dtype=np.float64) for p in pngs}
    megapixels = sum(s.shape[0] * s.shape[1] for s in sources.values()) / 1e6
    env = dict(os.environ, **ONE_THREAD)
    print(f"{len(pngs)} photos, {megapixels:.1f} megapixels, one core each\n")
    for title, ext, rows in candidates(os.path.abspath(a.cli)):
        if a.formats and not any(w.lower() in title.lower() for w in a.formats.split(",")):
            continue
        print(f"### {title}\n")
        print("| encoder | CPU s | MB written | bits per pixel | PSNR dB (lowest) |")
        print("|---|---:|---:|---:|---:|")
        for name, build in rows:
            tmp = tempfile.mkdtemp()
            total_cpu, total_bytes, worst, failure = 0.0, 0, math.inf, None
            for i, src in enumerate(pngs):
                out = os.path.join(tmp, f"p{i}{ext}")
                cpu, failure = cpu_seconds(build(src, out), env)
                if failure:
                    break
                if not os.path.exists(out):  # vellumar-convert appends the row number and its own case
                    found = glob.glob(os.path.join(tmp, f"p{i}1.*"))
                    if not found:
                        failure = "no output"
                        break
                    out = found[0]
                total_cpu += cpu
                total_bytes += os.path.getsize(out)
                worst = min(worst, psnr(decode(out, tmp), sources[src]))
            shutil.rmtree(tmp, ignore_errors=True)
            if failure:
                print(f"| {name} | failed: {failure[:60]} | | | |")
            else:
                bpp = total_bytes * 8 / (megapixels * 1e6)
                print(f"| {name} | {total_cpu:.1f} | {total_bytes / 1e6:.2f} | {bpp:.2f} | "
                      f"{'lossless' if worst == math.inf else f'{worst:.1f}'} |")
        print()


if __name__ == "__main__":
    main()
