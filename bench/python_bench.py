"""The Python package's throughput on the photo set: one thread against two
(the GIL is released while converting) and one Dask worker against two,
beside vellumar-convert --jobs 1 and --jobs 2 on the same files.

    PYTHONPATH=build-bench/python python3 bench/python_bench.py \
        --cli build-bench/vellumar-convert --photos build-bench/inputs/photos/jpg

Prints median wall seconds of --runs runs (cluster start-up not counted).
"""

import argparse
import os
import shutil
import statistics
import subprocess
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

import vellumar
import vellumar.dask


def timed(work, runs, out):
    times = []
    for _ in range(runs):
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        start = time.perf_counter()
        work()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--photos", required=True)
    ap.add_argument("--to", default="jpg")
    ap.add_argument("--runs", type=int, default=3)
    args = ap.parse_args()
    photos = vellumar.dask.list_folder(args.photos)
    out = tempfile.mkdtemp(prefix="vellumar-bench-")
    rows = []

    for jobs in (1, 2):
        rows.append((f"vellumar-convert --jobs {jobs}", timed(lambda: subprocess.run(
            [args.cli, "--quiet", "--to", args.to, "--jobs", str(jobs), "--out-dir", out,
             *photos], check=True), args.runs, out)))

    def threads(n):
        with ThreadPoolExecutor(n) as pool:
            list(pool.map(lambda rp: vellumar.convert(rp[1], args.to, out, prefix=f"t{rp[0]}-"),
                          enumerate(photos, 1)))
    for n in (1, 2):
        rows.append((f"vellumar.convert, {n} thread{'s' if n > 1 else ''}",
                     timed(lambda: threads(n), args.runs, out)))

    from distributed import Client, LocalCluster
    for n in (1, 2):
        with LocalCluster(n_workers=n, threads_per_worker=1, dashboard_address=None) as cluster, \
                Client(cluster) as client:
            def run():
                summary = vellumar.dask.convert(client, photos, args.to, out, batch_bytes=1)
                assert summary.failed == 0, summary.failures
            rows.append((f"vellumar.dask, {n} worker{'s' if n > 1 else ''}",
                         timed(run, args.runs, out)))
    shutil.rmtree(out, ignore_errors=True)

    print(f"{len(photos)} photos to {args.to.upper()}, {os.cpu_count()} cores, "
          f"median of {args.runs} runs")
    print()
    print("| how | wall s |")
    print("|---|---:|")
    for name, seconds in rows:
        print(f"| {name} | {seconds:.2f} |")


if __name__ == "__main__":
    main()
