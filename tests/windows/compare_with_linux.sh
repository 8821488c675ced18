#!/usr/bin/env bash
# ocelo-cli.exe under Wine beside the Linux ocelo-cli on one corpus: every copy each writes, with every
# target, into a folder and to standard output, must be byte for byte the same, with the same exit code,
# the same file names and the same modification times; `detect` must name the same encodings.
#   tests/windows/compare_with_linux.sh build/default/ocelo-cli build/windows/ocelo-cli.exe
# The corpus is made here from the system's iconv: code page 932 text with every character it has (and
# the byte pairs that are not characters), the same text in UTF-8 (with and without mark), UTF-16 (both
# byte orders, with and without mark), ASCII and its line ends, declarations, text that code page 932
# cannot hold, a zero byte late in a file, a binary file, an empty file, and texts of 2 and 3 MB whose
# pieces end inside characters. Exits 0 when everything agrees, else 1 with the differences.
set -euo pipefail
linux=$(realpath "$1")
windows=$(realpath "$2")
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/ocelo-compare.XXXXXX")
# One Wine server for all the runs (a program's start then takes a fraction of a second); it goes at the end.
export WINEPREFIX=${WINEPREFIX:-$here/build/windows/wineprefix}
env -u DISPLAY wineserver -p </dev/null >/dev/null 2>&1 || true  # (or the one already up)
trap 'cd /; wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
# The Linux program keeps its backups, log and settings in the work folder. (Wine finds its server through
# TMPDIR, so the variable stays as it is for the Windows program.)
linux_env=(env TMPDIR="$work/tmp" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache" XDG_CONFIG_HOME="$work/config")
mkdir -p "$work/tmp" "$work/in"
cd "$work/in"

# Code page 932: every lead byte with every trail byte, 32 pairs to a line, CR LF; the same once more
# with only the pairs that are characters (iconv -c drops the others on the way through UTF-8).
perl -e 'for $l (0x81..0x9F, 0xE0..0xFC) { for $t (0x40..0x7E, 0x80..0xFC) {
           print chr($l), chr($t); print "\r\n" if ++$n % 32 == 0 } }
         print "\r\n", map(chr, 0x20..0x7E, 0xA1..0xDF), "\r\n"' > cp932-pairs.txt
iconv -c -f CP932 -t UTF-8 cp932-pairs.txt > utf8.txt 2>/dev/null || true
iconv -f UTF-8 -t CP932 utf8.txt > cp932.txt
printf '\xef\xbb\xbf' | cat - utf8.txt > utf8-mark.txt
iconv -f UTF-8 -t UTF-16LE utf8.txt > utf16le.txt
printf '\xff\xfe' | cat - utf16le.txt > utf16le-mark.txt
printf '\xfe\xff' | cat - <(iconv -f UTF-8 -t UTF-16BE utf8.txt) > utf16be-mark.txt
# Some MB, so a conversion runs over many pieces, most of them ending inside a character.
for _ in $(seq 1 100); do cat utf8.txt; done > large-utf8.txt
for _ in $(seq 1 100); do cat cp932.txt; done > large-cp932.txt
printf 'plain ASCII\nwith LF\r\nCR LF\rand CR\n\ttab and trailing space \n' > ascii.txt
printf 'x' > one-byte.txt
: > empty.txt
printf '<?xml version="1.0" encoding="Shift_JIS"?>\n<a>\x82\xa0\x82\xa2</a>\n' > declared.xml
printf '<html><head><meta charset="UTF-8"></head><body>\xe3\x81\x82</body></html>\n' > declared.html
# Characters code page 932 has no place for (a copy to Shift_JIS keeps the file unchanged).
printf 'caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xe3\x81\x82\r\n' > lossy-utf8.txt
# Ill-formed UTF-8 among good text, stray lead bytes among Shift_JIS.
printf '\xe3\x81\x82 \xc3 \xe3\x81 \xed\xa0\x80 \xf4\x90\x80\x80 \xe3\x81\x84\n' > bad-utf8.txt
printf '\x82\xa0\x82\n\x82\x0a\x81\x20\x82\xa2\r\n' > bad-cp932.txt
# A zero byte at 60 % of a text, and a binary file.
{ head -c 6000 utf8.txt; printf '\0'; head -c 4000 utf8.txt; } > late-zero.txt
head -c 4096 /dev/urandom > binary.bin
files=(*)

status=0
fail() {
  echo "DIFFERENT: $*"
  status=1
}
# run WHERE ARGS...: ocelo-cli of one build; the exit code is written to the file $work/WHERE.rc.
run() {
  local where=$1 rc=0
  shift
  if [ "$where" = linux ]; then
    "${linux_env[@]}" "$linux" "$@" > "$work/linux.out" 2> "$work/linux.err" || rc=$?
  else
    "$here/cmake/wine-run.sh" "$windows" "$@" > "$work/windows.out" 2> "$work/windows.err" || rc=$?
  fi
  echo "$rc" > "$work/$where.rc"
}
same_rc() {
  cmp -s "$work/linux.rc" "$work/windows.rc" ||
    fail "$1: exit code $(cat "$work/linux.rc") on Linux, $(cat "$work/windows.rc") on Windows"
}

for target in copy utf-8 utf-16 shift_jis; do
  # Relative names from the corpus folder: Wine runs the program in the same folder (drive Z:).
  run linux convert -q -t "$target" -o "../linux-$target" -- "${files[@]}"
  run windows convert -q -t "$target" -o "..\\windows-$target" -- "${files[@]}"
  same_rc "convert -t $target"
  diff -r "../linux-$target" "../windows-$target" > "$work/diff" || fail "convert -t $target: $(cat "$work/diff")"
  for f in "../linux-$target"/*; do
    other="../windows-$target/${f##*/}"
    [ -e "$other" ] && [ "$(stat -c %Y "$f")" != "$(stat -c %Y "$other")" ] &&
      fail "convert -t $target: ${f##*/} has another modification time"
  done
  # Several texts to standard output, one after the other.
  stdout_files=(cp932.txt utf16le-mark.txt bad-utf8.txt lossy-utf8.txt bad-cp932.txt)
  run linux convert -q -t "$target" --stdout -- "${stdout_files[@]}"
  mv "$work/linux.out" "$work/linux.stdout"
  run windows convert -q -t "$target" --stdout -- "${stdout_files[@]}"
  same_rc "convert -t $target --stdout"
  cmp "$work/linux.stdout" "$work/windows.out" || fail "convert -t $target --stdout ${stdout_files[*]}"
done
# Standard input to standard output.
"${linux_env[@]}" "$linux" convert -t utf-16 - < large-cp932.txt > "$work/linux.stdin"
"$here/cmake/wine-run.sh" "$windows" convert -t utf-16 - < large-cp932.txt > "$work/windows.stdin"
cmp "$work/linux.stdin" "$work/windows.stdin" || fail "convert -t utf-16 - (standard input)"

run linux detect -- "${files[@]}"
mv "$work/linux.out" "$work/linux.detect"
run windows detect -- "${files[@]}"
same_rc detect
diff "$work/linux.detect" "$work/windows.out" > "$work/diff" || fail "detect: $(cat "$work/diff")"

count=$(find ../linux-* ../windows-* -type f | wc -l)
[ "$status" = 0 ] && echo "ocelo-cli.exe and ocelo-cli agree: ${#files[@]} files, 4 targets, $count copies compared"
exit "$status"
