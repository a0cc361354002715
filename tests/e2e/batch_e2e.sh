#!/usr/bin/env bash
# End to end: "全頁左右削除" over the sample book in the real window.
# usage: batch_e2e.sh PAGETRIM MAKE_SAMPLE_PAGES ARTIFACT_DIR
set -euo pipefail
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
source "$(dirname "$0")/lib.sh"
cp -a "$work/book" "$work/shell-book"

start_pagetrim "$work/book/p02.jpg"
wait_title "p02.jpg  ResX=300"
sleep 0.5

# SB_AL: left 248, width 88, in the tool strip along the bottom.
click_at 292 527 1
# Each page loses its left and right margins, down to its outermost ink
# columns; 72 dpi pages are written at 144 dpi.
declare -A expected=(
  [p01.jpg]="960 1754 300" [p02.jpg]="950 1754 300" [p03.png]="950 1754 300"
  [p04.png]="500 850 144" [p05.jpg]="485 850 144" [p10.JPG]="980 1754 300"
)
for page in "${!expected[@]}"; do
  wait_page_info "$work/book/$page" "${expected[$page]}"
done
# The batch ends on the page it started from, shown fresh from its file.
wait_title "p02.jpg  ResX=300"
sleep 0.5
import -window root "$artifacts/after-batch.png"
stop_pagetrim

# The same batch from the shell, with the same stored settings, writes the
# same bytes, and keeps the same originals.
"$work/bin/pagetrim" --batch lr "$work/shell-book/p02.jpg" 2>"$work/shell.log" ||
  fail "--batch lr failed: $(cat "$work/shell.log")"
for page in "$work"/book/* "$work"/book/.pagetrim-originals/*; do
  other="$work/shell-book/${page#"$work/book/"}"
  cmp -s "$page" "$other" || fail "${page#"$work/book/"} differs between the window and --batch"
done
[ "$(wc -l <"$work/shell.log")" = 6 ] || fail "expected 6 progress lines, got: $(cat "$work/shell.log")"
grep -qx "6/6 p10.JPG" "$work/shell.log" || fail "no progress line for the last page"
echo "batch end-to-end: passed"
