#!/usr/bin/env bash
# Kept originals on real FAT and exFAT file systems, mounted through FUSE as
# books on memory cards are: no hard links, no modes, no extended attributes,
# and files numbered anew at every mount. A batch (twice, with a remount
# between), 上書き, 元に戻す, 現頁削除, 全頁元に戻す and 元の画像を消去, every
# page checked byte for byte. Prints a transcript of what it ran.
# usage: real_fs_test.sh PAGETRIM MAKE_SAMPLE_PAGES FS_SESSION
# Exits with 77 (skipped), after one line saying why, for a file system that
# cannot be mounted here: no /dev/fuse, no loop devices.
set -euo pipefail
unset DISPLAY WAYLAND_DISPLAY
make_samples=$2
session=$3
work=$(mktemp -d)
loop=""
mounted=()

cleanup() {
  local point
  for point in "${mounted[@]}"; do
    fusermount -u "$point" 2>/dev/null || umount "$point" 2>/dev/null || true
  done
  [ -z "$loop" ] || losetup -d "$loop" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fs=""
fail() {
  echo "FAIL on $fs: $*" >&2
  exit 1
}

# A copy of the binary, so that its settings file (keeping on) is the test's.
mkdir "$work/bin" "$work/before"
cp "$1" "$work/bin/pagetrim"
printf '[Window]\nKeepOriginals=1\n' >"$work/bin/pagetrim.INI"
pagetrim="$work/bin/pagetrim"
"$make_samples" "$work/before" >/dev/null
pages=$(cd "$work/before" && ls)

# Runs a command and shows it, and what it printed, with short paths.
# A "# label" first argument is shown after the command.
run() {
  local label=""
  if [[ "$1" == "#"* ]]; then label="   $1"; shift; fi
  local shown="\$ $(basename "$1") ${*:2}"
  echo "${shown//$work\//}$label"
  local status=0
  "$@" >"$work/out.log" 2>&1 || status=$?
  sed "s|$work/||g; s|^|    |" "$work/out.log"
  return $status
}

mount_fs() {
  case $fs in
    FAT) fusefat -o rw+ "$work/fat.img" "$work/mnt" >/dev/null 2>&1 ;;
    exFAT)
      loop=$(losetup -f --show "$work/exfat.img")
      mount.exfat-fuse "$loop" "$work/mnt" >/dev/null 2>&1 ;;
  esac
  mounted=("$work/mnt")
}

unmount_fs() {
  fusermount -u "$work/mnt"
  mounted=()
  if [ -n "$loop" ]; then losetup -d "$loop"; loop=""; fi
}

same() { cmp -s "$1" "$2"; }

check_fs() {
  mkdir -p "$work/mnt"
  mount_fs
  echo "== $fs: $(findmnt -n -o FSTYPE "$work/mnt") on $(basename "$(findmnt -n -o SOURCE "$work/mnt")")"
  local book="$work/mnt/book" store="$work/mnt/book/.pagetrim-originals" p
  mkdir "$book"
  cp "$work"/before/* "$book/"

  run "# 全頁左右削除" "$pagetrim" --batch lr "$book/p01.jpg" || fail "the batch failed"
  for p in $pages; do
    same "$work/before/$p" "$book/$p" && fail "$p was not trimmed"
    same "$work/before/$p" "$store/$p" || fail "$p: the kept original is not the page as it was"
  done
  [ -d "$store/.pagetrim-written" ] || fail "no notes, yet $fs has no extended attributes"

  # Mounted again, every file has another number: the notes still know
  # pagetrim's own pages, and a second batch keeps nothing more.
  unmount_fs
  mount_fs
  run "# again, after a remount" "$pagetrim" --batch lr "$book/p01.jpg" || fail "the second batch failed"
  for p in $pages; do
    same "$work/before/$p" "$store/$p" || fail "$p: the second batch replaced the kept original"
  done
  [ ! -e "$store/.pagetrim-older" ] || fail "the second batch set originals aside"

  run "# 左右削除, 上書き twice" "$session" overwrite "$book/p03.png" || fail "p03.png was not saved"
  run "# 元に戻す" "$session" restore "$book/p02.jpg" || fail "p02.jpg was not restored"
  same "$work/before/p02.jpg" "$book/p02.jpg" || fail "p02.jpg restored wrong"
  [ ! -e "$store/p02.jpg" ] || fail "p02.jpg's original is still kept"

  # Another program puts its own p05.jpg in place: 元に戻す leaves it alone.
  rm "$book/p05.jpg"
  cp "$work/before/p01.jpg" "$book/p05.jpg"
  echo "\$ cp p01.jpg mnt/book/p05.jpg   # another program's file"
  run "# 元に戻す" "$session" restore "$book/p05.jpg" && fail "p05.jpg was restored over another program's file"
  same "$work/before/p01.jpg" "$book/p05.jpg" || fail "another program's p05.jpg was changed"

  run "# 現頁削除" "$session" delete "$book/p04.png" || fail "p04.png was not deleted"
  [ ! -e "$book/p04.png" ] || fail "p04.png is still there"
  run "# 全頁元に戻す" "$session" restore-all "$book/p01.jpg" && fail "no notice of p05.jpg"
  grep -q "p05.jpg" "$work/out.log" || fail "the notice does not name p05.jpg"
  for p in $pages; do
    [ "$p" = p05.jpg ] && continue
    same "$work/before/$p" "$book/$p" || fail "$p is not its original after 全頁元に戻す"
  done
  same "$work/before/p01.jpg" "$book/p05.jpg" || fail "another program's p05.jpg was changed"
  same "$work/before/p05.jpg" "$store/p05.jpg" || fail "p05.jpg's original was lost"

  run "# 元の画像を消去" "$session" discard "$book/p01.jpg" || fail "the originals were not discarded"
  [ ! -e "$store" ] || fail "the store of originals is still there"
  [ "$(cd "$book" && ls -A)" = "$pages" ] || fail "left behind: $(cd "$book" && ls -A)"
  unmount_fs
  echo "== $fs: passed"
}

skipped=""
skip() {
  echo "SKIP $1: $2"
  skipped=yes
}
tools_missing() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps installs it)"; return 0; }
  done
  return 1
}

fuse_ok=yes
if [ ! -c /dev/fuse ]; then
  fuse_ok="/dev/fuse is missing, so nothing can be mounted through FUSE here"
elif [ ! -r /dev/fuse ] || [ ! -w /dev/fuse ]; then
  fuse_ok="/dev/fuse cannot be opened by $(id -un)"
fi

fs=FAT
if [ "$fuse_ok" != yes ]; then
  skip FAT "$fuse_ok"
elif why=$(tools_missing mkfs.vfat fusefat fusermount); then
  skip FAT "$why"
else
  truncate -s 16M "$work/fat.img"
  mkfs.vfat "$work/fat.img" >/dev/null
  check_fs
fi

fs=exFAT
if [ "$fuse_ok" != yes ]; then
  skip exFAT "$fuse_ok"
elif why=$(tools_missing mkfs.exfat mount.exfat-fuse losetup fusermount); then
  skip exFAT "$why"
elif ! losetup -f >/dev/null 2>&1; then
  skip exFAT "no free loop device can be used here (losetup -f), so exFAT cannot be mounted"
else
  truncate -s 16M "$work/exfat.img"
  mkfs.exfat "$work/exfat.img" >/dev/null
  check_fs
fi

[ -z "$skipped" ] || exit 77
