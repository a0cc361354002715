#!/usr/bin/env bash
# End to end: "全頁左右削除" over the sample book in the real window.
# usage: batch_e2e.sh PAGETRIM MAKE_SAMPLE_PAGES ARTIFACT_DIR
set -euo pipefail
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
source "$(dirname "$0")/lib.sh"

start_pagetrim "$work/book/p02.jpg"
wait_title "p02.jpg  ResX=300"
sleep 0.5

# SB_AL: left 248, width 88, in the tool strip along the bottom.
click_at 292 527 1
# Each page loses its margins and, with the right trim, its last ink column;
# 72 dpi pages are written at 144 dpi.
declare -A expected=(
  [p01.jpg]="959 1754 300" [p02.jpg]="949 1754 300" [p03.png]="949 1754 300"
  [p04.png]="499 850 144" [p05.jpg]="484 850 144" [p10.JPG]="979 1754 300"
)
for page in "${!expected[@]}"; do
  wait_page_info "$work/book/$page" "${expected[$page]}"
done
# The batch ends on the page it started from, shown fresh from its file.
wait_title "p02.jpg  ResX=300"
sleep 0.5
import -window root "$artifacts/after-batch.png"
stop_pagetrim
echo "batch end-to-end: passed"
