#!/usr/bin/env bash
# make test-windows: the Windows build's tests (the same sources as the Linux build's
# platform, index, engine and form behaviour tests) under Wine, then the differential check of
# both builds, then the Windows form driven on a virtual display, then the installer.
# Usage: run.sh WINBUILD BUILD
set -euo pipefail
WINBUILD=$(realpath "$1")
BUILD=$(realpath "$2")
here=$(dirname "$(realpath "$0")")
. "$here/wine-env.sh"

failed=0
passed=0
for test in platform_tests f10_tests engine_tests form_tests; do
  echo "== $test.exe (Wine)"
  # The tests make their folders under the system's temporary folder, inside the prefix; a
  # wait that is never woken must fail, not hang.
  if (cd "$WINBUILD" && timeout 600 "$WINE" "$test.exe" --gtest_brief=1); then
    passed=$((passed + 1))
  else
    echo "$test.exe FAILED under Wine"
    failed=$((failed + 1))
  fi
done

echo "== differential: the same feeds through $BUILD/lorvane and $WINBUILD/lorvane.exe"
if bash "$here/differential.sh" "$WINBUILD" "$BUILD"; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
fi

echo "== form: $WINBUILD/lorvane.exe's form on a virtual display, its run against $BUILD/lorvane's"
if bash "$here/form.sh" "$WINBUILD" "$BUILD"; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
fi

echo "== install: the installer into the Wine prefix and out again"
if bash "$here/install.sh" "$WINBUILD" "$BUILD"; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
fi
"$WINESERVER" -k 2>/dev/null || true
echo "test-windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
