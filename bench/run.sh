#!/usr/bin/env bash
# Benchmark: builds vellumar-convert in Release, makes the input sets when they
# are missing, and times Vellumar against ImageMagick, GraphicsMagick, libvips
# and Pillow on the same files (see docs/performance.md).
#
#   bench/run.sh [compare.py options]     e.g. --runs 5, --photos 5, --modes all,
#                                          --workloads jpeg-png,jpeg-bmp
#   BENCH_KERNELS=1 bench/run.sh          also runs the micro-benchmarks
#   BENCH_PYTHON=1 bench/run.sh           also the Python package: threads and
#                                          Dask workers beside --jobs
#
# Installs what is missing of scripts/packages/run/ and bench/ first.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run bench
build=build-bench
inputs=${BENCH_INPUTS:-$build/inputs}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELLUMAR_BUILD_BENCH=ON \
  -DVELLUMAR_BUILD_GUI=OFF -DVELLUMAR_BUILD_TESTS=OFF >/dev/null
ninja -C "$build" -j2 vellumar-convert vellumar_kernels >/dev/null

if [ ! -f "$inputs/DONE" ]; then
  echo "making the inputs in $inputs (a few minutes, once)"
  /usr/bin/python3 bench/make_inputs.py "$inputs"
elif [ ! -d "$inputs/photos/webp" ]; then
  /usr/bin/python3 bench/make_inputs.py --newer "$inputs"
fi

echo "# Vellumar benchmark, $(date -u '+%Y-%m-%d %H:%M UTC')"
echo
echo "Machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p' | head -1)," \
  "$(free -g | awk '/^Mem:/ {print $2}') GiB memory; load before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Peers: $(/usr/bin/convert -version | sed -n '1s/^Version: //p' | cut -d' ' -f1-2)," \
  "$(gm version | head -1 | cut -d' ' -f1-2), $(vips --version), Pillow" \
  "$(/usr/bin/python3 -c 'import PIL; print(PIL.__version__)')"

/usr/bin/python3 bench/compare.py --cli "$build/vellumar-convert" --inputs "$inputs" \
  --json "$build/bench-results.json" "$@"

if [ "${BENCH_KERNELS:-0}" = 1 ]; then
  echo
  echo "## Micro-benchmarks"
  "$build/bench/vellumar_kernels" --benchmark_min_time=0.5
fi

if [ "${BENCH_PYTHON:-0}" = 1 ]; then
  echo
  echo "## Python package"
  ninja -C "$build" -j2 vellumar_python >/dev/null
  PYTHONPATH="$build/python" /usr/bin/python3 bench/python_bench.py \
    --cli "$build/vellumar-convert" --photos "$inputs/photos/jpg"
fi
