#!/usr/bin/env bash
# The dialog on a real X server: Xvfb with openbox, the real ocelo binary, real XDND drops from
# ocelo_xdnd_source (an Xlib drag source) moved by xdotool. Each test has its own HOME, TMPDIR and XDG folders
# and a fake xdg-open that records what it is asked to open. Screenshots go to build/x11-screenshots.
#   tests/x11/run.sh [BUILD_DIR] [TEST...]     BUILD_DIR defaults to build/default; no TEST runs them all.
# Everything waits for what it needs (windows, files, pixels) with generous bounds, never for a fixed time
# alone, so that a loaded machine only makes it slower.
set -uo pipefail

build=$(cd "${1:-build/default}" && pwd) || exit 2
shift || true
ocelo=$build/ocelo
helper=$build/ocelo_x11_helper
source=$build/ocelo_xdnd_source
shots=$(dirname "$build")/x11-screenshots
for tool in Xvfb openbox xdotool "$ocelo" "$helper" "$source"; do
  command -v "$tool" > /dev/null || { echo "x11: $tool is missing (make deps; make build)" >&2; exit 2; }
done
mkdir -p "$shots"

# Japanese window titles reach xdotool's search through the locale.
export LC_ALL=C.UTF-8
unset WAYLAND_DISPLAY QT_QPA_PLATFORM SESSION_MANAGER
base_path=$PATH
root=$(mktemp -d "${TMPDIR:-/tmp}/ocelo-x11-XXXXXX")
pids=()

# Ends the processes started here (by their ids), and waits for them.
stop_started() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null; done
  wait 2> /dev/null
}

cleanup() {
  stop_started
  [ -n "${OCELO_KEEP_SANDBOX:-}" ] || rm -rf "$root"
}
trap cleanup EXIT

# Polls a command until it succeeds, for at most $1 seconds.
wait_until() {
  local limit=$1 start=$SECONDS
  shift
  until "$@"; do
    ((SECONDS - start < limit)) || return 1
    sleep 0.05
  done
}

fail() {
  echo "x11: FAIL: $*" >&2
  return 1
}

# ---- The X server and the window manager, shared by the tests.
start_display() {
  local wm_home=$root/wm
  mkdir -p "$wm_home"
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3> "$root/display" 2> "$root/xvfb.log" &
  pids+=($!)
  wait_until 30 test -s "$root/display" || { cat "$root/xvfb.log" >&2; fail "Xvfb did not start"; return 1; }
  export DISPLAY=:$(head -n 1 "$root/display")
  HOME=$wm_home XDG_CONFIG_HOME=$wm_home openbox --sm-disable > "$root/openbox.log" 2>&1 &
  pids+=($!)
  # The desktop count is an EWMH property that only a running window manager sets.
  wait_until 30 xdotool get_num_desktops > /dev/null 2>&1 || { cat "$root/openbox.log" >&2; fail "openbox"; }
}

# ---- One test's sandbox: its own home, temporary and XDG folders, and the fake xdg-open.
new_sandbox() {
  box=$root/$1
  mkdir -p "$box"/{home,tmp,config,data,cache,runtime,bin,files}
  chmod 700 "$box"/*
  export HOME=$box/home TMPDIR=$box/tmp XDG_CONFIG_HOME=$box/config XDG_DATA_HOME=$box/data
  export XDG_CACHE_HOME=$box/cache XDG_RUNTIME_DIR=$box/runtime PATH=$box/bin:$base_path
  printf '#!/bin/sh\nprintf "%%s\\n" "$*" >> "%s/opened"\n' "$box" > "$box/bin/xdg-open"
  chmod 755 "$box/bin/xdg-open"
}

# ---- Windows.
# The visible windows of a process, one id a line.
windows_of() { xdotool search --onlyvisible --pid "$1" 2> /dev/null; }

# Waits for the process's first visible window and prints its id.
window_of() {
  local pid=$1 id
  wait_until 60 eval '[ -n "$(windows_of "$pid")" ]' || return 1
  id=$(windows_of "$pid" | head -n 1)
  echo "$id"
}

# X Y W H of a window's client area on the screen.
geometry() {
  local X Y WIDTH HEIGHT WINDOW SCREEN
  eval "$(xdotool getwindowgeometry --shell "$1")" || return 1
  echo "$X $Y $WIDTH $HEIGHT"
}

# The geometry once the window manager is done with the window: the same for half a second.
settled_geometry() {
  local last now same=0 start=$SECONDS
  last=$(geometry "$1") || return 1
  while ((same < 5)); do
    ((SECONDS - start < 60)) || return 1
    sleep 0.1
    now=$(geometry "$1") || return 1
    if [ "$now" = "$last" ]; then same=$((same + 1)); else same=0; fi
    last=$now
  done
  echo "$last"
}

# Starts the dialog; sets ocelo_pid and dialog (its window).
start_ocelo() {
  "$ocelo" > "$box/ocelo.log" 2>&1 &
  ocelo_pid=$!
  pids+=("$ocelo_pid")
  dialog=$(window_of "$ocelo_pid") || fail "the dialog did not appear" || return 1
  settled_geometry "$dialog" > /dev/null
}

# Waits for the dialog's process to end.
wait_ocelo_gone() {
  wait_until 60 eval '! kill -0 "$ocelo_pid" 2> /dev/null' || fail "the dialog did not close" || return 1
  wait "$ocelo_pid" 2> /dev/null
  return 0
}

activate() { xdotool windowactivate --sync "$1" > /dev/null 2>&1 || xdotool windowfocus --sync "$1"; }

# Picks the target in row $1 (0 "  0 : Copy" .. 3 " 74 : ShiftJIS") with the keyboard, as a user can.
select_target() {
  activate "$dialog"
  xdotool key --clearmodifiers Home
  local i
  for ((i = 0; i < $1; i++)); do xdotool key --clearmodifiers Down; done
}

# Saves the dialog with its frame as $1.png once it has settled (and differs from $2.png when given).
screenshot() {
  local x y w h
  read -r x y w h <<< "$(geometry "${3:-$dialog}")"
  # Room for openbox's frame and title bar around the client area.
  x=$((x - 12)) y=$((y - 48)) w=$((w + 24)) h=$((h + 60))
  ((x < 0)) && x=0
  ((y < 0)) && y=0
  "$helper" shot "$shots/$1.png" "$x" "$y" "$w" "$h" ${2:+"$shots/$2.png"} || fail "screenshot $1"
}

# ---- Drops: the drag source's window, a press in it, the pointer moved onto the target list until the
# dialog accepts the drag, then released.
drop() {
  local status=$box/drag-status x y w h i
  rm -f "$status"
  "$source" "$status" 20 20 "$@" > "$box/source.log" 2>&1 &
  local source_pid=$!
  pids+=("$source_pid")
  local window
  window=$(window_of "$source_pid") || fail "the drag source did not appear" || return 1
  settled_geometry "$window" > /dev/null
  activate "$window"
  read -r x y w h <<< "$(geometry "$window")"
  xdotool mousemove --sync $((x + w / 2)) $((y + h / 2))
  xdotool mousedown 1
  wait_until 60 grep -qx started "$status" || fail "the drag did not start" || return 1
  read -r x y w h <<< "$(geometry "$dialog")"
  # Moves by one pixel to and fro over the list: each move is a new XdndPosition the dialog answers.
  for ((i = 0; i < 1200; i++)); do
    xdotool mousemove --sync $((x + w * 3 / 4 + i % 2)) $((y + h / 2))
    grep -qx accepted "$status" && break
    sleep 0.05
  done
  xdotool mouseup 1
  wait_until 60 grep -qx 'dropped\|refused' "$status" || fail "the drag did not end"
  wait_until 60 eval '! kill -0 "$source_pid" 2> /dev/null'
  grep -qx dropped "$status" || fail "the dialog refused the drop" || return 1
}

# Finds the dialog's message box by its title (the dialog's own), saves its picture as $1.png, and answers
# it with Enter.
close_box() {
  local title box_window
  title=$(xdotool getwindowname "$dialog")
  wait_until 60 eval 'box_window=$(xdotool search --onlyvisible --name "^$title\$" | grep -vx "$dialog" | head -n 1)
                      [ -n "$box_window" ]' || fail "no box titled $title" || return 1
  settled_geometry "$box_window" > /dev/null
  screenshot "$1" "" "$box_window"
  activate "$box_window"
  xdotool key --clearmodifiers Return
  wait_until 60 eval '! xdotool search --onlyvisible --name "^$title\$" | grep -qx "$box_window"' ||
    fail "the box did not close"
}

# The bytes of a file as hex.
hex() { od -An -v -tx1 "$1" | tr -d ' \n'; }

# Waits for a file with these bytes.
expect_file() {
  local file=$1 want=$2
  wait_until 60 test -f "$file" || fail "no file $file" || return 1
  wait_until 60 eval '[ "$(hex "$file")" = "$want" ]' || fail "$file holds $(hex "$file"), not $want"
}

# ---- The tests.

# Each open and close (Escape or SIGTERM, as a logout sends) leaves the window where it was. The first
# run is moved to the middle of the screen, where a creep in any direction would show.
test_position_stays_over_open_close_cycles() {
  new_sandbox position
  start_ocelo || return 1
  xdotool windowmove --sync "$dialog" 400 300
  settled_geometry "$dialog" > /dev/null
  kill -TERM "$ocelo_pid"
  wait_ocelo_gone || return 1
  local first="" now cycle
  for cycle in $(seq 1 21); do
    start_ocelo || return 1
    now=$(settled_geometry "$dialog")
    [ -n "$first" ] || first=$now
    [ "$now" = "$first" ] || fail "after $((cycle - 1)) cycles the dialog is at $now, first at $first" || return 1
    if ((cycle % 2)); then
      activate "$dialog"
      xdotool key --clearmodifiers Escape
    else
      kill -TERM "$ocelo_pid"
    fi
    wait_ocelo_gone || return 1
  done
}

# A Shift_JIS file dropped with "  8 : UTF-8" selected: its UTF-8 copy in today's work folder, the file
# manager opened on that folder, and both gone once SIGTERM has closed the dialog.
test_drop_shift_jis_with_utf8_selected() {
  new_sandbox drop-utf8
  local text='日本語のテキストです。\r\n'
  printf "$text" | iconv -f UTF-8 -t SHIFT_JIS > "$box/files/sjis.txt"
  start_ocelo || return 1
  select_target 1
  drop "$box/files/sjis.txt" || return 1
  local copy
  wait_until 60 eval 'copy=$(find "$TMPDIR" -type f -name sjis.txt | head -n 1); [ -n "$copy" ]' ||
    fail "no copy in the work folder" || return 1
  expect_file "$copy" "$(printf "$text" | od -An -v -tx1 | tr -d ' \n')" || return 1
  wait_until 60 grep -qxF "$(dirname "$copy")/" "$box/opened" ||
    wait_until 1 grep -qxF "$(dirname "$copy")" "$box/opened" || fail "xdg-open was not asked for the work folder"
  # SIGTERM (a logout) ends it as the close button does: today's copies go, and the day folder left empty.
  kill -TERM "$ocelo_pid"
  wait_ocelo_gone || return 1
  [ ! -e "$copy" ] || fail "the work copy outlived the dialog" || return 1
  [ ! -d "$(dirname "$copy")" ] || fail "the empty day folder outlived the dialog"
}

# A dropped folder becomes the output folder: the next file's copy lands there.
test_dropped_folder_becomes_the_output_folder() {
  new_sandbox drop-folder
  mkdir -p "$box/out"
  printf 'plain ascii\n' > "$box/files/notes.txt"
  start_ocelo || return 1
  select_target 0
  drop "$box/out" || return 1
  drop "$box/files/notes.txt" || return 1
  expect_file "$box/out/notes.txt" "$(hex "$box/files/notes.txt")" || return 1
  grep -q "$box/out" "$box/opened" || fail "xdg-open was not asked for the dropped folder" || return 1
  # The copy itself dropped again is its own target: the "same" report, whose title must show in full.
  drop "$box/out/notes.txt" || return 1
  close_box message-box-same || return 1
  kill -TERM "$ocelo_pid"
  wait_ocelo_gone
}

# A file that is not text brings up the report, a box with the program's caption.
test_non_text_file_brings_up_its_message_box() {
  new_sandbox not-text
  printf 'PK\003\004\024\000\000\000' > "$box/files/report.docx"
  start_ocelo || return 1
  drop "$box/files/report.docx" || return 1
  close_box message-box-not-text || return 1
  [ ! -e "$TMPDIR"/*/*/report.docx ] || fail "a file that is not text was copied"
  kill -TERM "$ocelo_pid"
  wait_ocelo_gone
}

# Another window activated over the dialog does not cover it.
test_dialog_stays_above_another_window() {
  new_sandbox above
  start_ocelo || return 1
  local x y w h other_pid other
  read -r x y w h <<< "$(geometry "$dialog")"
  "$helper" window $((x - 40)) $((y - 40)) $((w + 80)) $((h + 80)) > /dev/null 2>&1 &
  other_pid=$!
  pids+=("$other_pid")
  other=$(window_of "$other_pid") || fail "the other window did not appear" || return 1
  activate "$other"
  # The other window is drawn (its magenta shows beside the dialog) and the dialog is still on top of it.
  wait_until 60 eval '[ "$("$helper" pixel $((x - 20)) $((y + h / 2)))" = "#ff00ff" ]' ||
    fail "the other window is not drawn" || return 1
  local centre
  centre=$("$helper" pixel $((x + w / 2)) $((y + h / 2)))
  [ "$centre" != "#ff00ff" ] || fail "the other window covers the dialog" || return 1
  screenshot above-another-window
  kill "$other_pid"
  kill -TERM "$ocelo_pid"
  wait_ocelo_gone
}

# The dialog with nothing chosen, then with each target: pictures for a person to look at.
test_screenshots_of_each_target() {
  new_sandbox screenshots
  start_ocelo || return 1
  screenshot target-none || return 1
  local previous=target-none row name
  local names=(target-0-copy target-8-utf8 target-16-utf16 target-74-shiftjis)
  for row in 0 1 2 3; do
    name=${names[$row]}
    select_target "$row"
    screenshot "$name" "$previous" || return 1
    previous=$name
  done
  kill -TERM "$ocelo_pid"
  wait_ocelo_gone
}

# Shift+F10 opens the context menu and its item the version dialog; the exit button shows focus and hover.
test_keyboard_menu_focus_and_hover() {
  new_sandbox keyboard
  start_ocelo || return 1
  screenshot exit-plain || return 1
  activate "$dialog"
  xdotool key --clearmodifiers shift+F10
  # The menu is a second window of the process; Enter before it is up would go to the dialog.
  wait_until 60 eval '[ "$(windows_of "$ocelo_pid" | wc -l)" -ge 2 ]' || fail "Shift+F10 opened no menu" || return 1
  xdotool key --clearmodifiers Down Return
  local about
  wait_until 60 eval 'about=$(xdotool search --onlyvisible --name "^ﾊﾞｰｼﾞｮﾝ情報\$" | head -n 1); [ -n "$about" ]' ||
    fail "Shift+F10 and Enter did not open the version dialog" || return 1
  settled_geometry "$about" > /dev/null
  screenshot version-dialog "" "$about"
  activate "$about"
  xdotool key --clearmodifiers Return
  wait_until 60 eval '! xdotool search --onlyvisible --name "^ﾊﾞｰｼﾞｮﾝ情報\$" | grep -qx "$about"' ||
    fail "the version dialog did not close" || return 1
  # Tab moves the focus from the list to the exit button, which shows it; then the pointer over it.
  activate "$dialog"
  xdotool key --clearmodifiers Tab
  screenshot exit-focused exit-plain || return 1
  local x y w h
  read -r x y w h <<< "$(geometry "$dialog")"
  xdotool mousemove --sync $((x + w / 8)) $((y + h / 2))
  screenshot exit-hover exit-focused || return 1
  kill -TERM "$ocelo_pid"
  wait_ocelo_gone
}

# ---- Running them.
start_display || exit 1
all=(test_position_stays_over_open_close_cycles test_drop_shift_jis_with_utf8_selected
  test_dropped_folder_becomes_the_output_folder test_non_text_file_brings_up_its_message_box
  test_dialog_stays_above_another_window test_screenshots_of_each_target test_keyboard_menu_focus_and_hover)
chosen=("$@")
[ ${#chosen[@]} -gt 0 ] || chosen=("${all[@]}")
failed=0
for test in "${chosen[@]}"; do
  start=$SECONDS
  # A subshell: the sandbox's environment and the test's processes end with the test.
  if (pids=() && trap stop_started EXIT && "$test"); then
    echo "x11: ok   $test ($((SECONDS - start)) s)"
  else
    echo "x11: FAIL $test ($((SECONDS - start)) s)"
    failed=$((failed + 1))
  fi
done
echo "x11: ${#chosen[@]} tests, $failed failed; screenshots in $shots"
[ "$failed" = 0 ]
