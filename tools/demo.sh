#!/usr/bin/env bash
# make demo: one headless merge over a small generated feed, then the day's log and what
# the run produced. Usage: tools/demo.sh [BUILD_DIR]   (default build)
# LORVANE_DEMO_DIR puts the feed somewhere else than demo/ (the tests use it).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-build}
case $build in /*) ;; *) build=$root/$build ;; esac
demo=${LORVANE_DEMO_DIR:-$root/demo}
feedgen=$build/lorvane-feedgen
lorvane=$build/lorvane

fail() {
  echo "demo: FAILED: $*" >&2
  exit 1
}

for exe in "$feedgen" "$lorvane"; do
  [ -x "$exe" ] || fail "$exe is missing; build first (make)"
done

# Each demo starts from a fresh feed: a second run over the same folder would find every
# section file already staged and have nothing to show.
rm -rf "$demo"
"$feedgen" --out "$demo" --sh 5 --sz 5 --sections 4 --section-bytes 1200 --index --seed 1 ||
  fail "lorvane-feedgen could not write the feed into $demo"

echo
echo "== lorvane --once --home $demo/home"
# Its standard output repeats the form log, which the day's log below holds in full; its
# standard error carries the failure notices, if any, and stays on the terminal.
status=0
"$lorvane" --once --home "$demo/home" >"$demo/once.out" || status=$?

shopt -s nullglob
logs=("$demo"/home/UniteLog*.txt)
shopt -u nullglob

echo
echo "== The day's log (GBK, shown as UTF-8)"
if [ ${#logs[@]} -gt 0 ]; then
  for log in "${logs[@]}"; do
    iconv -c -f GBK -t UTF-8 "$log" | tr -d '\r'
  done
else
  echo "(no log file in $demo/home)"
fi

# Exit status 1 means the run reported a failure. A failed stock (or composite) is reported
# and passed over, and the run still stages every stock; a failure that ends the run leaves
# section files waiting in the source roots.
left=$({ find "$demo/sh/src" "$demo/sz/src" -maxdepth 1 -type f -iname '*.sub' 2>/dev/null || true; } | wc -l)
case $status in
  0) ;;
  1) [ "$left" -eq 0 ] || fail "the run ended early (exit status 1): $left section files were not staged"
     echo "(the run reported a failure for some stock or composite: see the log above)" ;;
  *) fail "lorvane --once ended with exit status $status" ;;
esac
[ ${#logs[@]} -gt 0 ] || fail "the run wrote no log file into $demo/home"
[ "$left" -eq 0 ] || fail "$left section files were not staged, yet the run reported nothing"

# One line per folder (files, bytes), then its first and last two files with their sizes.
show() {
  local dir=$1 label=$2 count bytes
  if [ ! -d "$demo/$dir" ]; then
    printf '%-12s %s: missing\n' "$dir" "$label"
    return 0
  fi
  count=$(find "$demo/$dir" -type f | wc -l)
  bytes=$(find "$demo/$dir" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
  printf '%-12s %s: %d files, %d bytes\n' "$dir" "$label" "$count" "$bytes"
  # awk reads to the end, so the listing never dies of a closed pipe
  find "$demo/$dir" -type f -printf '%P\t%s\n' | LC_ALL=C sort |
    awk -F '\t' -v n="$count" '
      NR <= 2 || NR > n - 2 { printf "    %8d  %s\n", $2, $1 }
      NR == 3 && n > 4 { print "    ..." }'
  return 0
}

echo
echo "== What the run produced (under $demo)"
show sh/dst "Shanghai texts and indexes"
show sz/dst "Shenzhen texts and indexes"
show mirror/sh "Shanghai mirror"
show mirror/sz "Shenzhen mirror"
show mirror/both "mirror of both markets"
show sh/src/DATA "Shanghai archive"
show sz/src/DATA "Shenzhen archive"

first=$demo/sh/dst/600000.txt
if [ -f "$first" ]; then
  echo
  echo "== The start of sh/dst/600000.txt: a title line inserted before each banner line"
  head -n 4 "$first" | iconv -c -f GBK -t UTF-8 | tr -d '\r'
  echo "..."
fi

# Stock failures are reported in the log above and leave the other stocks merged; a run that
# merged no stock at all went wrong somewhere else.
texts=$({ find "$demo/sh/dst" -maxdepth 1 -type f -name '6[0-9][0-9][0-9][0-9][0-9].txt' 2>/dev/null || true
          find "$demo/sz/dst" -maxdepth 1 -type f -name '0[0-9][0-9][0-9][0-9][0-9].txt' 2>/dev/null || true
        } | wc -l)
[ "$texts" -gt 0 ] || fail "the run merged no stock text"

echo
echo "Open the form on the same data:  $lorvane --home $demo/home"
