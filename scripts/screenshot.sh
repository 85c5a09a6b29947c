#!/usr/bin/env bash
# Photographs the built window under a virtual X display, in Chinese into
# docs/screenshot.png and in English into docs/screenshot-en.png.
# Builds nothing: pass the build folder (default: build). Installs the virtual
# display when missing.
#   scripts/screenshot.sh --run [build]  a finished run with a failed row, drawn
#                                        off screen by the window's tests, into
#                                        docs/screenshot-run.png
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = "--run" ]; then
  build=${2:-$root/build}
  mkdir -p "$build/tests/xdg-runtime" && chmod 700 "$build/tests/xdg-runtime"
  QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$build/tests/xdg-runtime" \
    VELLUMAR_SCREENSHOT="$root/docs/screenshot-run.png" \
    "$build/tests/gui/gui_tests" --gtest_filter=BatchTest.KeepGoingTriesEveryRowAndShowsEachReason
  echo "wrote $root/docs/screenshot-run.png"
  exit 0
fi
"$root/scripts/install-deps.sh" screenshot
build=${1:-$root/build}
exe="$build/app/gui/vellumar"
out="$root/docs/screenshot.png"
[ -x "$exe" ] || { echo "no window program at $exe; build it first" >&2; exit 1; }
for tool in xvfb-run import convert; do
  command -v "$tool" >/dev/null || { echo "missing $tool (packages xvfb, xauth, imagemagick)" >&2; exit 1; }
done
# The program writes its skin files beside itself: run a copy in a scratch folder.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp "$exe" "$scratch/vellumar"
export scratch
shoot() {  # LANG, output file
  LANG=$1 LC_ALL=$1 xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    "$scratch/vellumar" & pid=$!
    sleep 3
    import -window root "$scratch/screen.png"
    kill "$pid"; wait "$pid" 2>/dev/null || true
  '
  # The window sits at (50, 50), 465 x 387, with no window manager to frame it.
  convert "$scratch/screen.png" -crop 465x387+50+50 +repage -strip -colors 128 "PNG8:$2"
  echo "wrote $2 ($(stat -c %s "$2") bytes)"
}
shoot zh_CN.UTF-8 "$out"
shoot en_US.UTF-8 "$root/docs/screenshot-en.png"
