#!/usr/bin/env bash
# Whole conversions: ocelo-cli beside iconv, nkf and cp on the same generated Shift_JIS corpus.
# Prints the best of several runs of each command (wall seconds, peak memory) and the ratios to iconv.
# Usage: bench/e2e.sh [runs]   (expects `make build` and the bench preset to be built; `make bench-e2e` does both)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
cli=build/default/ocelo-cli
bench=build/bench/ocelo_bench
work=$(mktemp -d "${TMPDIR:-/tmp}/ocelo-e2e.XXXXXX")
trap 'rm -rf "$work"' EXIT
# ocelo-cli keeps its Rescue backups and dump log under these; keep them inside the work folder.
export TMPDIR="$work/tmp" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache" XDG_CONFIG_HOME="$work/config"
mkdir -p "$TMPDIR" "$work/in"
"$bench" --write-corpus="$work/in/corpus.txt"
size=$(stat -c %s "$work/in/corpus.txt")

# best_of NAME SETUP COMMAND: runs SETUP then times COMMAND, $runs times; records the best time and its memory.
declare -A best_time best_mem
best_of() {
  local name=$1 setup=$2 command=$3 i t m
  best_time[$name]=999999; best_mem[$name]=0
  for ((i = 0; i < runs; i++)); do
    eval "$setup"
    /usr/bin/time -f '%e %M' -o "$work/time" bash -c "$command" >/dev/null
    read -r t m < "$work/time"
    if awk "BEGIN{exit !($t < ${best_time[$name]})}"; then best_time[$name]=$t; best_mem[$name]=$m; fi
  done
}

sync
best_of cp "rm -f '$work/cp.txt'" "cp '$work/in/corpus.txt' '$work/cp.txt'"
best_of iconv "" "iconv -f CP932 -t UTF-8 '$work/in/corpus.txt' > '$work/iconv.txt'"
best_of nkf "" "nkf -S -w '$work/in/corpus.txt' > '$work/nkf.txt'"
best_of ocelo "rm -rf '$work/out'" "'$cli' convert --to utf-8 --out '$work/out' '$work/in/corpus.txt'"
best_of ocelo-up-to-date "" "'$cli' convert --to utf-8 --out '$work/out' '$work/in/corpus.txt'"

cmp -s "$work/iconv.txt" "$work/out/corpus.txt" && same=yes || same=NO
printf 'corpus: %d bytes of Shift_JIS; ocelo-cli output identical to iconv: %s\n\n' "$size" "$same"
printf '%-18s %9s %11s %10s %12s\n' command seconds "peak MiB" "x iconv" "mem x size"
for name in cp iconv nkf ocelo ocelo-up-to-date; do
  awk -v n="$name" -v t="${best_time[$name]}" -v m="${best_mem[$name]}" -v i="${best_time[iconv]}" -v s="$size" \
    'BEGIN { printf "%-18s %9.3f %11.1f %10.2f %12.2f\n", n, t, m / 1024, (i > 0 ? t / i : 0), m * 1024 / s }'
done
