#!/usr/bin/env bash
# make bench: times `lorvane --once` against lorvane-floor (the same file work in plain POSIX
# calls) and against a run started from the form (lorvane-formrun: the form on Qt's offscreen
# platform, or under Xvfb when xvfb-run is installed, its execute-now button clicked) on a
# full-market feed and on one a tenth of its size, each run on a fresh copy of the feed, the
# three alternating, and checks every output after every run.
#
#   bench/run.sh [BUILD_DIR] [--quick] [--runs N] [--durable-runs N] [--sizes SH:SZ,SH:SZ]
#
#   --quick           40 + 40 and 4 + 4 stocks, one run each (a smoke run of the instrument)
#   --runs N          timed runs of each program per size (default 3)
#   --durable-runs N  runs per size of the floor with every file synced (default 1; 0: none)
#   --sizes A:B,C:D   Shanghai:Shenzhen stocks of the large and the small feed
#                     (default 2300:2800,230:280)
#
# LORVANE_BENCH_DIR puts the feeds and the working copy somewhere else than bench/out/. The
# generated feeds stay there for the next bench; a working copy lives only for one run.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=build
quick=0
runs=3
durable_runs=1
custom_sizes=
while [ $# -gt 0 ]; do
  case $1 in
    --quick) quick=1 ;;
    --runs) runs=${2:?--runs needs a number}; shift ;;
    --durable-runs) durable_runs=${2:?--durable-runs needs a number}; shift ;;
    --sizes) custom_sizes=${2:?--sizes needs SH:SZ,SH:SZ}; shift ;;
    -h|--help) sed -n '2,17p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "bench: unknown option $1" >&2; exit 2 ;;
    *) build=$1 ;;
  esac
  shift
done
case $build in /*) ;; *) build=$root/$build ;; esac
out=${LORVANE_BENCH_DIR:-$root/bench/out}
mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$out/work

fail() {
  echo "bench: FAILED: $*" >&2
  exit 1
}

for exe in lorvane lorvane-feedgen lorvane-floor lorvane-benchcheck lorvane-peakrss lorvane-formrun; do
  [ -x "$build/$exe" ] || fail "$build/$exe is missing; build first (make)"
done
case $runs$durable_runs in *[!0-9]*) fail "--runs and --durable-runs take whole numbers" ;; esac
[ "$runs" -ge 1 ] || fail "--runs must be at least 1"
case $work in *[\|\&\\]*) fail "the bench folder $out holds a character this script cannot put into the settings" ;; esac

if [ $quick = 1 ]; then
  sizes=("quick 40 40" "quick-tenth 4 4")
  runs=1
  durable_runs=0
else
  sizes=("full 2300 2800" "tenth 230 280")
fi
if [ -n "$custom_sizes" ]; then
  [[ $custom_sizes =~ ^([0-9]+):([0-9]+),([0-9]+):([0-9]+)$ ]] ||
    fail "--sizes takes SH:SZ,SH:SZ, for example 2300:2800,230:280"
  sizes=("large ${BASH_REMATCH[1]} ${BASH_REMATCH[2]}" "small ${BASH_REMATCH[3]} ${BASH_REMATCH[4]}")
fi
sections=12
section_bytes=12000

# The feed, generated once per size and kept: a stamp records how it was made.
feed_for() {
  local label=$1 sh=$2 sz=$3 feed=$out/feed-$1
  local stamp="sh=$sh sz=$sz sections=$sections bytes=$section_bytes index seed=1"
  # A kept feed is used only while it is as made: its settings point drive D: at the feed
  # itself, so a run started on them by hand would have staged and merged it.
  if [ -f "$feed.stamp" ] && [ "$(cat "$feed.stamp")" = "$stamp" ] && [ -d "$feed" ] &&
     [ ! -e "$feed/sh/src/DATA" ] && [ ! -e "$feed/sz/src/DATA" ] &&
     [ "$(find "$feed/sh/src" -maxdepth 1 -name '*.sub' | wc -l)" -eq $((sh * sections)) ] &&
     [ "$(find "$feed/sz/src" -maxdepth 1 -name '*.sub' | wc -l)" -eq $((sz * sections)) ]; then
    return 0
  fi
  if [ -e "$feed" ]; then
    rm -rf "$feed"
    date +%s >"$cleaned"
  fi
  rm -f "$feed.stamp"
  echo "generating the $label feed ($sh + $sz stocks) ..."
  "$build/lorvane-feedgen" --out "$feed" --sh "$sh" --sz "$sz" --sections $sections \
    --section-bytes $section_bytes --index --seed 1 >/dev/null ||
    fail "lorvane-feedgen could not write $feed"
  echo "$stamp" >"$feed.stamp"
}

# No file is deleted while the bench runs. ext4 without a journal keeps a deleted inode out
# of use for a minute, six while its inode table block is dirty (and every creation dirties
# it), and each file created meanwhile steps over all such inodes of its group: a working
# copy deleted just before a timed run made both programs' creations several times slower,
# by an amount that grew from run to run and swamped what was measured. So a used copy has
# its files emptied (that frees blocks, not inodes) and is moved aside; the lot is deleted at
# the end, and a bench started within six minutes of such a cleanup waits out the rest.
trash=$out/trash
cleaned=$out/cleaned.at
retire_work() {
  [ -e "$work" ] || return 0
  find "$work" -type f -exec truncate -s 0 {} +
  mkdir -p "$trash"
  mv "$work" "$trash/$(date +%s%N)"
}
clean_up() {
  [ -e "$trash" ] || [ -e "$work" ] || return 0
  rm -rf "$trash" "$work"
  sync
  date +%s >"$cleaned"
}
settle() {
  [ -f "$cleaned" ] || return 0
  local left=$(($(cat "$cleaned") + 370 - $(date +%s)))
  if [ "$left" -gt 0 ]; then
    echo "waiting ${left} s: files deleted by the last cleanup would still slow every file creation ..."
    sleep "$left"
  fi
}

# A fresh working copy of a feed, its drive D: pointed at the copy.
fresh_copy() {
  retire_work
  cp -a "$1" "$work"
  local drive ini=$work/home/LORVANE.INI settings
  drive=$(printf '%s' "$work" | iconv -f UTF-8 -t GBK) || fail "the path $work has no GBK form"
  # Rewritten where it stands: sed -i would delete the old file.
  settings=$(LC_ALL=C sed "s|^D=.*|D=${drive}\r|" "$ini")
  printf '%s\n' "$settings" >"$ini"
  # What the copy left in the page cache stays warm; what it left dirty goes out now, not
  # during the timed run.
  sync
}

# The form's display: a virtual X server when there is one, else Qt's offscreen platform. Both
# draw for real, into memory.
if command -v xvfb-run >/dev/null 2>&1; then
  form_display=(xvfb-run -a)
  form_platform=xcb
else
  form_display=()
  form_platform=offscreen
fi
# No bus for the form: under Xvfb it has no desktop session, and a session bus inherited
# from a desktop would put its tray icon on that desktop. Without an address, the D-Bus
# library would launch a bus for the display (dbus-launch) wherever a machine id exists, and
# where dbus-launch is missing it fails and leaks its buffer, which a sanitized build reports.
# /dev/null is never a socket: the form finds no bus on every machine alike.
form_bus=unix:path=/dev/null
# Qt wants a private runtime folder and warns on every start without one.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR=$out/runtime
  mkdir -p "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
fi

# Times one program on a fresh copy, checks its outputs, appends "SECONDS KIB" to $results
# ("SECONDS KIB GAP_MS" for the form: from the click to the end of the run, and the main
# thread's longest wait meanwhile).
# kind: lorvane | floor | durable | form
timed_run() {
  local kind=$1 feed=$2 sh=$3 sz=$4 results=$5 status report=$out/last-run.time
  fresh_copy "$feed"
  status=0
  case $kind in
    lorvane) "$build/lorvane-peakrss" "$report" "$build/lorvane" --once --home "$work/home" \
               >"$out/last-$kind.out" 2>&1 || status=$? ;;
    floor) "$build/lorvane-peakrss" "$report" "$build/lorvane-floor" "$work" \
             >"$out/last-$kind.out" 2>&1 || status=$? ;;
    durable) "$build/lorvane-peakrss" "$report" "$build/lorvane-floor" --durable "$work" \
               >"$out/last-$kind.out" 2>&1 || status=$? ;;
    form) DBUS_SESSION_BUS_ADDRESS=$form_bus QT_QPA_PLATFORM=$form_platform "${form_display[@]}" \
            "$build/lorvane-peakrss" "$report" "$build/lorvane-formrun" --home "$work/home" \
            >"$out/last-$kind.out" 2>&1 || status=$? ;;
  esac
  if [ $status -ne 0 ]; then
    tail -n 20 "$out/last-$kind.out" >&2
    fail "$kind ended with exit status $status (its output: $out/last-$kind.out)"
  fi
  local plain=()
  [ "$kind" = lorvane ] || [ "$kind" = form ] || plain=(--plain)
  if ! "$build/lorvane-benchcheck" "${plain[@]}" --sh "$sh" --sz "$sz" "$work" \
       >"$out/last-check.out" 2>&1; then
    cat "$out/last-check.out" >&2
    fail "the outputs of the $kind run are wrong (the run's folder stays in $work)"
  fi
  local cpu
  read -r seconds kib _ cpu <"$report"
  if [ "$kind" = form ]; then
    local gap
    # The form's own figures: the run alone, without the program's start.
    read -r seconds gap _ < <(grep -E '^[0-9.]+ [0-9.]+ [0-9.]+ [0-9]+$' "$out/last-$kind.out" | tail -n 1) ||
      fail "lorvane-formrun printed no figures (its output: $out/last-$kind.out)"
    echo "$seconds $kib $gap $cpu" >>"$results"
    printf '  %-8s %8.2f s  %7.1f MiB  longest wait of the main thread %6.1f ms\n' "$kind" "$seconds" \
      "$(awk -v k="$kib" 'BEGIN { print k / 1024 }')" "$gap"
    return
  fi
  echo "$seconds $kib $cpu" >>"$results"
  printf '  %-8s %8.2f s  %7.1f MiB  processor %6.2f s\n' "$kind" "$seconds" \
    "$(awk -v k="$kib" 'BEGIN { print k / 1024 }')" "$cpu"
}

# System calls of one untimed run of `kind` (lorvane | floor) on a fresh copy, per stock,
# counted by strace over every thread; "-" without strace, or when the counted run cannot go
# (the timed runs have checked the program already; the count is only a figure).
syscalls_per_stock() {
  local kind=$1 feed=$2 stocks=$3 counts=$out/last-syscalls.txt status=0
  command -v strace >/dev/null || { echo -; return; }
  fresh_copy "$feed"
  # The leak checker of a sanitizer build stops a program traced by strace.
  local asan=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0
  case $kind in
    lorvane) ASAN_OPTIONS=$asan strace -f -c -o "$counts" "$build/lorvane" --once --home "$work/home" \
               >"$out/last-counted.out" 2>&1 ;;
    floor) ASAN_OPTIONS=$asan strace -f -c -o "$counts" "$build/lorvane-floor" "$work" >"$out/last-counted.out" 2>&1 ;;
  esac || status=$?
  if [ $status -ne 0 ]; then
    echo "bench: the counted $kind run ended with exit status $status, no count (its output: $out/last-counted.out)" >&2
    echo -
    return
  fi
  awk -v n="$stocks" '$NF == "total" { printf "%.0f", $(NF - 2) / n }' "$counts"
}

# The median of the first column, or of column $2 (the mean of the middle two for an even
# count).
median() {
  awk -v c="${2:-1}" '{ print $c }' "$1" | sort -g |
    awk '{ v[NR] = $1 } END { if (NR == 0) print "-"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# The largest third column (the form's longest wait).
worst_gap() {
  awk 'BEGIN { m = "-" } { if (m == "-" || $3 > m) m = $3 } END { print m }' "$1"
}
# The largest second column, in MiB.
peak_mib() {
  awk 'BEGIN { m = 0 } { if ($2 > m) m = $2 } END { printf "%.1f", m / 1024 }' "$1"
}

echo "== machine"
echo "cpus: $(nproc); cpu: $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //')"
echo "memory: $(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo); kernel: $(uname -r)"
echo "bench folder: $out ($(df -PT "$out" | awk 'NR == 2 { print $2 " on " $1 }'))"
# Other work on the machine shows in the times, the syncs most of all.
echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"

retire_work
for entry in "${sizes[@]}"; do
  read -r label sh sz <<<"$entry"
  feed_for "$label" "$sh" "$sz"
done
# A smoke run times nothing worth waiting for (and make test runs it every time).
[ $quick = 1 ] || settle
declare -A med_lorvane med_floor med_durable med_form gap_form peak cpu_lorvane cpu_floor calls_lorvane calls_floor
for entry in "${sizes[@]}"; do
  read -r label sh sz <<<"$entry"
  feed_for "$label" "$sh" "$sz"
  echo "== $label: $sh + $sz stocks, $sections sections of about $section_bytes bytes"
  for kind in lorvane floor durable form; do : >"$out/times-$label-$kind"; done
  for ((i = 1; i <= runs; i++)); do
    # Rotate which program goes first, so none always inherits another's page cache.
    case $((i % 3)) in
      1) order=(lorvane floor form) ;;
      2) order=(floor form lorvane) ;;
      0) order=(form lorvane floor) ;;
    esac
    for kind in "${order[@]}"; do timed_run "$kind" "$out/feed-$label" "$sh" "$sz" "$out/times-$label-$kind"; done
  done
  for ((i = 1; i <= durable_runs; i++)); do
    timed_run durable "$out/feed-$label" "$sh" "$sz" "$out/times-$label-durable"
  done
  med_lorvane[$label]=$(median "$out/times-$label-lorvane")
  med_floor[$label]=$(median "$out/times-$label-floor")
  cpu_lorvane[$label]=$(median "$out/times-$label-lorvane" 3)
  cpu_floor[$label]=$(median "$out/times-$label-floor" 3)
  calls_lorvane[$label]=$(syscalls_per_stock lorvane "$out/feed-$label" $((sh + sz)))
  calls_floor[$label]=$(syscalls_per_stock floor "$out/feed-$label" $((sh + sz)))
  med_durable[$label]=$(median "$out/times-$label-durable")
  med_form[$label]=$(median "$out/times-$label-form")
  gap_form[$label]=$(worst_gap "$out/times-$label-form")
  peak[$label]=$(peak_mib "$out/times-$label-lorvane")
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-" || b <= 0) print "-"; else printf "%.2f", a / b }'; }

echo
echo "== result (medians of $runs runs; every output checked)"
printf '%-12s %7s %11s %9s %9s %13s %13s %10s\n' size stocks "lorvane s" "floor s" ratio \
  "floor+sync s" "ratio (sync)" "peak MiB"
for entry in "${sizes[@]}"; do
  read -r label sh sz <<<"$entry"
  printf '%-12s %7d %11s %9s %9s %13s %13s %10s\n' "$label" $((sh + sz)) "${med_lorvane[$label]}" \
    "${med_floor[$label]}" "$(ratio "${med_lorvane[$label]}" "${med_floor[$label]}")" \
    "${med_durable[$label]}" "$(ratio "${med_lorvane[$label]}" "${med_durable[$label]}")" "${peak[$label]}"
done
echo
echo "== processor time (user + system, medians) and system calls per stock (one counted run each)"
printf '%-12s %7s %13s %11s %9s %16s %14s\n' size stocks "lorvane cpu s" "floor cpu s" ratio \
  "lorvane calls" "floor calls"
for entry in "${sizes[@]}"; do
  read -r label sh sz <<<"$entry"
  printf '%-12s %7d %13s %11s %9s %16s %14s\n' "$label" $((sh + sz)) "${cpu_lorvane[$label]}" \
    "${cpu_floor[$label]}" "$(ratio "${cpu_lorvane[$label]}" "${cpu_floor[$label]}")" \
    "${calls_lorvane[$label]}" "${calls_floor[$label]}"
done
big=${sizes[0]%% *}
small=${sizes[1]%% *}
full_ratio=$(ratio "${med_lorvane[$big]}" "${med_floor[$big]}")
linear=$(ratio "${med_lorvane[$big]}" "${med_lorvane[$small]}")
echo
echo "lorvane / floor at $big size: $full_ratio (target at most 1.0)"
echo "lorvane / floor processor time at $big size: $(ratio "${cpu_lorvane[$big]}" "${cpu_floor[$big]}") (target at most 1.5)"
echo "lorvane system calls per stock at $big size: ${calls_lorvane[$big]} (target at most 150)"
echo "lorvane $big / $small time:   $linear (target at most 11 for ten times the stocks)"
echo "lorvane peak memory at $big: ${peak[$big]} MiB (target under 64)"
echo
echo "== the form ($form_platform): a run from its execute-now button, click to end"
printf '%-12s %7s %8s %11s %9s %18s\n' size stocks "form s" "lorvane s" ratio "longest wait ms"
for entry in "${sizes[@]}"; do
  read -r label sh sz <<<"$entry"
  printf '%-12s %7d %8s %11s %9s %18s\n' "$label" $((sh + sz)) "${med_form[$label]}" \
    "${med_lorvane[$label]}" "$(ratio "${med_form[$label]}" "${med_lorvane[$label]}")" "${gap_form[$label]}"
done
echo "form / lorvane at $big size: $(ratio "${med_form[$big]}" "${med_lorvane[$big]}") (target at most 1.05)"
echo "the main thread's longest wait during a form run: ${gap_form[$big]} ms at $big size (target under 50)"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
# The working copies go now; the next bench waits for their inodes to be reusable again.
clean_up
