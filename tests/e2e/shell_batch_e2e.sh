#!/usr/bin/env bash
# End to end, without a display: pagetrim --batch as a script uses it.
# usage: shell_batch_e2e.sh PAGETRIM MAKE_SAMPLE_PAGES ARTIFACT_DIR
set -euo pipefail
unset DISPLAY WAYLAND_DISPLAY
source "$(dirname "$0")/lib.sh"
pagetrim="$work/bin/pagetrim"

expect_status() {  # STATUS COMMAND...: runs it and checks its exit status
  local want=$1; shift
  local got=0
  "$@" 2>"$work/err.log" || got=$?
  [ "$got" = "$want" ] || fail "'$*' exited with $got, not $want: $(cat "$work/err.log")"
}

# Bad arguments: status 2 and one line naming the argument.
for args in "--batch xx $work/book/p01.jpg" "--batch lr --threshold 12a $work/book/p01.jpg" \
            "--batch lr --sample-column 3 $work/book/p01.jpg" "--batch tb" \
            "--batch lr $work/book/notes.txt"; do
  expect_status 2 "$pagetrim" $args
  [ "$(wc -l <"$work/err.log")" = 1 ] || fail "'$args' gave more than one line: $(cat "$work/err.log")"
done
grep -q "12a" <(expect_status 2 "$pagetrim" --batch lr --threshold 12a "$work/book/p01.jpg"; cat "$work/err.log")

# Several books at once with xargs -P, as the README shows.
for book in a b c; do cp -a "$work/book" "$work/books/$book" 2>/dev/null ||
  { mkdir -p "$work/books" && cp -a "$work/book" "$work/books/$book"; }; done
for b in "$work"/books/*/; do set -- "$b"*.jpg; echo "$1"; done |
  xargs -d '\n' -n 1 -P 4 "$pagetrim" --batch tb --sample-column 5 2>"$work/xargs.log" ||
  fail "xargs run failed: $(cat "$work/xargs.log")"
[ "$(grep -c '^6/6 ' "$work/xargs.log")" = 3 ] || fail "not every book ended: $(cat "$work/xargs.log")"
cmp -s "$work/books/a/p03.png" "$work/books/c/p03.png" || fail "the books came out differently"
cmp -s "$work/books/a/p03.png" "$work/book/p03.png" && fail "p03.png was not trimmed"

# A page that cannot be read: status 1, its name and the reason.
cp "$work/book/p01.jpg" "$work/book/p00.jpg"
truncate -s 2000 "$work/book/p00.jpg"
expect_status 1 "$pagetrim" --batch lrn --gray "$work/book/p01.jpg"
grep -q "p00.jpg: 保存できませんでした: 壊れているか画像ではありません" "$work/err.log" ||
  fail "no failure line: $(cat "$work/err.log")"
rm "$work/book/p00.jpg"

# A page its user may not read, in a batch run by that user (root reads
# everything): the line says so, and the other pages are trimmed.
if command -v setpriv >/dev/null; then
  mkdir -p "$work/locked"
  "$make_samples" "$work/locked" >/dev/null
  chmod 755 "$work" "$work/bin" && chmod 777 "$work/locked" && chmod 666 "$work"/locked/*
  chmod 200 "$work/locked/p02.jpg"
  expect_status 1 setpriv --reuid=65534 --regid=65534 --clear-groups \
    "$pagetrim" --batch lr "$work/locked/p01.jpg"
  grep -q "p02.jpg: 保存できませんでした: 読み込みが許可されていません" "$work/err.log" ||
    fail "no permission line: $(cat "$work/err.log")"
  [ "$(page_info "$work/locked/p01.jpg" | cut -d' ' -f1)" -lt 1240 ] || fail "locked/p01.jpg not trimmed"
else
  echo "setpriv missing: the unreadable page's line is not checked"
fi

# A page whose name is not UTF-8 cannot be reached: not every page was
# trimmed, so the status says so.
odd=$(printf '%s/book/p\xe9.jpg' "$work")
cp "$work/book/p01.jpg" "$odd"
expect_status 1 "$pagetrim" --batch lr "$work/book/p01.jpg"
grep -q "名前を読めないファイルが 1 個あり" "$work/err.log" || fail "no notice: $(cat "$work/err.log")"
rm "$odd"

# A page whose trims keep less than half of it is named after the progress
# lines, with its size before and after; it is written all the same.
mkdir -p "$work/hard"
cp "$work/book/p04.png" "$work/hard/a.png"
convert -size 600x800 xc:white -fill black -draw "rectangle 280,300 310,500" "$work/hard/b.png"
expect_status 0 "$pagetrim" --batch lr "$work/hard/a.png"
[ "$(tail -n 1 "$work/err.log")" = "check: b.png 600x800 -> 31x800" ] ||
  fail "no check line last: $(cat "$work/err.log")"
[ "$(grep -c '^check: ' "$work/err.log")" = 1 ] || fail "more than b.png named: $(cat "$work/err.log")"
[ "$(page_info "$work/hard/b.png")" = "31 800 144" ] || fail "b.png is $(page_info "$work/hard/b.png")"

# Ctrl-C stops after the page in hand: every page is either as it was or
# fully written, and nothing half-written is left.
mkdir -p "$work/long"
for i in $(seq -w 1 40); do cp "$work/book/p01.jpg" "$work/long/q$i.jpg"; done
cp -a "$work/long" "$work/long-before"
"$pagetrim" --batch lr "$work/long/q01.jpg" 2>"$work/long.log" &
batch=$!
for _ in $(seq 1 100); do grep -q '^2/40 ' "$work/long.log" && break; sleep 0.05; done
kill -INT "$batch"
status=0
wait "$batch" || status=$?
[ "$status" = 130 ] || fail "Ctrl-C gave status $status"
done_pages=$(grep -c '/40 ' "$work/long.log")
[ "$done_pages" -lt 40 ] || fail "the batch did not stop"
changed=0
for page in "$work"/long-before/*; do
  name=$(basename "$page")
  if ! cmp -s "$page" "$work/long/$name"; then
    changed=$((changed + 1))
    [ "$(page_info "$work/long/$name" | cut -d' ' -f1)" -lt 1240 ] || fail "$name is not trimmed"
    cmp -s "$page" "$work/long/.pagetrim-originals/$name" || fail "$name has no original"
  fi
done
[ "$changed" = "$done_pages" ] || fail "$changed pages changed, $done_pages reported"
[ -z "$(ls -A "$work/long" | grep -v -e '^q[0-9]*\.jpg$' -e '^\.pagetrim-originals$')" ] ||
  fail "left behind: $(ls -A "$work/long")"
# KeepOriginals=0 in the settings: the batch trims and keeps nothing.
mkdir "$work/nokeep"
"$make_samples" "$work/nokeep" >/dev/null
printf '[Window]\nKeepOriginals=0\n' >"$work/bin/pagetrim.INI"
expect_status 0 "$pagetrim" --batch lr "$work/nokeep/p01.jpg"
rm "$work/bin/pagetrim.INI"
[ ! -e "$work/nokeep/.pagetrim-originals" ] || fail "KeepOriginals=0, yet originals were kept"
[ "$(page_info "$work/nokeep/p01.jpg" | cut -d' ' -f1)" -lt 1240 ] || fail "KeepOriginals=0: p01.jpg not trimmed"

# A dry run writes nothing and says, per page and line, what the batch would
# do: for 全頁自動削除, the cut of each page, its own size or its side's, and
# its turn. Its lines are JSON a script can read.
mkdir "$work/dry"
"$make_samples" "$work/dry" >/dev/null
cp -a "$work/dry" "$work/dry-before"
"$pagetrim" --batch auto --dry-run "$work/dry/p01.jpg" >"$work/dry.json" 2>"$work/dry.log" ||
  fail "the dry run failed: $(cat "$work/dry.log")"
diff -r "$work/dry-before" "$work/dry" >/dev/null || fail "the dry run changed the book"
[ "$(wc -l <"$work/dry.json")" = "$(ls "$work/dry" | wc -l)" ] || fail "not one line per page: $(cat "$work/dry.json")"
python3 - "$work/dry.json" <<'CHECK' || fail "the dry run's lines are not what they should be: $(cat "$work/dry.json")"
import json, sys
for line in open(sys.argv[1]):
    page = json.loads(line)
    left, top, right, bottom = page["cut"]
    assert right > left and bottom > top, page
    assert isinstance(page["own_size"], bool) and isinstance(page["lossless"], bool), page
    assert page["turned_width"] >= page["width"] or not page["turned"], page
    assert page["skew"] is None or abs(page["skew"]) < 8, page
CHECK
# 全頁傾き補正 from the shell: every page readable, none turned (the sample
# pages are straight), every page written.
expect_status 0 "$pagetrim" --batch deskew "$work/dry/p01.jpg"
[ "$(grep -c '/6 ' "$work/err.log")" = 6 ] || fail "deskew did not go through the book: $(cat "$work/err.log")"
expect_status 2 "$pagetrim" --batch lr --no-deskew "$work/dry/p01.jpg"

echo "shell batch end-to-end: passed ($done_pages of 40 pages before Ctrl-C)"
