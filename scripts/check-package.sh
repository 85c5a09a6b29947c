#!/usr/bin/env bash
# Checks a built Vellumar Debian package: its name, control fields and
# dependencies, its file list, and that its programs run from the unpacked
# files and keep their own files in the user's folders. The codec modules the
# programs carry (build-deb/modules/*.so) are checked for their libraries too.
#   scripts/check-package.sh build-deb/vellumar_<version>_<arch>.deb [MODULE.so...]
set -euo pipefail
deb=$(realpath "$1")
shift
modules=("$@")
top=$(cd "$(dirname "$0")/.." && pwd)
fail() { echo "check-package: $*" >&2; exit 1; }

version=$(sed -n 's/^project(Vellumar VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
arch=$(dpkg --print-architecture)
[ "$(basename "$deb")" = "vellumar_${version}_${arch}.deb" ] ||
  fail "named $(basename "$deb"), not vellumar_${version}_${arch}.deb"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = vellumar ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)'"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)'"
for f in Maintainer Description Section Installed-Size; do
  [ -n "$(field $f)" ] || fail "no $f field"
done

# Dependencies: package names one a line, version constraints dropped.
depends=$(field Depends | tr ',|' '\n\n' | sed 's/(.*)//; s/[[:space:]]//g' | sed '/^$/d')
! grep -- '-dev$' <<<"$depends" || fail "development packages in Depends"
grep -qx 'fonts-wqy-microhei' <<<"$depends" || fail "no CJK font in Depends"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
dpkg-deb -x "$deb" "$tmp/root"

# Every library a program or one of its modules loads belongs to a package
# that Depends names.
for exe in "$tmp/root/usr/bin/"* "${modules[@]}"; do
  for lib in $(readelf -d "$exe" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p'); do
    # "name => path (address)", or "path (address)" for the dynamic loader.
    path=$(ldd "$exe" | awk -v l="$lib" '
      !p && $1 == l && $2 == "=>" { print $3; p = 1 }
      !p && $1 ~ /^\// && substr($1, length($1) - length(l)) == "/" l { print $1; p = 1 }')
    [ -n "$path" ] || fail "$(basename "$exe") needs $lib, which is not installed here"
    owner=$(dpkg -S "$path" 2>/dev/null || dpkg -S "$(realpath "$path")" 2>/dev/null) ||
      fail "no package owns $path"
    pkg=${owner%%:*}
    grep -qx "$pkg" <<<"$depends" || fail "$(basename "$exe") needs $lib from $pkg, not in Depends"
  done
done

# The file list, with owners and modes; a stray file (say a DATA folder or
# skin files written at build time) fails here.
listing=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $1, $2, $6}' | sort -k3)
expected=$(sort -k3 <<'LIST'
-rwxr-xr-x root/root ./usr/bin/vellumar
-rwxr-xr-x root/root ./usr/bin/vellumar-convert
-rw-r--r-- root/root ./usr/share/applications/vellumar.desktop
-rw-r--r-- root/root ./usr/share/bash-completion/completions/vellumar-convert
-rw-r--r-- root/root ./usr/share/icons/hicolor/scalable/apps/vellumar.svg
-rw-r--r-- root/root ./usr/share/man/man1/vellumar-convert.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/vellumar.1.gz
LIST
)
[ "$listing" = "$expected" ] || fail "file list differs:
$(diff <(echo "$expected") <(echo "$listing") || true)"
! dpkg-deb -c "$deb" | awk '$1 ~ /^d/' | grep -v '^drwxr-xr-x root/root' || fail "odd directory modes"

desktop=$tmp/root/usr/share/applications/vellumar.desktop
grep -qx 'Exec=vellumar' "$desktop" && grep -qx 'Icon=vellumar' "$desktop" ||
  fail "the desktop entry does not start vellumar from PATH with its themed icon"
! grep -q '^Path=' "$desktop" || fail "the desktop entry names a working folder"
gzip -t "$tmp/root/usr/share/man/man1/"*.gz
bash -n "$tmp/root/usr/share/bash-completion/completions/vellumar-convert"

# The programs run from the unpacked files and write nothing beside themselves.
home=$tmp/home
mkdir -p "$home"
run() {
  env -i PATH=/usr/bin:/bin HOME="$home" QT_QPA_PLATFORM=offscreen "$@"
}
cli=$tmp/root/usr/bin/vellumar-convert
[ "$(run "$cli" --version)" = "vellumar-convert $version" ] || fail "--version says '$(run "$cli" --version)'"
samples=("$top"/samples/*)
run "$cli" --to PNG --quiet "${samples[@]}" || fail "converting the samples failed"
for i in $(seq ${#samples[@]}); do
  [ -s "$home/.local/share/vellumar/DATA/main$i.PNG" ] || fail "no main$i.PNG in the user's data folder"
done
[ "$(stat -c %a "$home/.local/share/vellumar")" = 700 ] || fail "the user's data folder is not private"

# The codec modules load inside the unpacked program, one file for each.
module_files=(heif/lossy.heic jxl/alpha.jxl svg/shapes.svg pdf/pages.pdf exr/rgb_half_scan.exr raw/preview_jpeg.dng
              metafile/emf_shapes.emf)
run "$cli" --to PNG --quiet --out-dir "$tmp/module-out" "${module_files[@]/#/$top/tests/data/}" ||
  fail "converting a file of each codec module failed"
[ "$(ls "$tmp/module-out" | wc -l)" = ${#module_files[@]} ] || fail "a codec module's file was not converted"

# The window starts, makes the user's save folder and loads its skin from a
# private folder (no runtime folder is set, so the cache one).
gui=$tmp/root/usr/bin/vellumar
# env replaces itself with the program, so $! is the window's own process.
env -i PATH=/usr/bin:/bin HOME="$home" QT_QPA_PLATFORM=offscreen "$gui" 2>"$tmp/window.log" &
pid=$!
for _ in $(seq 300); do
  [ -f "$home/.cache/vellumar/vskin.so" ] && [ -f "$home/.config/vellumar/vskin.dat" ] && break
  sleep 0.1
done
kill "$pid" 2>/dev/null || fail "the window did not stay up: $(cat "$tmp/window.log")"
wait "$pid" 2>/dev/null || true
[ -f "$home/.config/vellumar/vskin.dat" ] || fail "no vskin.dat in the user's config folder"
[ -f "$home/.cache/vellumar/vskin.so" ] || fail "no vskin.so in the user's private folder"
[ "$(stat -c %a "$home/.cache/vellumar")" = 700 ] || fail "the skin module's folder is not private"

now=$(cd "$tmp/root" && find . ! -type d | sort)
was=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
[ "$now" = "$was" ] || fail "the programs wrote beside themselves: $(comm -13 <(echo "$was") <(echo "$now"))"
echo "check-package: $(basename "$deb") is sound"
