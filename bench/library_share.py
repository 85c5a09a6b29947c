#!/usr/bin/python3
"""Where a row's work goes: runs vellumar-convert under callgrind on one file
per workload and splits the instructions between the codec libraries (the
"library limit": what the library calls alone cost), the dynamic linker
(once a process, and once for each codec module loaded), and Vellumar's own
code (the codec modules included). Instruction counts do not depend on the machine's load,
so this runs beside other work.

    /usr/bin/python3 bench/library_share.py --cli build/vellumar-convert \
        --inputs /work/bench-inputs [--photo photos/jpg/photo00.jpg]
"""
import argparse
import collections
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

CODEC_LIBS = ("libjpeg", "libpng", "libz", "libwebp", "libsharpyuv", "libheif", "libde265",
              "libx265", "libaom", "libdav1d", "libtiff", "libdeflate", "libjxl", "libopenjp2",
              "liblcms2", "libhwy", "libbrotli", "libraw", "libgomp")
START_LIBS = ("ld-linux",)


def shares(cmd):
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "cg.out")
        subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", *cmd,
                        "--out-dir", os.path.join(tmp, "o")], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        text = subprocess.run(["callgrind_annotate", "--auto=no", "--threshold=100", out],
                              check=True, capture_output=True, text=True).stdout
    by = collections.Counter()
    for line in text.splitlines():
        m = re.match(r"\s*([\d,]+) \(.*?\)\s+(.*)$", line)
        if not m or "PROGRAM TOTALS" in line:
            continue
        n = int(m.group(1).replace(",", ""))
        lib = re.search(r"\[([^\]]*)\]$", m.group(2))
        name = os.path.basename(lib.group(1)) if lib else "vellumar"
        by[name] += n
    return by


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--inputs", required=True)
    a = ap.parse_args()
    cli = os.path.abspath(a.cli)
    photo = sorted(glob.glob(os.path.join(a.inputs, "photos/jpg/*.jpg")))[0]
    heic = sorted(glob.glob(os.path.join(a.inputs, "photos/heic/*.heic")))[0]
    small = sorted(glob.glob(os.path.join(a.inputs, "small/*.png")))[:50]
    dng = sorted(glob.glob(os.path.join(a.inputs, "raw/*.dng")))
    rows = [("JPEG->TIFF", ["TIF"], [photo]), ("JPEG->WebP", ["WEBP"], [photo]),
            ("HEIC->JPEG", ["JPG"], [heic]), ("50 small PNG->BMP", ["BMP"], small),
            (f"{len(dng)} raw previews->JPEG", ["JPG", "--raw-preview"], dng)]
    print("| workload | instructions | codec libraries | start-up (dynamic linker) "
          "| Vellumar and the C library | total / library limit |")
    print("|---|---:|---:|---:|---:|---:|")
    for label, target, files in rows:
        by = shares([cli, "--to", *target, "--quiet", "--jobs", "1", "--threads", "1", *files])
        total = sum(by.values())
        codec = sum(n for k, n in by.items() if k.startswith(CODEC_LIBS))
        # The dynamic linker: the program's libraries at start, a codec
        # module's when its first file comes.
        start = sum(n for k, n in by.items() if k.startswith(START_LIBS))
        own = total - codec - start
        print(f"| {label} | {total / 1e6:.0f} M | {100 * codec / total:.1f} % | "
              f"{100 * start / total:.1f} % | {100 * own / total:.1f} % | {total / codec:.3f} |")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
