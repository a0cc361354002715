#!/usr/bin/env bash
# End to end: overwrite a page, run a batch over the book, delete a page, then
# "全頁元に戻す": every page file is byte for byte what it was before.
# usage: restore_e2e.sh PAGETRIM MAKE_SAMPLE_PAGES ARTIFACT_DIR
set -euo pipefail
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
source "$(dirname "$0")/lib.sh"

cp -a "$work/book" "$work/before"
start_pagetrim "$work/book/p04.png"
wait_title "p04.png  ResX=72"
sleep 0.5

key Return   # pad p04.png to the page ratio
key Down     # and write it
wait_page_info "$work/book/p04.png" "601 850 144"

click_at 292 527 1   # 全頁左右削除 over the whole book
wait_page_info "$work/book/p10.JPG" "980 1754 300"
wait_title "p04.png  ResX=144"

# 現頁削除: the second item of the right view's menu.
click_at 500 258 3
for _ in 1 2; do xdotool key Down; sleep 0.1; done
xdotool key Return
for _ in $(seq 1 50); do [ ! -e "$work/book/p04.png" ] && break; sleep 0.1; done
[ ! -e "$work/book/p04.png" ] || fail "p04.png was not deleted"
[ -e "$work/book/.pagetrim-originals/p04.png" ] || fail "p04.png's original was not kept"

# 全頁元に戻す: the last item but one (Up from no item goes to the last).
# The question's buttons are いいえ(N) and はい(Y): Alt+N answers No and
# restores nothing, then Alt+Y answers Yes.
ask_restore_all() {
  click_at 500 258 3
  for _ in 1 2; do xdotool key Up; sleep 0.1; done
  xdotool key Return; sleep 0.5
}
windows() { xdotool search --onlyvisible --name '^pagetrim$' 2>/dev/null | wc -l; }
ask_restore_all
[ "$(windows)" = 1 ] || fail "no question box"
xdotool key alt+n; sleep 1
[ "$(windows)" = 0 ] || fail "Alt+N did not answer the question"
[ ! -e "$work/book/p04.png" ] || fail "Alt+N restored the pages"
ask_restore_all
import -window root "$artifacts/restore-question.png"
xdotool key alt+y
for _ in $(seq 1 50); do [ -e "$work/book/p04.png" ] && break; sleep 0.1; done
sleep 0.5
for page in "$work"/before/*; do
  cmp -s "$page" "$work/book/$(basename "$page")" || fail "$(basename "$page") differs from before"
done
[ ! -e "$work/book/.pagetrim-originals" ] || fail "the store of originals is still there"
import -window root "$artifacts/after-restore.png"
stop_pagetrim
echo "restore end-to-end: passed"
