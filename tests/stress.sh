#!/usr/bin/env bash
# stress.sh BUILD [RUNS]: runs the tests already built in BUILD RUNS times over (default 20)
# while a busy loop keeps every processor occupied, so that a test leaning on the machine's
# speed or on one thread's timing shows itself. Each run gets a fresh seed in LORVANE_SEED
# (the kill trials draw their moments from it). Stops at the first failing run with the
# failed tests, the seed and the command that replays them; the run's output is kept in
# BUILD/stress.log. Exit status 0 when every run passed, 1 at a failure, 2 for wrong usage.
set -euo pipefail

build="${1:-}"
runs="${2:-20}"
if [ -z "$build" ] || ! [[ "$runs" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: stress.sh BUILD [RUNS]" >&2
  exit 2
fi
if [ ! -f "$build/CTestTestfile.cmake" ]; then
  echo "stress: no tests in $build (build them first: make build)" >&2
  exit 2
fi
build="$(cd "$build" && pwd)"
jobs="${JOBS:-$(nproc)}"
log="$build/stress.log"
failed_list="$build/Testing/Temporary/LastTestsFailed.log"

load=()
stop_load() {
  for pid in "${load[@]}"; do kill "$pid" 2> /dev/null || true; done
  for pid in "${load[@]}"; do wait "$pid" 2> /dev/null || true; done
}
trap stop_load EXIT
trap 'exit 130' INT TERM
# Each loop also ends by itself once this script is gone, however it went (a SIGKILL runs no
# trap): a leftover loop would slow the machine down for good.
for ((i = 0; i < $(nproc); i++)); do
  (while kill -0 $$ 2> /dev/null; do :; done) &
  load+=("$!")
done
echo "stress: $runs runs of the tests in $build, ctest -j $jobs, beside ${#load[@]} busy loops"

for ((run = 1; run <= runs; run++)); do
  seed=$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')
  start=$SECONDS
  if LORVANE_SEED=$seed ctest --test-dir "$build" --output-on-failure -j "$jobs" > "$log" 2>&1; then
    summary=$(grep -o '[0-9]* tests failed out of [0-9]*' "$log" | tail -1)
    echo "stress: run $run/$runs passed in $((SECONDS - start)) s (${summary:-?}, seed $seed)"
    continue
  fi
  echo "stress: run $run/$runs FAILED after $((SECONDS - start)) s with seed $seed; failed tests:"
  names=()
  if [ -f "$failed_list" ]; then
    while IFS= read -r line; do names+=("${line#*:}"); done < "$failed_list"
  fi
  if [ ${#names[@]} -eq 0 ]; then
    echo "  (ctest named none; see $log)"
  else
    printf '  %s\n' "${names[@]}"
    pattern=$(printf '^%s$|' "${names[@]}")
    env="LORVANE_SEED=$seed QT_QPA_PLATFORM=offscreen${TSAN_OPTIONS:+ TSAN_OPTIONS=$TSAN_OPTIONS}"
    echo "replay: (cd $build && $env ctest --output-on-failure -R '${pattern%|}')"
  fi
  echo "the run's whole output: $log"
  exit 1
done
echo "stress: all $runs runs passed"
