#!/usr/bin/env bash
# Checks that the Debian package providing each pkg-config module the build
# uses is named in a list of the run role, so a fresh machine can build what
# this one can.
#   scripts/check-package-lists.sh MODULE...   (a module may carry a version: libopenjp2>=2.5)
set -euo pipefail
lists=$(cd "$(dirname "$0")" && pwd)/packages/run
listed=$(cat "$lists"/*.txt | sed 's/#.*//' | tr -s ' \t' '\n' | sed '/^$/d' | sort -u)
status=0
for spec in "$@"; do
  module=${spec%%[<>=]*}
  dir=$(pkg-config --variable=pcfiledir "$module") || { echo "no pkg-config module $module" >&2; status=1; continue; }
  owner=$(dpkg -S "$dir/$module.pc" 2>/dev/null | head -1) ||
    owner=$(dpkg -S "$(realpath "$dir/$module.pc")" | head -1) ||
    { echo "no Debian package owns $dir/$module.pc" >&2; status=1; continue; }
  pkg=${owner%%:*}
  if ! grep -qx "$pkg" <<<"$listed"; then
    echo "$module comes from $pkg, which no list in scripts/packages/run/ names" >&2
    status=1
  fi
done
exit $status
