#!/usr/bin/env bash
# Builds every fuzz target (fuzz_*) with clang into build-fuzz/ (or $FUZZ_BUILD) and runs
# each one for FUZZ_SECONDS (default 60). The corpus grows in fuzz-out/<target>/corpus/, a
# crash is kept in fuzz-out/<target>/. With --build-only it builds and stops.
set -euo pipefail
cd "$(dirname "$0")/../.."

SECONDS_EACH="${FUZZ_SECONDS:-60}"
BUILD="${FUZZ_BUILD:-build-fuzz}"
OUT=fuzz-out

# LORVANE_WERROR (1 or 0, as the Makefile's WERROR) makes warnings errors or not; unset, the
# build folder keeps its choice.
werror=
case "${LORVANE_WERROR:-}" in
  1 | ON | on | yes) werror=ON ;;
  0 | OFF | off | no) werror=OFF ;;
esac
if [ ! -f "$BUILD/CMakeCache.txt" ] ||
  { [ -n "$werror" ] && ! grep -qx "LORVANE_WERROR:BOOL=$werror" "$BUILD/CMakeCache.txt"; }; then
  CC=clang CXX=clang++ cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLORVANE_WERROR="${werror:-OFF}" > /dev/null
fi
targets=$(cmake --build "$BUILD" --target help | sed -n 's/^\.\.\. \(fuzz_[A-Za-z0-9_]*\).*/\1/p')
if [ -z "$targets" ]; then
  echo "no fuzz targets (is the compiler clang?)" >&2
  exit 1
fi
# shellcheck disable=SC2086
cmake --build "$BUILD" -j "$(nproc)" --target $targets
[ "${1:-}" = "--build-only" ] && exit 0
for t in $targets; do
  mkdir -p "$OUT/$t/corpus"
  echo "== $t for ${SECONDS_EACH}s"
  "$BUILD/$t" -max_total_time="$SECONDS_EACH" -rss_limit_mb=2048 -artifact_prefix="$OUT/$t/" \
    "$OUT/$t/corpus"
done
