#!/usr/bin/env bash
# Checks a built pagetrim .deb: its file name, architecture, dependencies and
# the files a desktop needs, so that `apt install ./pagetrim_*.deb` on a fresh
# Debian 12 gives a program that starts and shows up in menus.
# Its copyright file must be Debian's machine-readable format and carry the
# project's LICENSE word for word; lintian, where installed, finds no error.
# Usage: check_package.sh DEB [VERSION [LICENSE]]
set -uo pipefail

if [ $# -lt 1 ] || [ $# -gt 3 ]; then
  echo "usage: $0 DEB [VERSION [LICENSE]]" >&2
  exit 2
fi
deb=$1
want_version=${2:-}
license=${3:-}

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

if ! fields=$(dpkg-deb --field "$deb" 2>&1); then
  echo "FAIL: $deb is not a readable Debian package: $fields"
  exit 1
fi
field() { dpkg-deb --field "$deb" "$1"; }

package=$(field Package)
version=$(field Version)
arch=$(field Architecture)

[ "$package" = pagetrim ] || fail "Package is '$package', not 'pagetrim'"
[ "$arch" = amd64 ] || fail "Architecture is '$arch', not 'amd64'"
if [ -n "$want_version" ] && [ "$version" != "$want_version" ]; then
  fail "Version is '$version', but the project is at '$want_version'"
fi
name=$(basename "$deb")
[ "$name" = "pagetrim_${version}_amd64.deb" ] ||
  fail "file name '$name' is not 'pagetrim_${version}_amd64.deb'"

# Depends holds names with optional version constraints and alternatives;
# compare whole names, so that a look-alike such as libqt6gui6-dev does not
# stand in for libqt6gui6.
depends=$(field Depends | tr ',|' '\n\n' | sed -e 's/([^)]*)//g' -e 's/:[a-z0-9]*//' -e 's/[[:space:]]//g')
for required in libc6 libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins \
  libjpeg62-turbo libpng16-16 fonts-noto-cjk qt6-translations-l10n; do
  grep -qxF "$required" <<<"$depends" || fail "Depends does not name $required"
done

# File list lines end in the path, as ./usr/...; keep the mode for the binary.
contents=$(dpkg-deb --contents "$deb")
has_file() { awk -v p="./$1" '$NF == p && $1 ~ /^-/ { found = 1 } END { exit !found }' <<<"$contents"; }
for path in usr/share/applications/pagetrim.desktop \
  usr/share/icons/hicolor/scalable/apps/pagetrim.svg \
  usr/share/metainfo/org.pagetrim.pagetrim.metainfo.xml \
  usr/share/doc/pagetrim/copyright usr/share/doc/pagetrim/changelog.gz; do
  has_file "$path" || fail "the package does not hold /$path"
done
if ! has_file usr/bin/pagetrim; then
  fail "the package does not hold /usr/bin/pagetrim"
elif ! awk '$NF == "./usr/bin/pagetrim" && $1 ~ /^-..x/ { ok = 1 } END { exit !ok }' <<<"$contents"; then
  fail "/usr/bin/pagetrim is not executable"
fi

# The files as installed must still fit together: the metainfo's launchable
# has to name a desktop file that the package really ships.
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
if ! dpkg-deb --extract "$deb" "$tree"; then
  fail "the package cannot be unpacked"
elif ! report=$(appstreamcli validate-tree --no-net "$tree" 2>&1); then
  fail "the installed files do not validate as a whole:"
  echo "$report"
fi

doc=$tree/usr/share/doc/pagetrim
if [ -f "$doc/copyright" ]; then
  head -n 1 "$doc/copyright" |
    grep -qxF "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ||
    fail "the copyright file is not in Debian's machine-readable format"
  grep -qx "Files: \*" "$doc/copyright" || fail "the copyright file has no 'Files: *' paragraph"
  # The Expat (MIT) text of the stand-alone licence paragraph, turned back
  # into plain lines: one space of indent off, " ." for an empty line.
  held=$(awk 'on && !/^ / { exit }
              on { sub(/^ /, ""); if ($0 == ".") $0 = ""; print }
              previous == "" && /^License: Expat$/ { on = 1 }
              { previous = $0 }' "$doc/copyright")
  [ -n "$held" ] || fail "the copyright file holds no Expat licence text"
  if [ -n "$license" ] &&
    [ "$held" != "$(sed -n '/^Permission is hereby granted/,$p' "$license")" ]; then
    fail "the copyright file's licence text is not that of $license"
  fi
  if [ -n "$license" ]; then
    holder=$(sed -n 's/^Copyright (c) //p' "$license")
    grep -qxF "Copyright: $holder" "$doc/copyright" || fail "the copyright file does not name '$holder'"
  fi
fi
if [ -f "$doc/changelog.gz" ] && [ -n "$want_version" ]; then
  first=$(gzip -dc "$doc/changelog.gz" | head -n 1)
  [[ "$first" == "pagetrim ($want_version) "* ]] ||
    fail "the changelog's latest entry is '$first', not version $want_version"
fi

if command -v lintian >/dev/null 2>&1; then
  # Errors fail the package; warnings are shown for the record.
  lintian_report=$(lintian "$deb" 2>&1 | grep -v 'running with root privileges')
  [ -z "$lintian_report" ] || echo "$lintian_report"
  grep -q '^E: ' <<<"$lintian_report" && fail "lintian finds errors in the package"
else
  echo "lintian is not installed: the package's Debian policy checks are skipped"
fi

if [ "$failures" -gt 0 ]; then
  echo "$name: $failures problem(s)"
  exit 1
fi
echo "$name: package $package $version for $arch, dependencies and desktop files in place"
