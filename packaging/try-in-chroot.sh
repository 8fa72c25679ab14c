#!/bin/bash
# make deb-try: the package installed into a fresh Debian 12 (bookworm) chroot and the
# service's run made by hand in it, as the service user, the way the timer would start it
# where systemd cannot run as the first process. Prints every step and what it left.
#   try-in-chroot.sh BUILD     (as root; MIRROR= overrides the machine's Debian mirror)
# The chroot is kept in build-try/root (beside the build folder, which tests list) for the
# next trial; `make clean` removes it.
set -euo pipefail

build=$(realpath "${1:-build}")
root=$(dirname "$build")/build-try/root
logs=$(dirname "$root")
deb=$(ls "$build"/lorvane_*.deb | tail -n 1)
# The mirror this machine's apt uses.
mirror=${MIRROR:-$({ cat /etc/apt/sources.list /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list \
                      2>/dev/null || true; } | grep -v -E '^[[:space:]]*#' | grep -o -E 'https?://[^ ]+' | grep -v -e security -e updates | head -n 1)}
[ -n "$mirror" ] || { echo "no Debian mirror found in apt's sources: give MIRROR=" >&2; exit 1; }

step() { printf '\n== %s\n' "$*"; }
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }

if [ ! -x "$root/usr/bin/apt-get" ]; then
  step "debootstrap --variant=minbase bookworm $root"
  rm -rf "$root"
  mkdir -p "$logs"
  debootstrap --variant=minbase bookworm "$root" "$mirror" >"$logs/try-debootstrap.log" 2>&1 ||
    { tail -n 20 "$logs/try-debootstrap.log"; exit 1; }
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"
mountpoint -q "$root/proc" || mount -t proc proc "$root/proc"
trap 'umount -l "$root/proc" 2>/dev/null || true' EXIT

step "apt-get install ./$(basename "$deb") (in the chroot)"
# A fresh trial each time: the package and what it made go first.
in_root dpkg --purge lorvane >/dev/null 2>&1 || true
rm -rf "$root/srv/feed"
cp "$deb" "$root/tmp/lorvane.deb"
in_root apt-get update -qq
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /tmp/lorvane.deb 2>&1 | grep -v -e '^debconf' -e '^$' | tail -n 4
in_root dpkg -s lorvane | grep -E '^(Status|Version|Depends)'

step "the service user and its folder"
in_root getent passwd lorvane
in_root ls -ld /var/lib/lorvane

step "systemd-analyze verify (in the chroot)"
in_root systemd-analyze verify --man=no /usr/lib/systemd/system/lorvane.service /usr/lib/systemd/system/lorvane.timer &&
  echo "verify: no complaint"

step "a feed in /srv/feed, its settings in /var/lib/lorvane"
in_root lorvane-feedgen --out /srv/feed --sh 20 --sz 20 --index
in_root chown -R lorvane:lorvane /srv/feed
in_root install -o lorvane -g lorvane -m 0640 /srv/feed/home/LORVANE.INI /var/lib/lorvane/LORVANE.INI

step "the service's command, as the user lorvane"
command=$(sed -n 's/^ExecStart=//p' "$root/usr/lib/systemd/system/lorvane.service")
echo "$command"
touch "$root/tmp/before-run"
sleep 1
status=0
chroot --userspec=lorvane:lorvane "$root" /usr/bin/env -i PATH=/usr/bin:/bin $command >"$logs/try-run.out" 2>&1 ||
  status=$?
echo "exit status $status; $(wc -l <"$logs/try-run.out") lines of output, the last:"
tail -n 3 "$logs/try-run.out"

step "what it left in /var/lib/lorvane"
in_root ls -l /var/lib/lorvane
step "the day's log (GBK, read with iconv), its first and last lines"
log=$(ls "$root"/var/lib/lorvane/UniteLog*.txt)
iconv -f GBK -t UTF-8 "$log" | sed -n '1,3p;$p'
step "the report"
if command -v jq >/dev/null; then
  jq -c '{status, outcome, seconds, markets: [.markets[] | {market, merged, failed: (.failed | length)}],
          composites: (.composites.built | length), mirror_copies, refused: (.refused | length)}' \
    "$root/var/lib/lorvane/report.json"
else
  cat "$root/var/lib/lorvane/report.json"
fi
step "written under /usr and /etc by the run (nothing is expected)"
in_root find /usr /etc -newer /tmp/before-run -print | sed 's/^/written: /'
echo "(end of list)"
step "merged texts in the targets"
in_root sh -c 'ls /srv/feed/sh/dst | head -n 4; echo "... $(ls /srv/feed/sh/dst /srv/feed/sz/dst | grep -c txt) texts"'
exit "$status"
