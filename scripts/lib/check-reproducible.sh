#!/bin/bash
# Releases the last commit twice, from two clones in temporary folders of different paths, one
# after the other, and fails naming each file of dist/ whose bytes differ between the two.
#   check-reproducible.sh
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
commit=$(git rev-parse HEAD)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

for copy in first other/second; do
  git clone -q . "$tmp/$copy"
  git -C "$tmp/$copy" -c advice.detachedHead=false checkout -q "$commit"
  "$tmp/$copy/scripts/release" >/dev/null
done

status=0
for path in "$tmp"/first/dist/*; do
  file=${path##*/}
  cmp -s "$tmp/first/dist/$file" "$tmp/other/second/dist/$file" ||
    { echo "check-reproducible: $file differs between two releases of $commit" >&2; status=1; }
done
((status)) || echo "reproducible: two releases of $commit are byte-identical"
exit $status
