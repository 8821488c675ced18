#!/usr/bin/env bash
# Whole conversions: ocelo-cli beside iconv, nkf and cp on the same Shift_JIS corpus, with the durability
# each gives (iconv's output is synced with `sync -d`, as ocelo-cli syncs its copies).
# The corpus is Debian's Japanese man pages (package manpages-ja, `make bench-deps`), all pages concatenated
# eight times and turned into code page 932 with `iconv -c`; without the package, the generated corpus.
# Prints, for each command, the fastest, median and slowest wall time of several runs, user and system
# time and peak memory (of the median run), and the ratios to iconv (iconv and the fresh and up-to-date
# conversions run in turn, round after round); then files per second for many small files, written fresh and replacing existing copies (SMALL_ONLY=1 measures
# only these). LARGE=3 also converts a generated text of that many GiB (needs twice that much disk).
# Usage: bench/e2e.sh [runs]   (expects `make build` and the bench preset; `make bench-e2e` builds both)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
cli=${OCELO_CLI:-$PWD/build/default/ocelo-cli}  # OCELO_CLI: another build to compare
bench=$PWD/build/bench/ocelo_bench
work=$(mktemp -d "${TMPDIR:-/tmp}/ocelo-e2e.XXXXXX")
trap 'rm -rf "$work"' EXIT
# ocelo-cli keeps its Rescue backups and dump log under these; keep them inside the work folder.
export TMPDIR="$work/tmp" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache" XDG_CONFIG_HOME="$work/config"
mkdir -p "$TMPDIR" "$work/in"
corpus="$work/in/corpus.txt"
if compgen -G "/usr/share/man/ja/man*/*.gz" >/dev/null; then
  find /usr/share/man/ja -type f -name '*.gz' | sort | xargs zcat > "$work/pages.txt"
  for _ in 1 2 3 4 5 6 7 8; do cat "$work/pages.txt"; done | iconv -c -f UTF-8 -t CP932 > "$corpus" 2>/dev/null || true
  rm -f "$work/pages.txt"
  origin="manpages-ja x 8"
else
  "$bench" --write-corpus="$corpus"
  origin="generated (install manpages-ja for the real one)"
fi
size=$(stat -c %s "$corpus")

# measure NAME SETUP COMMAND: runs SETUP then times COMMAND, $runs times. Keeps every wall time, and the
# user, system and peak memory figures of each run.
declare -A results
once() {
  local name=$1 setup=$2 command=$3
  eval "$setup"
  /usr/bin/time -f '%e %U %S %M' -o "$work/time" bash -c "$command" >/dev/null
  results[$name]+="$(cat "$work/time");"
}
measure() {
  local i
  for ((i = 0; i < runs; i++)); do once "$@"; done
}
# rounds NAME SETUP COMMAND ...: each round runs every command once, in turn, so that a machine whose load
# changes weighs on all of them alike (the ratios to iconv are what the goals speak of).
rounds() {
  local i k
  for ((i = 0; i < runs; i++)); do
    for ((k = 1; k <= $#; k += 3)); do once "${@:k:3}"; done
  done
}

# summary NAME: fastest, median, slowest wall time; user, system and peak memory of the median run.
summary() {
  tr ';' '\n' <<<"${results[$1]}" | grep . | sort -n -k1,1 |
    awk '{ t[NR] = $1; u[NR] = $2; s[NR] = $3; m[NR] = $4 }
         END { k = int((NR + 1) / 2); printf "%s %s %s %s %s %s\n", t[1], t[k], t[NR], u[k], s[k], m[k] }'
}

sync
if [ -z "${SMALL_ONLY:-}" ]; then
  measure cp "rm -f '$work/cp.txt'" "cp '$corpus' '$work/cp.txt' && sync -d '$work/cp.txt'"
  rounds iconv "" "iconv -f CP932 -t UTF-8 '$corpus' > '$work/iconv.txt'" \
    iconv+sync "" "iconv -f CP932 -t UTF-8 '$corpus' > '$work/iconv.txt' && sync -d '$work/iconv.txt'" \
    ocelo "rm -rf '$work/out'" "'$cli' convert -q --to utf-8 --out '$work/out' '$corpus'" \
    ocelo-up-to-date "" "'$cli' convert -q --to utf-8 --out '$work/out' '$corpus'"
  measure nkf "" "nkf -S -w '$corpus' > '$work/nkf.txt'"
  measure ocelo-utf16 "rm -rf '$work/out16'" "'$cli' convert -q --to utf-16 --out '$work/out16' '$corpus'"
  measure ocelo-detect "" "'$cli' detect -q '$corpus'"

  cmp -s "$work/iconv.txt" "$work/out/corpus.txt" && same=yes || same=NO
  printf 'corpus: %s, %d bytes of Shift_JIS; %d runs each; ocelo-cli output identical to iconv: %s\n\n' \
    "$origin" "$size" "$runs" "$same"
  read -r _ iconv_median _ iconv_user iconv_sys _ <<<"$(summary iconv)"
  read -r _ synced_median _ _ _ _ <<<"$(summary iconv+sync)"
  printf '%-18s %7s %7s %7s %6s %6s %9s %8s %11s %10s\n' command fastest median slowest user sys "peak MiB" "x iconv" \
    "x iconv+sync" "CPU x iconv"
  for name in cp iconv iconv+sync nkf ocelo ocelo-up-to-date ocelo-utf16 ocelo-detect; do
    read -r fast median slow user sys mem <<<"$(summary "$name")"
    awk -v n="$name" -v f="$fast" -v t="$median" -v w="$slow" -v u="$user" -v s="$sys" -v m="$mem" \
      -v i="$iconv_median" -v y="$synced_median" -v c="$iconv_user" -v d="$iconv_sys" \
      'BEGIN { printf "%-18s %7.2f %7.2f %7.2f %6.2f %6.2f %9.1f %8.2f %11.2f %10.2f\n", n, f, t, w, u, s, m / 1024,
               t / i, t / y, (u + s) / (c + d) }'
  done
fi

# Many small files in one run: 3,000 files of 4 KB, each converted, checked and made durable.
mkdir -p "$work/small"
head -c 4096 "$corpus" > "$work/small/0.txt"
for ((i = 1; i < 3000; i++)); do cp "$work/small/0.txt" "$work/small/$i.txt"; done
sync
# Each run writes into a new folder; the copies of the run before are moved aside, not deleted: on ext4
# without a journal (this machine's), the kernel finds a new file's inode by stepping over the inodes
# freed in the last minute or so (`recently_deleted` in a profile), so a run right after deleting the
# 3,000 copies of the run before spends about half its time on that deletion.
mkdir -p "$work/small-old"
measure small "[ ! -d '$work/small-out' ] || mv '$work/small-out' \"\$(mktemp -d '$work/small-old/XXXXXX')\"; sync" \
  "'$cli' convert -q --to utf-8 --out '$work/small-out' '$work/small'/*.txt"
# The same 3,000 copies replaced: the sources get a new time before each run (a second apart, so a copy
# is never taken for up to date), and each copy is backed up twice into its Rescue folder before it is
# replaced.
stamp=1700000000
measure small-replace "stamp=\$((stamp + 1)); touch -d @\$stamp '$work/small'/*.txt; sync" \
  "'$cli' convert -q --to utf-8 --out '$work/small-out' '$work/small'/*.txt"
echo
for name in small small-replace; do
  read -r fast median slow user sys mem <<<"$(summary "$name")"
  awk -v n="$name" -v f="$fast" -v t="$median" -v w="$slow" -v u="$user" -v s="$sys" -v m="$mem" \
    'BEGIN { printf "3,000 files of 4 KB, %s: %.0f files/s (median %.2f s, fastest %.2f s, slowest %.2f s; user %.2f s, sys %.2f s, peak %.1f MiB)\n",
             n == "small" ? "fresh copies" : "existing copies replaced", 3000 / t, t, f, w, u, s, m / 1024 }'
done

if [ -n "${LARGE:-}" ]; then
  # A text larger than the memory one process should take: peak memory must stay flat.
  large="$work/in/large.txt"
  while [ "$(stat -c %s "$large" 2>/dev/null || echo 0)" -lt $((LARGE << 30)) ]; do cat "$corpus" >> "$large"; done
  runs=1 measure large "rm -rf '$work/large-out'" "'$cli' convert -q --to utf-8 --out '$work/large-out' '$large'"
  read -r fast _ _ user sys mem <<<"$(summary large)"
  printf '%d GiB text: %.1f s (user %.1f s, sys %.1f s), peak %.1f MiB\n' "$LARGE" "$fast" "$user" "$sys" \
    "$(awk -v m="$mem" 'BEGIN { print m / 1024 }')"
fi
