#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each of them.
#   fuzz/run.sh [SECONDS] [TARGET...]
# SECONDS per target (default 30); 0 only replays the seed corpora once (a
# deterministic check); "long" runs each target until 10 million executions or
# 30 minutes, whichever comes first. TARGETs default to all. Seed corpora are the test
# fixtures; findings land in build-fuzz/findings/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run fuzz
seconds=${1:-30}
shift || true
build=build-fuzz
mkdir -p "$build"
# One build at a time: a long run on each core may start two of these at once.
(
  flock 9
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DVELLUMAR_FUZZ=ON \
    -DVELLUMAR_BUILD_TESTS=OFF -DVELLUMAR_BUILD_GUI=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j"$(nproc)"
) 9>"$build/.build-lock"

corpus_for() {  # target -> extensions of its seeds
  case "$1" in
    bmp) echo bmp ;; gif) echo gif ;; jpeg|exif) echo "jpg jpeg" ;; png) echo png ;;
    ico) echo "ico cur" ;; tiff) echo "tif tiff" ;; tga) echo tga ;; pcx) echo pcx ;;
    wbmp) echo wbmp ;; metafile) echo "wmf emf" ;; jp2) echo jp2 ;; jpc) echo "j2k j2c jpc" ;;
    pgx) echo pgx ;; pnm) echo "pnm pgm ppm pbm" ;; ras) echo ras ;;
    webp) echo webp ;; heif|avif) echo "heic heif avif" ;; jxl) echo jxl ;; qoi) echo qoi ;;
    psd) echo "psd psb" ;; exr) echo exr ;; svg) echo "svg svgz" ;; pdf) echo pdf ;; raw) echo "dng cr2 cr3 nef arw orf rw2 raf pef raw" ;;
    memfile) echo "" ;;  # byte-coded calls: pictures make poor seeds
    *) echo any ;;  # a bare * would be expanded against the working directory
  esac
}

dict_for() {
  case "$1" in
    gif|png|jpeg|tiff|metafile|webp|jxl|qoi|psd|exr|svg|pdf|raw) echo "fuzz/dict/$1.dict" ;;
    heif|avif) echo "fuzz/dict/heif.dict" ;;
    exif) echo "fuzz/dict/jpeg.dict" ;;
    jp2|jpc) echo "fuzz/dict/jp2.dict" ;;
    *) echo "" ;;
  esac
}

all=(probe bmp gif jpeg png ico tiff tga pcx wbmp metafile jp2 jpc pgx pnm ras webp heif avif jxl qoi psd exr svg pdf raw
     memfile roundtrip exif)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")

# The libraries' own leaks the test suite also suppresses (x265 keeps a block per
# HEVC encode the round-trip target makes); leaks of ours still stop the run.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp}

status=0
for t in "${targets[@]}"; do
  exe="$build/fuzz/fuzz_decode_$t"
  [ -x "$exe" ] || exe="$build/fuzz/fuzz_$t"
  [ -x "$exe" ] || { echo "skip $t (not built)"; continue; }
  corpus="$build/corpus/$t"
  findings="$build/findings/$t"
  mkdir -p "$corpus" "$findings"
  for ext in $(corpus_for "$t"); do
    if [ "$ext" = any ]; then
      find tests/data -type f ! -name '*.py' ! -name '*.sh' ! -name '*.md' -exec cp -n {} "$corpus/" \; 2>/dev/null || true
    else
      find tests/data -type f -iname "*.$ext" -exec cp -n {} "$corpus/" \; 2>/dev/null || true
    fi
  done
  dict=$(dict_for "$t")
  if [ "$seconds" = 0 ]; then
    args=(-runs=0)
  elif [ "$seconds" = long ]; then
    args=(-runs=10000000 -max_total_time=1800)
  else
    args=(-max_total_time="$seconds")
  fi
  args+=(-timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024
         -artifact_prefix="$findings/" -print_final_stats=1)
  [ -n "$dict" ] && args+=(-dict="$dict")
  echo "== $t ($seconds s)"
  if ! "$exe" "${args[@]}" "$corpus" > "$build/findings/$t.log" 2>&1; then
    echo "FINDING in $t: see $build/findings/$t.log"
    tail -40 "$build/findings/$t.log"
    status=1
  fi
  grep -E '^stat::number_of_executed_units|cov: ' "$build/findings/$t.log" | tail -2 || true
  # one line per run, kept across runs: the campaign's record
  printf '%s\t%s\t%s\t%s\t%s\n' "$(date -u +%FT%TZ)" "$t" "$seconds" \
    "$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/findings/$t.log")" \
    "$(grep -oE 'cov: [0-9]+' "$build/findings/$t.log" | tail -1 | cut -d' ' -f2)" >> "$build/findings/record.tsv"
done
exit $status
