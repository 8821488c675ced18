#!/usr/bin/env bash
# Checks the two Windows packages as a user would meet them, in a Wine prefix of its own made afresh:
#   packaging/windows/check-packages.sh build/windows ocelo-windows-1.0.0
# - the ZIP holds exactly ocelo-cli.exe, README.txt, LICENSE.txt (and ocelo.exe when the build made it)
#   in one folder;
# - the installer, run silently into a folder whose name has a space, installs those same files (byte for
#   byte), the uninstaller, the Start-menu folder and the Add or remove programs entry; the installed
#   ocelo-cli.exe converts a Shift_JIS file;
# - installed again over itself, it replaces the installation and leaves a file of the user's alone;
# - the uninstaller, run silently, removes all it installed and nothing else: the user's file stays.
# `make package-windows` runs it after cpack; it prints one line per step and fails at the first fault.
set -euo pipefail
build=$(cd "$1" && pwd)
base=$2
here=$(cd "$(dirname "$0")/../.." && pwd)

expected=(LICENSE.txt README.txt ocelo-cli.exe)
[ -f "$build/ocelo.exe" ] && expected+=(ocelo.exe)

fail() {
  echo "check-packages: $*" >&2
  exit 1
}
# The names of the files directly in a folder, sorted, one a line.
files_in() {
  find "$1" -mindepth 1 -maxdepth 1 -printf '%f\n' | LC_ALL=C sort
}
sorted() {
  printf '%s\n' "$@" | LC_ALL=C sort
}

work=$(mktemp -d)
export WINEPREFIX=$build/wineprefix-package
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "== $base.zip"
mkdir "$work/zip"
(cd "$work/zip" && cmake -E tar xf "$build/$base.zip")
[ "$(files_in "$work/zip")" = "$base" ] || fail "the ZIP does not hold one folder $base: $(files_in "$work/zip")"
[ "$(files_in "$work/zip/$base")" = "$(sorted "${expected[@]}")" ] ||
  fail "the ZIP holds $(files_in "$work/zip/$base" | tr '\n' ' '), not ${expected[*]}"

echo "== a fresh Wine prefix"
rm -rf "$WINEPREFIX"
env -u DISPLAY WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wine wineboot --init
wineserver -w

drive_c=$WINEPREFIX/drive_c
target="$drive_c/Ocelo check"
menu="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Ocelo"
uninstall_key='[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ocelo]'
# Runs a Windows program and waits until every process of the prefix is gone: an NSIS uninstaller
# returns at once and goes on as a copy of itself.
wine_wait() {
  "$here/cmake/wine-run.sh" "$@"
  wineserver -w
}
check_installed() {
  [ "$(files_in "$target")" = "$(sorted "${expected[@]}" Uninstall.exe "$@")" ] ||
    fail "the installed folder holds $(files_in "$target" | tr '\n' ' ')"
  for name in "${expected[@]}"; do
    cmp "$work/zip/$base/$name" "$target/$name" || fail "$name differs between the ZIP and the installer"
  done
  local links=("Ocelo README.lnk" Uninstall.lnk)
  [ -f "$build/ocelo.exe" ] && links+=(Ocelo.lnk)
  [ "$(files_in "$menu")" = "$(sorted "${links[@]}")" ] ||
    fail "the Start-menu folder holds $(files_in "$menu" 2>/dev/null | tr '\n' ' '), not ${links[*]}"
  grep -qiF "$uninstall_key" "$WINEPREFIX/system.reg" || fail "no Add or remove programs entry"
}

echo "== $base-setup.exe /S"
# NSIS takes the rest of its command line after /D= as the folder, unquoted, and Wine would quote an
# argument that holds a space: hence two arguments.
wine_wait "$build/$base-setup.exe" /S '/D=C:\Ocelo' check
check_installed
# The installed program runs: あい and CR LF in Shift_JIS become UTF-8, the line end kept.
printf '\x82\xa0\x82\xa2\r\n' > "$work/in.txt"
(cd "$work" && "$here/cmake/wine-run.sh" 'C:\Ocelo check\ocelo-cli.exe' convert -t utf-8 -o out in.txt)
cmp "$work/out/in.txt" <(printf '\xe3\x81\x82\xe3\x81\x84\r\n') || fail "the installed ocelo-cli.exe converts wrongly"

echo "== installed again over itself"
printf 'mine\r\n' > "$target/notes.txt"
wine_wait "$build/$base-setup.exe" /S '/D=C:\Ocelo' check
check_installed notes.txt

echo "== Uninstall.exe /S"
wine_wait 'C:\Ocelo check\Uninstall.exe' /S
[ "$(files_in "$target")" = notes.txt ] || fail "after uninstalling, the folder holds $(files_in "$target" | tr '\n' ' ')"
cmp "$target/notes.txt" <(printf 'mine\r\n') || fail "the uninstaller changed the user's file"
[ ! -e "$menu" ] || fail "the Start-menu folder is still there"
! grep -qiF "$uninstall_key" "$WINEPREFIX/system.reg" || fail "the Add or remove programs entry is still there"

rm -rf "$WINEPREFIX"
echo "== $base.zip and $base-setup.exe: good"
