#!/usr/bin/env bash
# Checks that the run role's lists install every development package whose
# headers the programs were compiled with (the tests', benchmarks' and fuzz
# targets' own objects aside), directly or as a dependency, so that a fresh
# machine can build what this one built. Covers every way a library is found
# (pkg-config, CMake's own modules, a plain #include).
#   scripts/check-package-lists.sh BUILD_DIR     (a Ninja build that has been built)
set -euo pipefail
build=$1
lists=$(cd "$(dirname "$0")" && pwd)/packages/run
mapfile -t listed < <(cat "$lists"/*.txt | sed 's/#.*//' | tr -s ' \t' '\n' | sed '/^$/d' | sort -u)

# Ninja's dependency log names every header each object included.
headers=$(ninja -C "$build" -t deps | awk '
  /^[^ ]/ { obj = $1 }
  /^    \/usr\// && obj !~ /^(tests|bench|fuzz)\// { print $1 }' | sort -u)
[ -n "$headers" ] || { echo "no compiled objects in $build" >&2; exit 1; }

# "pkg:arch: path", or "pkg1, pkg2: path" for a shared folder.
# A header no package owns (a local install) is left to the build to find.
owners=$({ xargs dpkg -S <<<"$headers" 2>/dev/null || true; } | sed 's/: .*//; s/:[^,]*//g' | tr ',' '\n' |
         sed 's/^ *//' | sort -u)
installed=$(apt-cache depends --recurse --installed --no-recommends --no-suggests \
              --no-conflicts --no-breaks --no-replaces --no-enhances "${listed[@]}" |
            grep -v '^ ' | sed 's/:.*//' | sort -u)
missing=$(comm -23 <(echo "$owners") <(echo "$installed"))
if [ -n "$missing" ]; then
  echo "the programs use headers of packages no list in scripts/packages/run/ installs:" >&2
  echo "$missing" >&2
  exit 1
fi
echo "check-package-lists: $(wc -l <<<"$owners") packages' headers, all installed by the run lists"
