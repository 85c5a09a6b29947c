#!/usr/bin/env bash
# Installs every Debian package the project needs: the lists in
# scripts/packages/*.txt (one package per line, '#' comments).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mapfile -t pkgs < <(cat "$here"/packages/*.txt | sed 's/#.*//' | tr -s ' \t' '\n' | sed '/^$/d' | sort -u)
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
