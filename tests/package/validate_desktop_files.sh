#!/usr/bin/env bash
# Validates the desktop entry and the AppStream metainfo as desktops and
# software centres will read them. Errors and warnings fail; hints and infos
# are shown but pass.
# Usage: validate_desktop_files.sh DIR [VERSION]
#   DIR holds the *.desktop and *.metainfo.xml files (the source's app/ folder).
#   VERSION, when given, must be the newest release the metainfo lists, so
#   that a version bump cannot ship with last version's release notes.
set -uo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 DIR [VERSION]" >&2
  exit 2
fi
dir=$1
want_version=${2:-}

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

shopt -s nullglob
desktops=("$dir"/*.desktop)
metainfos=("$dir"/*.metainfo.xml)
[ ${#desktops[@]} -gt 0 ] || fail "no .desktop file in $dir"
[ ${#metainfos[@]} -gt 0 ] || fail "no .metainfo.xml file in $dir"

for f in "${desktops[@]}"; do
  # desktop-file-validate exits 0 on warnings, so read what it says too.
  out=$(desktop-file-validate "$f" 2>&1)
  status=$?
  [ -n "$out" ] && echo "$out"
  if [ $status -ne 0 ] || grep -qE ': (error|warning): ' <<<"$out"; then
    fail "desktop-file-validate: $(basename "$f")"
  fi
done

for f in "${metainfos[@]}"; do
  out=$(appstreamcli validate --no-net "$f" 2>&1)
  status=$?
  echo "$out"
  if [ $status -ne 0 ] || grep -qE '^[[:space:]]*[EW]: ' <<<"$out"; then
    fail "appstreamcli validate: $(basename "$f")"
  fi
  if [ -n "$want_version" ]; then
    # Releases are listed newest first.
    newest=$(grep -o '<release [^>]*version="[^"]*"' "$f" | head -n 1 | sed 's/.*version="\([^"]*\)"/\1/')
    [ "$newest" = "$want_version" ] ||
      fail "$(basename "$f"): newest release is '$newest', but the project is at '$want_version'"
  fi
done

if [ "$failures" -gt 0 ]; then
  echo "$failures problem(s)"
  exit 1
fi
echo "desktop entry and metainfo valid"
