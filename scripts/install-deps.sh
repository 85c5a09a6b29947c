#!/usr/bin/env bash
# Installs the Debian packages of the given roles that are missing.
#   scripts/install-deps.sh ROLE...     (no ROLE: every role)
# Roles are the folders of scripts/packages/, one list per area in each (one
# package a line, '#' comments):
#   run         build and run: compiler, CMake, codec and Qt development files, the font
#   test        what the tests need beyond run: test framework, independent decoders
#   bench       the benchmark's peers and tools         fuzz     clang and its runtimes
#   package     building the Debian package             screenshot  a virtual display
set -euo pipefail
lists=$(cd "$(dirname "$0")" && pwd)/packages
stray=$(find "$lists" -maxdepth 1 -type f -name '*.txt')
if [ -n "$stray" ]; then
  echo "install-deps: package lists belong in a role folder of $lists: $stray" >&2
  exit 1
fi
roles=("$@")
if [ ${#roles[@]} -eq 0 ]; then
  mapfile -t roles < <(find "$lists" -mindepth 1 -maxdepth 1 -type d -printf '%f\n' | sort)
fi
files=()
for role in "${roles[@]}"; do
  [ -d "$lists/$role" ] || { echo "install-deps: no role '$role' in $lists" >&2; exit 2; }
  files+=("$lists/$role"/*.txt)
done
mapfile -t pkgs < <(cat "${files[@]}" | sed 's/#.*//' | tr -s ' \t' '\n' | sed '/^$/d' | sort -u)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -o DPkg::Lock::Timeout=600
$sudo apt-get install -y --no-install-recommends -o DPkg::Lock::Timeout=600 "${missing[@]}"
