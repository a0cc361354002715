#!/usr/bin/env bash
# Checks a built pagetrim .deb: its file name, architecture, dependencies and
# the files a desktop needs, so that `apt install ./pagetrim_*.deb` on a fresh
# Debian 12 gives a program that starts and shows up in menus.
# Usage: check_package.sh DEB [VERSION]
set -uo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 DEB [VERSION]" >&2
  exit 2
fi
deb=$1
want_version=${2:-}

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
for required in libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins \
  libjpeg62-turbo libpng16-16 fonts-noto-cjk; do
  grep -qxF "$required" <<<"$depends" || fail "Depends does not name $required"
done

# File list lines end in the path, as ./usr/...; keep the mode for the binary.
contents=$(dpkg-deb --contents "$deb")
has_file() { awk -v p="./$1" '$NF == p && $1 ~ /^-/ { found = 1 } END { exit !found }' <<<"$contents"; }
for path in usr/share/applications/pagetrim.desktop \
  usr/share/icons/hicolor/scalable/apps/pagetrim.svg \
  usr/share/metainfo/org.pagetrim.pagetrim.metainfo.xml; do
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

if [ "$failures" -gt 0 ]; then
  echo "$name: $failures problem(s)"
  exit 1
fi
echo "$name: package $package $version for $arch, dependencies and desktop files in place"
