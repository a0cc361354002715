# Shared by the end-to-end scripts: a sandbox with a copy of the binary and
# the sample book, and xdotool helpers. Sourced with the script's arguments:
# PAGETRIM MAKE_SAMPLE_PAGES ARTIFACT_DIR

pagetrim_bin=$1
make_samples=$2
artifacts=$3

work=$(mktemp -d)
trap '[ -z "${app_pid:-}" ] || kill "$app_pid" 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$artifacts" "$work/bin" "$work/book"
# A copy of the binary, so that its settings file lands in the sandbox too.
cp "$pagetrim_bin" "$work/bin/pagetrim"
"$make_samples" "$work/book" >/dev/null

fail() {
  echo "FAIL: $*" >&2
  import -window root "$artifacts/failure-$(basename "$0" .sh).png" 2>/dev/null || true
  exit 1
}

# "W H DPI" of a page file, the resolution in whole dots per inch.
page_info() {
  identify -units PixelsPerInch -format '%w %h %x\n' "$1" | head -n 1 |
    awk '{ printf "%d %d %d\n", $1, $2, $3 + 0.5 }'
}

# Starts pagetrim on a page and waits for its window.
start_pagetrim() {
  "$work/bin/pagetrim" "$1" &
  app_pid=$!
  wid=$(xdotool search --sync --onlyvisible --name 'pagetrim' | head -n 1)
  [ -n "$wid" ] || fail "no window"
  xdotool windowfocus --sync "$wid" 2>/dev/null || true
}

# Waits until a page file reads as "W H DPI"; the program works at its own pace.
wait_page_info() {
  for _ in $(seq 1 100); do
    [ "$(page_info "$1")" = "$2" ] && return 0
    sleep 0.1
  done
  fail "$(basename "$1") is $(page_info "$1"), expected $2"
}

wait_title() {
  for _ in $(seq 1 "${2:-100}"); do
    [[ "$(xdotool getwindowname "$wid" 2>/dev/null)" == *"$1"* ]] && return 0
    sleep 0.1
  done
  fail "title never showed '$1' (it is '$(xdotool getwindowname "$wid")')"
}

key() {
  xdotool key --window "$wid" --clearmodifiers "$1" 2>/dev/null || xdotool key "$1"
  sleep 0.4
}

# Clicks at a point of the window's client area.
click_at() {
  xdotool mousemove --window "$wid" "$1" "$2"
  sleep 0.2
  xdotool click "$3"
  sleep 0.4
}

stop_pagetrim() {
  kill "$app_pid"
  wait "$app_pid" 2>/dev/null || true
}
