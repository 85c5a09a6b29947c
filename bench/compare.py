#!/usr/bin/python3
"""Runs vellumar-convert and its peers side by side on the same files and prints
Markdown tables. Normally started through bench/run.sh, which builds and makes
the inputs first.

    compare.py --cli build-bench/vellumar-convert --inputs build-bench/inputs
               [--runs 3] [--photos 20] [--small 200] [--modes all,one]
               [--workloads jpeg-png,...] [--json results.json]

Each command runs --runs times under /usr/bin/time (wall, user+sys, peak RSS);
the repetitions are interleaved across tools so that a change in machine load
hits every tool alike. Reported: median wall, median CPU, median peak RSS, and
the total size of what the tool wrote (the same every run).
Modes: "all" lets every tool use every core (Vellumar's default --jobs, the
peers' own threading); "one" pins every command to one core with taskset and
asks the peers for one thread.
"""
import argparse
import glob
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
IM_CONVERT = "/usr/bin/convert"  # past any wrapper on PATH
SIZE_MATTERS = {"jpeg-png"}  # lossless targets whose size depends on the effort spent
WEB_LOOP = "1600 800 400"
WEB_SIZES = ",".join(f"{s}x{s}" for s in WEB_LOOP.split())
OUTPUTS_PER_FILE = {"web-bundle": 6, "pdf-png": 20}
# Peers whose output is another picture: left out of the fastest-peer summary.
NOT_THE_SAME_WORK = {("raw-jpeg", "libvips")}  # reads the DNG's preview, not the mosaic
ONE_THREAD_ENV = {"OMP_NUM_THREADS": "1", "MAGICK_THREAD_LIMIT": "1", "VIPS_CONCURRENCY": "1"}


def shell_loop(target):
    """Shell loop over "$@" running one command per file (vips has no batch mode)."""
    return ["sh", "-c", f'for f; do n="${{f##*/}}"; n="${{n%.*}}"; {target}; done', "sh"]


def workloads(cli, inputs, nphotos, nsmall):
    def pick(files):
        # An evenly spread subset keeps the mix of sizes (2 to 12 MP).
        if nphotos >= len(files) or nphotos < 2:
            return files[:max(nphotos, 0)]
        return [files[round(i * (len(files) - 1) / (nphotos - 1))] for i in range(nphotos)]

    jpg = pick(sorted(glob.glob(os.path.join(inputs, "photos/jpg/*.jpg"))))
    bmp = pick(sorted(glob.glob(os.path.join(inputs, "photos/bmp/*.bmp"))))
    png = pick(sorted(glob.glob(os.path.join(inputs, "photos/png/*.png"))))
    heic = pick(sorted(glob.glob(os.path.join(inputs, "photos/heic/*.heic"))))
    webp = pick(sorted(glob.glob(os.path.join(inputs, "photos/webp/*.webp"))))
    small = sorted(glob.glob(os.path.join(inputs, "small/*.png")))[:nsmall]
    tif16 = pick(sorted(glob.glob(os.path.join(inputs, "photos/tif16/*.tif"))))
    dng = sorted(glob.glob(os.path.join(inputs, "raw/*.dng")))
    anim = os.path.join(inputs, "anim/anim.gif")
    svg = sorted(glob.glob(os.path.join(inputs, "vector/svg/*.svg")))
    pdf = os.path.join(inputs, "vector/doc.pdf")
    pages = " ".join(str(i) for i in range(20))
    pil = ["/usr/bin/python3", os.path.join(HERE, "pillow_convert.py")]

    def vx(fmt, *opts):
        return lambda out, jobs: [cli, "--to", fmt, "--quiet", "--out-dir", out, *opts] + (
            ["--jobs", str(jobs)] if jobs else [])

    def im(fmt, *opts):
        return lambda out: ["mogrify", "-path", out, "-format", fmt, *opts]

    def gm(fmt, *opts):
        return lambda out: ["gm", "mogrify", "-output-directory", out, "-format", fmt, *opts]

    def vips(template):
        return lambda out: shell_loop(template.replace("OUT", out))

    def pillow(fmt):
        return lambda out: pil + [fmt, out]

    # name: (files, vellumar, {peer: command builder}, baseline or None, note)
    return {
        "jpeg-png": (jpg, vx("PNG"), {
            "ImageMagick": im("png", "-define", "png:compression-level=6"),
            "GraphicsMagick": gm("png", "-quality", "65"),
            "libvips": vips('vips copy "$f" "OUT/$n.png[compression=6,filter=all]"'),
            "Pillow": pillow("png"),
        }, None, "level 6, adaptive row filters everywhere (Vellumar: libdeflate, the peers: zlib)"),
        "jpeg-bmp": (jpg, vx("BMP"), {
            "ImageMagick": im("bmp"),
            "GraphicsMagick": gm("bmp"),
            "libvips": vips('vips magicksave "$f" "OUT/$n.bmp" --format BMP'),
            "Pillow": pillow("bmp"),
        }, ("djpeg -bmp", vips('djpeg -bmp -outfile "OUT/$n.bmp" "$f"')), ""),
        "bmp-jpeg": (bmp, vx("JPG"), {
            "ImageMagick": im("jpg", "-quality", "90", "-sampling-factor", "2x2"),
            "GraphicsMagick": gm("jpg", "-quality", "90", "-sampling-factor", "2x2"),
            "libvips": vips('vips copy "$f" "OUT/$n.jpg[Q=90,subsample-mode=on]"'),
            "Pillow": pillow("jpg"),
        }, ("cjpeg -quality 90", vips('cjpeg -quality 90 -outfile "OUT/$n.jpg" "$f"')),
            "quality 90, 4:2:0 everywhere"),
        "heic-jpeg": (heic, vx("JPG"), {
            "ImageMagick": im("jpg", "-quality", "90", "-sampling-factor", "2x2"),
            "libvips": vips('vips copy "$f" "OUT/$n.jpg[Q=90,subsample-mode=on]"'),
        }, ("heif-convert -q 90", vips('heif-convert -q 90 "$f" "OUT/$n.jpg" >/dev/null')),
            "phone-like HEIC (heif-enc -q 50) to JPEG quality 90"),
        "webp-png": (webp, vx("PNG"), {
            "ImageMagick": im("png", "-define", "png:compression-level=6"),
            "libvips": vips('vips copy "$f" "OUT/$n.png[compression=6,filter=all]"'),
        }, ("dwebp", vips('dwebp -quiet "$f" -o "OUT/$n.png"')),
            "WebP written by cwebp -q 90; PNG level 6 (dwebp: libpng's default level)"),
        "jpeg-webp": (jpg, vx("WEBP"), {
            "ImageMagick": im("webp", "-quality", "90"),
            "libvips": vips('vips copy "$f" "OUT/$n.webp[Q=90]"'),
        }, ("cwebp -q 90", vips('cwebp -quiet -q 90 "$f" -o "OUT/$n.webp"')),
            "lossy WebP, quality 90"),
        "jpeg-avif": (jpg, vx("AVIF"), {
            "ImageMagick": im("avif", "-quality", "90"),
            "libvips": vips('vips heifsave "$f" "OUT/$n.avif" --Q 90 --compression av1'),
        }, ("heif-enc -A -q 90", vips('heif-enc -A -q 90 "$f" -o "OUT/$n.avif" >/dev/null')),
            "AVIF through libheif and libaom, quality 90; each tool at its own AV1 speed"),
        "png-gif": (png, vx("GIF"), {
            "ImageMagick": im("gif"),
            "GraphicsMagick": gm("gif"),
            "libvips": vips('vips copy "$f" "OUT/$n.gif"'),
            "Pillow": pillow("gif"),
        }, None, "peers build an adaptive palette (most with dithering); Vellumar maps to "
                 "its fixed 256-colour palette"),
        "png-gif-adaptive": (png, vx("GIF", "--palette", "adaptive", "--dither", "floyd-steinberg"), {
            "ImageMagick": im("gif"),
            "libvips": vips('vips gifsave "$f" "OUT/$n.gif"'),
        }, None, "adaptive palette with Floyd-Steinberg; ImageMagick's and libvips' default GIF "
                 "(docs/gif.md compares the pictures)"),
        "jpeg-resize": (jpg, vx("JPG", "--resize", "800x800"), {
            "ImageMagick": im("jpg", "-resize", "800x800", "-quality", "90",
                              "-sampling-factor", "2x2"),
            "libvips": vips('vipsthumbnail "$f" --size 800x800 -o "OUT/$n.jpg[Q=90]"'),
        }, None, "fit inside 800 x 800, JPEG quality 90; Vellumar and vipsthumbnail decode large JPEGs smaller first"),
        "jpeg-tiff": (jpg, vx("TIF"), {
            "ImageMagick": im("tif", "-compress", "jpeg", "-quality", "90"),
            "GraphicsMagick": gm("tif", "-compress", "jpeg", "-quality", "90"),
            "libvips": vips('vips copy "$f" "OUT/$n.tif[compression=jpeg,Q=90]"'),
            "Pillow": pillow("tif"),
        }, None, "JPEG-compressed TIFF, quality 90 (libvips writes YCbCr 4:2:0, the others RGB)"),
        # No pixel decoded or coded again: JPEG XL keeping the original JPEG,
        # and JPEG to JPEG by the coefficients (the peers re-encode).
        "jpeg-jxl-lossless": (jpg, vx("JXL"), {}, (
            "cjxl --lossless_jpeg=1", vips('cjxl --quiet --lossless_jpeg=1 "$f" "OUT/$n.jxl"')),
            "JPEG coefficients into JPEG XL, the original recoverable; effort 7 on both sides"),
        "jpeg-jpeg-strip": (jpg, vx("JPG", "--strip"), {
            "ImageMagick": im("jpg", "-strip", "-quality", "90"),
            "libvips": vips('vips copy "$f" "OUT/$n.jpg[Q=90,strip]"'),
            "Pillow": pillow("jpg"),
        }, ("jpegtran -copy none", vips('jpegtran -copy none -outfile "OUT/$n.jpg" "$f"')),
            "metadata removed; Vellumar and jpegtran copy the coefficients, the peers re-encode at 90"),
        "jpeg-tiff-lossless": (jpg, vx("TIF", "--lossless"), {
            "ImageMagick": im("tif", "-compress", "jpeg", "-quality", "90"),
            "libvips": vips('vips copy "$f" "OUT/$n.tif[compression=jpeg,Q=90]"'),
        }, None, "Vellumar copies the coefficients into a JPEG-compressed page; the peers decode "
                 "and re-encode at 90"),
        "small-ico": (small, vx("ICO"), {
            "ImageMagick": im("ico"),
            "libvips": vips('vips magicksave "$f" "OUT/$n.ico" --format ICO'),
            "Pillow": pillow("ico"),
        }, None, "GraphicsMagick cannot write ICO"),
        "small-bmp": (small, vx("BMP"), {
            "ImageMagick": im("bmp"),
            "GraphicsMagick": gm("bmp"),
            "libvips": vips('vips magicksave "$f" "OUT/$n.bmp" --format BMP'),
            "Pillow": pillow("bmp"),
        }, None, ""),
        # One source, three sizes in two formats: one pass decoding each photo
        # once, against six runs of Vellumar and a thumbnailer called per output.
        "web-bundle": (jpg, vx("WEBP,JPG", "--quality", "90", "--resize", WEB_SIZES,
                               "--name", "{name}-{size}{ext}"), {
            "vellumar-convert, six runs": lambda out: ["sh", "-c", (
                f'for s in {WEB_LOOP}; do for t in WEBP JPG; do "{cli}" --to $t --quality 90 '
                f'--resize ${{s}}x$s --name "{{name}}-$s{{ext}}" --quiet --out-dir "{out}" "$@" '
                '|| exit 1; done; done'), "sh"],
            "libvips": vips(f'for s in {WEB_LOOP}; do for t in webp jpg; do vipsthumbnail "$f" '
                            '--size ${s}x$s -o "OUT/$n-$s.$t[Q=90]"; done; done'),
            "ImageMagick": lambda out: shell_loop(
                f'{IM_CONVERT} "$f" -quality 90 ' + " ".join(
                    f'\\( +clone -resize {s}x{s} -write "{out}/$n-{s}.webp" -write "{out}/$n-{s}.jpg" '
                    '+delete \\)' for s in WEB_LOOP.split()) + " null:"),
        }, None, "3 sizes (fit 1600, 800, 400) x WebP and JPEG at quality 90: 6 files per photo"),
        # Nothing lost on the way: every frame, every bit of depth.
        "gif-webp-anim": ([anim], vx("WEBP"), {
            "ImageMagick": im("webp", "-quality", "90"),
            "libvips": vips('vips copy "$f[n=-1]" "OUT/$n.webp[Q=90]"'),
            "Pillow": pillow("webp"),
        }, None, "100-frame GIF to animated lossy WebP at quality 90, every frame kept"),
        "tif16-png": (tif16, vx("PNG"), {
            "ImageMagick": im("png", "-define", "png:compression-level=6"),
            "libvips": vips('vips copy "$f" "OUT/$n.png[compression=6,filter=all]"'),
            "Pillow": pillow("png"),
        }, None, "16-bit RGB TIFF (deflate) to PNG level 6; Pillow reads such TIFFs as 8-bit "
                 "and writes 8-bit PNG"),
        # Drawings and documents: each page or drawing rendered, then coded.
        "pdf-png": ([pdf], lambda out, jobs: ["sh", "-c", (
            f'for i in {pages}; do "{cli}" --to PNG --quiet --frame $i --name "{{name}}-$i{{ext}}" '
            f'--out-dir "{out}" "$1" || exit 1; done'), "sh"], {
            "libvips": vips(f'for i in {pages}; do vips copy "$f[page=$i,dpi=150]" '
                            '"OUT/$n-$i.png[compression=6,filter=all]"; done'),
        }, ("pdftocairo -png -r 150", vips('pdftocairo -png -r 150 "$f" "OUT/$n"')),
            "20 pages of 600x450 pt at 150 dpi (1250x938), one PNG each, a run per page; "
            "ImageMagick's policy here refuses PDF"),
        "svg-webp": (svg, vx("WEBP"), {
            "ImageMagick": im("webp", "-quality", "90"),
            "libvips": vips('vips copy "$f" "OUT/$n.webp[Q=90]"'),
        }, ("rsvg-convert + cwebp", vips('rsvg-convert "$f" -o "OUT/$n.png" && '
                                         'cwebp -quiet -q 90 "OUT/$n.png" -o "OUT/$n.webp" && rm "OUT/$n.png"')),
            "40 drawings of 800x600 CSS pixels at 96 dpi to lossy WebP at quality 90"),
        # Camera raw: developing the mosaic, or only the embedded JPEG preview.
        "raw-jpeg": (dng, vx("JPG"), {
            "ImageMagick": im("jpg", "-quality", "90", "-sampling-factor", "2x2"),
            "libvips": vips('vips copy "$f" "OUT/$n.jpg[Q=90,subsample-mode=on]"'),
        }, ("dcraw_emu -w -T (16-bit TIFF)", vips(
            'dcraw_emu -w -6 -T -o 1 -g 2.4 12.92 -Z "OUT/$n.tiff" "$f"')),
            "generated DNG (bench/make_inputs.py --raw) developed and written as JPEG quality 90; "
            "libvips reads the first TIFF directory, the preview, not the mosaic"),
        "raw-preview-jpeg": (dng, vx("JPG", "--raw-preview"), {
            "ImageMagick": im("jpg", "-quality", "90", "-sampling-factor", "2x2"),
        }, ("simple_dcraw -e (preview as stored)", vips('cp "$f" "OUT/$n.dng" && simple_dcraw -e "OUT/$n.dng" && rm "OUT/$n.dng"')),
            "the embedded half-size JPEG preview, written as JPEG quality 90 (ImageMagick develops "
            "the mosaic: it has no preview switch)"),
        "gif-anim": ([anim],
                     lambda out, jobs: [cli, "--info", "--frame", "99"],
                     {
                         "ImageMagick": lambda out: [IM_CONVERT, "-coalesce", "null:"],
                         "GraphicsMagick": lambda out: ["gm", "convert", "-coalesce", "null:"],
                         "libvips": lambda out: ["vips", "avg", anim + "[n=-1]"],
                         "Pillow": lambda out: pil + ["--frames"],
                     }, None, "decode all 100 frames composed on the screen; nothing written"),
    }


def build_command(base, files, name):
    """Returns (command, working folder). Files go after the options; a few tools
    need them elsewhere. gm mogrify puts the input path as given under
    -output-directory, so it runs, as a user would, in the inputs' folder."""
    if base[:2] == ["gm", "mogrify"]:
        return base + [os.path.basename(f) for f in files], os.path.dirname(files[0])
    return build_command_args(base, files, name), None


def build_command_args(base, files, name):
    if name == "gif-anim":
        if base[0] == IM_CONVERT:
            return [IM_CONVERT, files[0], *base[1:]]
        if base[:2] == ["gm", "convert"]:
            return ["gm", "convert", files[0], *base[2:]]
        if base[0] == "vips":
            return base
    return base + files


def measure(cmd, env, pin, cwd=None, out=None, expected=0):
    with tempfile.NamedTemporaryFile("r", suffix=".time") as tf:
        full = ["/usr/bin/time", "-f", "%e %U %S %M", "-o", tf.name]
        if pin:
            full += ["taskset", "-c", "0"]
        r = subprocess.run(full + cmd, env=env, cwd=cwd, stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE, text=True)
        line = tf.read().strip().splitlines()[-1] if r.returncode == 0 else ""
    if r.returncode != 0:
        return None, r.stderr.strip().splitlines()[-3:]
    if expected and len(os.listdir(out)) != expected:
        return None, [f"wrote {len(os.listdir(out))} of {expected} files"]
    written = sum(os.path.getsize(os.path.join(out, f)) for f in os.listdir(out)) if out else 0
    wall, user, sys_, rss = line.split()
    return (float(wall), float(user) + float(sys_), int(rss) / 1024.0, written), None


def fmt_s(v):
    return f"{v:.2f}" if v < 100 else f"{v:.0f}"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--inputs", required=True)
    ap.add_argument("--work", default=None, help="scratch folder for outputs")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--photos", type=int, default=20, help="photos per set (spread over the sizes)")
    ap.add_argument("--small", type=int, default=200)
    ap.add_argument("--modes", default="all,one")
    ap.add_argument("--slow-factor", type=float, default=5.0,
                    help="a tool slower than this many times Vellumar (and over 3 s) runs once; 0: always --runs")
    ap.add_argument("--workloads", default="")
    ap.add_argument("--tools", default="", help="only tools whose names contain one of these words")
    ap.add_argument("--json", default="")
    a = ap.parse_args()

    work = a.work or os.path.join(os.path.dirname(os.path.abspath(a.cli)), "bench-out")
    table = workloads(os.path.abspath(a.cli), a.inputs, a.photos, a.small)
    chosen = [w for w in a.workloads.split(",") if w] or list(table)
    results = {}
    for mode in a.modes.split(","):
        pin = mode == "one"
        env = dict(os.environ)
        if pin:
            env.update(ONE_THREAD_ENV)
        print(f"\n## {'One core (taskset -c 0, peers asked for one thread)' if pin else 'All cores (' + str(os.cpu_count()) + ')'}\n")
        print("| workload | tool | wall s | CPU s | peak RSS MiB | output MB | Vellumar/tool wall |")
        print("|---|---|---:|---:|---:|---:|---:|")
        for name in chosen:
            files, vx, peers, baseline, note = table[name]
            if not files:
                print(f"| {name} | (no inputs) | | | | | |")
                continue
            tools = [("Vellumar --jobs 1", lambda out: vx(out, 1))]
            if not pin and name != "gif-anim":
                tools.append((f"Vellumar (default --jobs {os.cpu_count()})", lambda out: vx(out, 0)))
            tools += list(peers.items())
            if baseline:
                tools.append((baseline[0] + " (library alone)", baseline[1]))
            if a.tools:
                keep = [t.lower() for t in a.tools.split(",")]
                tools = [t for t in tools if any(k in t[0].lower() for k in keep)]
            samples = {t: [] for t, _ in tools}
            errors = {}
            for rep in range(a.runs):
                fastest_ours = min((r[0] for t, rs in samples.items() if t.startswith("Vellumar")
                                    for r in rs), default=None)
                for tool, builder in tools:
                    if tool in errors:
                        continue
                    if (rep > 0 and fastest_ours and a.slow_factor > 0
                            and samples[tool][0][0] > max(a.slow_factor * fastest_ours, 3.0)):
                        continue  # far behind after one run: more runs would not change the verdict
                    out = os.path.join(work, name, tool.split()[0])
                    shutil.rmtree(out, ignore_errors=True)
                    os.makedirs(out)
                    cmd, cwd = build_command(builder(out), files, name)
                    got, err = measure(cmd, env, pin, cwd, out,
                                       0 if name == "gif-anim"
                                       else len(files) * OUTPUTS_PER_FILE.get(name, 1))
                    if got is None:
                        errors[tool] = err
                    else:
                        samples[tool].append(got)
                    shutil.rmtree(out, ignore_errors=True)
            med = {}
            for tool, runs in samples.items():
                if runs:
                    med[tool] = tuple(statistics.median(r[i] for r in runs) for i in range(3)) + (
                        runs[-1][3],)
            ours = med.get("Vellumar --jobs 1" if pin or name == "gif-anim"
                           else f"Vellumar (default --jobs {os.cpu_count()})")
            for tool, _ in tools:
                if tool in errors:
                    print(f"| {name} | {tool} | failed: {' / '.join(errors[tool])[:80]} | | | | |")
                    continue
                wall, cpu, rss, written = med[tool]
                ratio = f"{ours[0] / wall:.2f}" if ours and not tool.startswith("Vellumar") else ""
                label = tool if len(samples[tool]) == a.runs else f"{tool} ({len(samples[tool])} run)"
                size = f"{written / 1e6:.1f}" if written else ""
                print(f"| {name} | {label} | {fmt_s(wall)} | {fmt_s(cpu)} | {rss:.0f} | {size} | {ratio} |")
            if note:
                print(f"| {name} | *{note}* | | | | | |")
            sys.stdout.flush()
            results.setdefault(mode, {})[name] = {
                "files": len(files), "median": med, "errors": errors,
                "runs": {t: r for t, r in samples.items()}}
        # Lossless output sizes differ between tools; compare times only among
        # peers that did the same amount of compression work.
        for name in [w for w in chosen if w in SIZE_MATTERS and w in results.get(mode, {})]:
            m = results[mode][name]["median"]
            pillow = m.get("Pillow")
            ours = m.get("Vellumar --jobs 1" if pin else f"Vellumar (default --jobs {os.cpu_count()})")
            if not pillow or not ours or not pillow[3]:
                continue
            alike = {t: v for t, v in m.items() if not t.startswith("Vellumar")
                     and abs(v[3] / pillow[3] - 1) <= 0.05}
            fastest = min(alike, key=lambda t: alike[t][0])
            print(f"\n- {name}: fastest peer whose output is within 5 % of Pillow's: {fastest} "
                  f"({fmt_s(alike[fastest][0])} s); Vellumar / it: {ours[0] / alike[fastest][0]:.2f}; "
                  f"Vellumar's output / Pillow's: {ours[3] / pillow[3]:.3f}")
    # One line per workload: Vellumar's time over the fastest peer's in the same run.
    for mode, by_name in results.items():
        print(f"\n## Vellumar over the fastest peer ({mode})\n")
        print("| workload | Vellumar s | fastest peer | its s | Vellumar / it |\n|---|---:|---|---:|---:|")
        for name, r in by_name.items():
            m = r["median"]
            ours = m.get("Vellumar --jobs 1" if mode == "one" or name == "gif-anim"
                         else f"Vellumar (default --jobs {os.cpu_count()})")
            peers = {t: v for t, v in m.items() if not t.lower().startswith("vellumar")
                     and (name, t) not in NOT_THE_SAME_WORK}
            if ours and peers:
                best = min(peers, key=lambda t: peers[t][0])
                print(f"| {name} | {fmt_s(ours[0])} | {best} | {fmt_s(peers[best][0])} | {ours[0] / peers[best][0]:.2f} |")
    if "all" in results:
        print("\n## Throughput of --jobs 2 against --jobs 1 (all cores)\n")
        for name, r in results["all"].items():
            m = r["median"]
            one = m.get("Vellumar --jobs 1")
            many = m.get(f"Vellumar (default --jobs {os.cpu_count()})")
            if one and many:
                print(f"- {name}: {one[0] / many[0]:.2f}x ({fmt_s(one[0])} s -> {fmt_s(many[0])} s)")
    photo = os.path.join(a.inputs, "photos/jpg/photo19.jpg")  # 4000 x 3000
    if os.path.exists(photo) and "all" in a.modes.split(","):
        print("\n## Peak memory of one 12-megapixel photo (4000 x 3000), --jobs 1\n")
        print("One decoded picture at 24 bits: 36.0 MB (34.3 MiB).\n")
        for fmt in ("PNG", "BMP"):
            out = os.path.join(work, "memory")
            runs = []
            for _ in range(a.runs):
                shutil.rmtree(out, ignore_errors=True)
                os.makedirs(out)
                got, err = measure([os.path.abspath(a.cli), "--to", fmt, "--quiet", "--out-dir", out,
                                    "--jobs", "1", photo], dict(os.environ), False)
                if got:
                    runs.append(got)
            shutil.rmtree(out, ignore_errors=True)
            if runs:
                rss = statistics.median(r[2] for r in runs)
                print(f"- JPEG->{fmt}: peak RSS {rss:.1f} MiB = {rss * 1048576 / 36e6:.2f}x one decoded picture")
                results.setdefault("memory", {})[fmt] = rss
    if a.json:
        with open(a.json, "w") as f:
            json.dump(results, f, indent=1)


if __name__ == "__main__":
    main()
