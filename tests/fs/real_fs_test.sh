#!/usr/bin/env bash
# Kept originals on real FAT and exFAT file systems, mounted through FUSE as
# books on memory cards are: no hard links, no modes, no extended attributes,
# and files numbered anew at every mount. A batch (twice, with a remount
# between), 上書き, 元に戻す, 現頁削除, 全頁元に戻す and 元の画像を消去, every
# page checked byte for byte. A book trimmed in a plain folder and copied
# with cp -r (which leaves its attributes behind) to another folder, onto
# each card, and from each card back to a plain folder, trimmed again and
# restored in the copy, gives back its first scans. What a stopped save left
# is swept when a book is opened, but not a live writer's temporary. Prints
# a transcript of what it ran.
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

holder=""
cleanup() {
  local point
  [ -z "$holder" ] || kill "$holder" 2>/dev/null || true
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

# Fails when a temporary file of pagetrim's is left in the book or its store.
no_temporaries() {
  local left
  left=$(ls -A "$1" "$1/.pagetrim-originals" 2>/dev/null | grep '^\.pagetrim-' |
    grep -v -x -e '.pagetrim-originals' -e '.pagetrim-written' -e '.pagetrim-older' || true)
  [ -z "$left" ] || fail "left in $(basename "$1"): $left"
}

# A trimmed book copied with a plain cp -r, trimmed again in the copy and
# restored there, gives back the first scans.
copy_trim_restore() {  # trimmed book, the copy to make, where to
  local p
  rm -rf "$2"
  cp -r "$1" "$2"
  echo "\$ cp -r $(basename "$1") ${2//$work\//}   # $3"
  run "# 全頁左右削除 in the copy" "$pagetrim" --batch lr "$2/p01.jpg" || fail "the batch in the copy failed"
  [ ! -e "$2/.pagetrim-originals/.pagetrim-older" ] || fail "the copy's batch ($3) set originals aside"
  no_temporaries "$2"
  run "# 全頁元に戻す in the copy" "$session" restore-all "$2/p01.jpg" || fail "the copy ($3) was not restored"
  for p in $pages; do
    same "$work/before/$p" "$2/$p" || fail "$p is not its first scan in the copy ($3)"
  done
  [ ! -e "$2/.pagetrim-originals" ] || fail "the copy's store ($3) is still there"
}

check_fs() {
  mkdir -p "$work/mnt"
  mount_fs
  echo "== $fs: $(findmnt -n -o FSTYPE "$work/mnt") on $(basename "$(findmnt -n -o SOURCE "$work/mnt")")"
  local book="$work/mnt/book" store="$work/mnt/book/.pagetrim-originals" p
  mkdir "$book"
  cp "$work"/before/* "$book/"

  # A save stopped before its rename leaves its temporary file; one that a
  # live writer holds (its lock, here taken by flock) looks the same.
  : >"$book/.pagetrim-Ab12Cd"
  local held="$book/.pagetrim-held1234"
  ( exec 9>>"$held"; flock -x 9; exec sleep 300 ) &
  holder=$!
  while flock -n "$held" true; do sleep 0.1; done
  run "# opened" "$session" open "$book/p01.jpg" || fail "the book did not open"
  [ ! -e "$book/.pagetrim-Ab12Cd" ] || fail "what a stopped save left was not swept"
  [ -e "$held" ] || fail "a live writer's temporary was swept"
  kill "$holder"
  wait "$holder" 2>/dev/null || true
  holder=""

  run "# 全頁左右削除" "$pagetrim" --batch lr "$book/p01.jpg" || fail "the batch failed"
  no_temporaries "$book"
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
  no_temporaries "$book"
  copy_trim_restore "$book" "$work/from-$fs" "from $fs to a plain folder"
  copy_trim_restore "$work/plain/book" "$work/mnt/copied" "from a plain folder onto $fs"
  rm -rf "$work/mnt/copied"

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

fs="a plain folder"
mkdir -p "$work/plain/book"
cp "$work"/before/* "$work/plain/book/"
echo "== $(findmnt -n -o FSTYPE -T "$work"): a plain folder"
run "# 全頁左右削除" "$pagetrim" --batch lr "$work/plain/book/p01.jpg" || fail "the batch failed"
copy_trim_restore "$work/plain/book" "$work/plain/copy" "to another plain folder"
echo "== a plain folder: passed"

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
