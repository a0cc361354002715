#!/usr/bin/env bash
# End to end: the real pagetrim binary in a real X server (xvfb-run), driven
# with xdotool like a user would, then the page files it wrote are checked.
# usage: window_e2e.sh PAGETRIM MAKE_SAMPLE_PAGES ARTIFACT_DIR
set -euo pipefail
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
source "$(dirname "$0")/lib.sh"

start_pagetrim "$work/book/p04.png"
wait_title "p04.png  ResX=72  ResY=72"
sleep 0.5

key Right
wait_title "p05.jpg"
key Left
wait_title "p04.png"
key Up
key Return   # 600 x 850 becomes Trunc(851 * 0.707) = 601 wide
key Down     # written over p04.png
wait_page_info "$work/book/p04.png" "601 850 144"

# Right-click the left margin of the right view (client 339 + 10, 1 + 257) and
# choose the fourth item, "左側削除".
click_at 349 258 3
sleep 0.3
import -window root "$artifacts/context-menu.png"
for _ in 1 2 3 4; do xdotool key Down; sleep 0.1; done
xdotool key Return
sleep 0.5

# SB_WR, in the tool strip along the bottom.
click_at 634 527 1
wait_page_info "$work/book/p04.png" "540 850 144"

# Pages never shown are untouched.
[ "$(page_info "$work/book/p05.jpg")" = "600 850 72" ] || fail "p05.jpg changed"

import -window root "$artifacts/window.png"
stop_pagetrim
echo "window end-to-end: passed"
