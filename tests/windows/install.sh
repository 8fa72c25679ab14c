#!/usr/bin/env bash
# The installer under Wine, in the private prefix: lorvane-<version>-x64.msi installed
# silently; the programs under Program Files\Lorvane, the Start menu shortcut and the
# uninstaller's entry checked; the installed lorvane.exe must keep its settings and day logs
# in the user's %LOCALAPPDATA%\Lorvane (--help says so; --once without settings leaves the
# folder unmade; --once with settings there logs there and writes nothing under Program
# Files); a newer package must replace it; removed silently, the programs and the shortcut
# go, the settings and the day log stay.
# Usage: install.sh WINBUILD BUILD
set -euo pipefail
WINBUILD=$(realpath "$1")
BUILD=$(realpath "$2")
here=$(dirname "$(realpath "$0")")
. "$here/wine-env.sh"

msi=$(ls -t "$WINBUILD"/lorvane-*-x64.msi 2>/dev/null | head -1)
[ -n "$msi" ] || { echo "  install: no installer in $WINBUILD (make msi builds it)"; exit 1; }
version=${msi##*/lorvane-}
version=${version%-x64.msi}
work="$WINBUILD/install-test"
rm -rf "$work"
mkdir -p "$work"
drive="$WINEPREFIX/dosdevices/d:"
trap 'rm -f "$drive"' EXIT

fail() {
  echo "  install: $*"
  exit 1
}
win() { "$WINE" "$@" 2>/dev/null | tr -d '\r'; }
# A host path as Wine's drive Z: names it.
zpath() { printf 'Z:%s' "${1//\//\\}"; }
# The uninstaller's entries named Lorvane, as "name version" lines.
entries() {
  win reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s |
    awk '$1 == "DisplayName" { name = $3 } $1 == "DisplayVersion" && name == "Lorvane" { print name, $3; name = "" }'
}

# The product codes of the installed packages named Lorvane.
products() {
  win reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s |
    awk '/^HKEY/ { key = $0; sub(/.*\\/, "", key) } $1 == "DisplayName" && $3 == "Lorvane" { print key }'
}

programs="$WINEPREFIX/drive_c/Program Files/Lorvane"
installed='C:\Program Files\Lorvane\lorvane.exe'
local=$(win cmd /c 'echo %LOCALAPPDATA%')
[ -n "$local" ] || fail "Wine names no %LOCALAPPDATA%"
localHost=$(win winepath -u "$local")
home="$localHost/Lorvane"
# What an earlier run left in the prefix, whatever package it came from.
for product in $(products); do win msiexec /x "$product" /qn || true; done
rm -rf "$home"

win msiexec /i "$(zpath "$msi")" /qn || fail "msiexec /i $msi failed"
[ "$(ls "$programs" 2>/dev/null | tr '\n' ' ')" = "lorvane-index.exe lorvane.exe " ] ||
  fail "Program Files\\Lorvane holds '$(ls "$programs" 2>/dev/null | tr '\n' ' ')', not the two programs"
for program in lorvane.exe lorvane-index.exe; do
  cmp -s "$programs/$program" "$WINBUILD/msi-files/$program" || fail "the installed $program is not the one built"
done
# Wine puts a package's shortcuts for all users into the user's Start menu.
shortcut=$(find "$WINEPREFIX/drive_c" -path '*/Start Menu/Programs/Lorvane.lnk' | head -1)
[ -n "$shortcut" ] || fail "no Start menu shortcut Lorvane.lnk"
grep -aqF "$installed" "$shortcut" || fail "the shortcut $shortcut does not start $installed"
[ "$(entries)" = "Lorvane $version" ] || fail "the uninstaller's entries: '$(entries)', not 'Lorvane $version'"
win reg query 'HKCR\Installer\Products' /s | grep -q 'ProductIcon.*lorvane\.ico' ||
  fail "the uninstaller's entry has no icon"

# Installed under Program Files, the program keeps its settings in %LOCALAPPDATA%\Lorvane.
said=$(win "$installed" --help | tail -1)
[ "$said" = "Settings and day logs of this program now: $local\\Lorvane" ] || fail "--help ends with '$said'"
status=0
win "$installed" --once >"$work/nosettings.out" 2>&1 || status=$?
[ "$status" -eq 2 ] || fail "--once without settings exited with $status, not 2"
[ ! -e "$home" ] || fail "--once without settings made $home"

# A small feed, its settings in the user's folder.
"$BUILD/lorvane-feedgen" --out "$work/feed" --seed 9 --sh 3 --sz 2 --sections 3 --section-bytes 600 >/dev/null
ln -sfn "$work/feed" "$drive"
mkdir -p "$home"
cp "$work/feed/home/LORVANE.INI" "$home/"
touch "$work/before"
status=0
win "$installed" --once >"$work/run.out" || status=$?
[ "$status" -eq 0 ] || fail "the installed lorvane.exe --once exited with $status"
log=$(ls "$home"/UniteLog*.txt 2>/dev/null | head -1)
[ -n "$log" ] || fail "no day log in $local\\Lorvane"
[ -n "$(ls "$work/feed/sh/dst")" ] || fail "the run merged nothing into D:\\sh\\dst"
written=$(find "$programs" -newer "$work/before")
[ -z "$written" ] && [ "$(ls "$programs" | tr '\n' ' ')" = "lorvane-index.exe lorvane.exe " ] ||
  fail "the run wrote under Program Files: $written"

# A newer package (the same upgrade code) replaces this one. Windows Installer compares
# the first three fields of a version only.
IFS=. read -r major minor patch <<<"$version"
newer="$major.$minor.$((patch + 1))"
sed "s/Version=\"$version\"/Version=\"$newer\"/" "$WINBUILD/lorvane.wxs" >"$work/newer.wxs"
(cd "$WINBUILD" && wixl -a x64 -o "$work/newer.msi" "$work/newer.wxs" 2>"$work/wixl.err") ||
  fail "wixl could not build the newer package: $(cat "$work/wixl.err")"
win msiexec /i "$(zpath "$work/newer.msi")" /qn || fail "msiexec /i of the newer package failed"
[ "$(entries)" = "Lorvane $newer" ] || fail "after the newer package, the entries are '$(entries)'"

win msiexec /x "$(zpath "$work/newer.msi")" /qn || fail "msiexec /x failed"
[ ! -e "$programs" ] || fail "Program Files\\Lorvane is still there: $(ls "$programs")"
[ ! -e "$shortcut" ] || fail "the shortcut $shortcut is still there"
[ -z "$(entries)" ] || fail "the uninstaller's entry is still there"
[ -f "$home/LORVANE.INI" ] && [ -f "$log" ] || fail "removing the program took the settings or the day log"
echo "  install: $(basename "$msi") ($(($(stat -c %s "$msi") / 1024)) KiB) installed, ran from Program Files" \
  "with its settings in $local\\Lorvane, replaced by $newer, removed; settings and day log kept"
[ -n "${KEEP:-}" ] || rm -rf "$work" "$home"
