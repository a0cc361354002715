#!/usr/bin/env bash
# Packs a configured build folder into a .deb in a folder of its own, then
# checks that package.
# Usage: pack_and_check.sh CPACK CPACK_CONFIG OUT_DIR VERSION LICENSE
set -euo pipefail
cpack=$1 config=$2 out=$3 version=$4 license=$5

# A package left over from an earlier run must not pass for this one.
rm -rf "$out"
mkdir -p "$out"
if ! "$cpack" -G DEB --config "$config" -B "$out" >"$out/cpack.log" 2>&1; then
  cat "$out/cpack.log"
  echo "FAIL: cpack -G DEB did not make a package"
  exit 1
fi

debs=("$out"/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "FAIL: expected one .deb in $out, found: $(ls "$out")"
  exit 1
fi
exec "$(dirname "$0")/check_package.sh" "${debs[0]}" "$version" "$license"
