#!/usr/bin/env bash
# The differential check: generated feeds run once through the Linux build and once through
# the Windows build under Wine, each on its own identical copy. Every file the runs leave
# (targets, mirrors, archives, indexes, the day log with its time stamps masked) must be
# byte for byte the same, and so must the exit status, standard error and standard output
# (stamps masked). Usage: differential.sh WINBUILD BUILD
set -euo pipefail
WINBUILD=$(realpath "$1")
BUILD=$(realpath "$2")
here=$(dirname "$(realpath "$0")")
. "$here/wine-env.sh"
. "$here/compare.sh"

work="$WINBUILD/differential"
rm -rf "$work"
mkdir -p "$work"
# Drive D: of the prefix is the feed of the Windows run; Z: stays the host's root.
drive="$WINEPREFIX/dosdevices/d:"

gbk() { printf '%b' "$1" | iconv -f GBK -t UTF-8; }  # a GBK name as the host writes it
crlf() { printf '%s\r\n' "$@"; }

# Feed changes beyond what the generator makes, by name.
damage() {
  local feed=$1 kind=$2
  case $kind in
    case)
      # Names that differ from the ones the program writes only in case, and a folder the
      # program will look for as DATA.
      mv "$feed/sh/src/600001A.sub" "$feed/sh/src/600001a.sub"
      mv "$feed/sh/src/600002.F10" "$feed/sh/src/600002.f10"
      mv "$feed/sz/src/000002B.sub" "$feed/sz/src/000002b.SUB"
      mkdir "$feed/sz/src/data"
      mv "$feed/mirror/sz" "$feed/mirror/SZ"
      ;;
    collide)
      # Two names in one folder that differ only in case, as a Linux disk can hold them and
      # NTFS cannot: the program stages one of them under its name.
      printf 'other bytes\r\n' > "$feed/sh/src/600001a.sub"
      cp "$feed/sz/src/000002.F10" "$feed/sz/src/000002.f10"
      head -c 16 "$feed/sz/src/000002.F10" > "$feed/sz/src/000002.f10"
      ;;
    gbk)
      # Characters whose second byte is a backslash (D5 5C, 81 5C): a section file, and a
      # mirror folder named in the settings.
      : > "$feed/sh/src/$(gbk '600003\xd5\x5c.sub')"
      printf 'x\r\n' > "$feed/sz/src/$(gbk '000001\x81\x5c.sub')"
      mkdir "$feed/mirror/$(gbk '\xd5\x5c\x81\x5c')"
      LC_ALL=C sed -i 's/^SHSZMIRROR=.*\r$/&\nSHMIRROR2=D:\\mirror\\\xd5\x5c\x81\x5c\r/' "$feed/home/LORVANE.INI"
      ;;
    missing)
      # Files the indexes name that are not there, and entries that cannot be read as what
      # their names say: a folder as a section file, a folder as an index, a cut index.
      rm "$feed/sh/src/600001B.sub" "$feed/tpl/00003.txt"
      rm "$feed/sz/src/000002A.sub"
      rm "$feed/sz/src/000003.F10"
      mkdir "$feed/sh/src/600002Z.sub" "$feed/sz/src/000003.F10"
      head -c 100 "$feed/sh/src/600003.F10" > "$feed/sh/src/600003.cut" && mv "$feed/sh/src/600003.cut" "$feed/sh/src/600003.F10"
      : > "$feed/sz/src/000001.F10"
      ;;
  esac
}

scenarios=(
  # name        feedgen options                                               changes
  "plain        --seed 1 --sh 6 --sz 4 --sections 5"
  "index        --seed 2 --sh 6 --sz 5 --sections 7 --index"
  "bare         --seed 3 --sh 4 --sz 3 --sections 3 --index --no-mirrors --index-codes 0"
  "case         --seed 4 --sh 4 --sz 3 --sections 4 --index"
  "collide      --seed 7 --sh 3 --sz 3 --sections 3 --index"
  "gbk          --seed 5 --sh 4 --sz 3 --sections 3"
  "missing      --seed 6 --sh 5 --sz 4 --sections 3 --index --index-codes 3"
)

differences=0
for row in "${scenarios[@]}"; do
  read -r name options <<<"$row"
  dir="$work/$name"
  # shellcheck disable=SC2086
  "$BUILD/lorvane-feedgen" --out "$dir/feed" $options --section-bytes 1500 >/dev/null
  damage "$dir/feed" "$name"
  cp -a "$dir/feed" "$dir/linux"
  cp -a "$dir/feed" "$dir/windows"
  # Each copy's settings map D: to itself; the Windows build has D: from the prefix instead.
  for side in linux windows; do
    LC_ALL=C sed -i "s|^D=.*\r\$|D=$dir/$side\r|" "$dir/$side/home/LORVANE.INI"
  done

  set +e
  "$BUILD/lorvane" --home "$dir/linux/home" --once >"$dir/linux.out" 2>"$dir/linux.err"
  echo $? >"$dir/linux.rc"
  ln -sfn "$dir/windows" "$drive"
  "$WINE" "$WINBUILD/lorvane.exe" --home 'D:\home' --once >"$dir/windows.out" 2>"$dir/windows.err"
  echo $? >"$dir/windows.rc"
  set -e
  rm -f "$drive"

  comparable "$dir/linux" "$dir/windows"
  for side in linux windows; do
    console "$dir/$side.out" >"$dir/$side.out.masked"
    errors "$dir/$side.err" >"$dir/$side.err.masked"
  done
  bad=0
  cmp -s "$dir/linux.rc" "$dir/windows.rc" || { echo "  $name: exit status $(cat "$dir/linux.rc") (Linux) vs $(cat "$dir/windows.rc") (Windows)"; bad=1; }
  for stream in err out; do
    if ! cmp -s "$dir/linux.$stream.masked" "$dir/windows.$stream.masked"; then
      echo "  $name: standard $stream differs:"
      diff "$dir/linux.$stream.masked" "$dir/windows.$stream.masked" >"$dir/$stream.diff" || true
      head -20 "$dir/$stream.diff"
      bad=1
    fi
  done
  if ! diff -r "$dir/linux" "$dir/windows" >"$dir/tree.diff"; then
    echo "  $name: the files differ:"
    head -20 "$dir/tree.diff"
    bad=1
  fi
  files=$(find "$dir/linux" -type f | wc -l)
  if [ $bad -eq 0 ]; then
    echo "  $name: identical ($files files, exit status $(cat "$dir/linux.rc"))"
  else
    differences=$((differences + 1))
  fi
done
[ $differences -eq 0 ] || { echo "differential: $differences of ${#scenarios[@]} feeds differ (kept in $work)"; exit 1; }
echo "differential: all ${#scenarios[@]} feeds identical"
[ -n "${KEEP:-}" ] || rm -rf "$work"
