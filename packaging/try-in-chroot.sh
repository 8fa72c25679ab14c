#!/bin/bash
# make deb-try: the packages installed into a fresh Debian 12 (bookworm) chroot, the server
# package alone first, with what each pulled in, and the service's run made by hand in it,
# as the service user, the way the timer would start it where systemd cannot run as the
# first process. Prints every step and what it left.
#   try-in-chroot.sh BUILD     (as root; MIRROR= overrides the machine's Debian mirror)
# The chroot is kept in build-try/root (beside the build folder, which tests list) for the
# next trial; `make clean` removes it.
set -euo pipefail

build=$(realpath "${1:-build}")
root=$(dirname "$build")/build-try/root
logs=$(dirname "$root")
server_deb=$(ls "$build"/lorvane_*.deb | tail -n 1)
desktop_deb=$(ls "$build"/lorvane-desktop_*.deb | tail -n 1)
tools_deb=$(ls "$build"/lorvane-tools_*.deb | tail -n 1)
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

# The installed packages, "name size-in-KiB" a line, sorted.
installed() {
  in_root dpkg-query -W -f='${db:Status-Abbrev} ${Package}:${Architecture} ${Installed-Size}\n' |
    awk '$1 == "ii" { print $2, $3 }' | sort
}
# Installs a package file with apt, as an administrator would (recommended packages too),
# and tells what it brought: how many packages, their installed size, apt's own figure,
# and whether any desktop library came with them (a failure for the server package).
install_deb() {
  local deb=$1 desktop_allowed=$2 name before after new
  name=$(basename "$deb")
  step "apt-get install ./$name (in the chroot)"
  cp "$deb" "$root/tmp/$name"
  before=$(installed)
  in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "/tmp/$name" >"$logs/try-install-$name.log" 2>&1 ||
    { tail -n 20 "$logs/try-install-$name.log"; exit 1; }
  after=$(installed)
  new=$(comm -13 <(echo "$before") <(echo "$after"))
  grep -E -e 'newly installed' -e '^After this operation' "$logs/try-install-$name.log" | sed 's/^/apt: /'
  awk '{ n++; kib += $2 } END { printf "pulled: %d packages (this one included), %.1f MiB installed (dpkg Installed-Size)\n", n, kib / 1024 }' \
    <<<"$new"
  echo "$new" | awk '{ print $1 }' | sed 's/:.*//' | sort >"$logs/try-pulled-$name.txt"
  echo "(the list: $logs/try-pulled-$name.txt)"
  # libglib is no desktop library, whatever its name begins with.
  desktop=$(grep -E '^(libqt6|libgl|libgtk|libllvm)' "$logs/try-pulled-$name.txt" | grep -v '^libglib' || true)
  if [ -z "$desktop" ]; then
    echo "check: no libqt6*, libgl*, libgtk*, libllvm* package got installed"
  elif [ "$desktop_allowed" = yes ]; then
    echo "desktop libraries it needs: $(echo $desktop | wc -w) of them ($(echo $desktop | tr '\n' ' ' | cut -c1-120)...)"
  else
    echo "FAILED: it pulled desktop libraries: $(echo $desktop)"
    exit 1
  fi
}

# A fresh trial each time: the packages, what they made and what they pulled in go first
# (nothing the bootstrap installed is marked as pulled in, so autoremove leaves it).
in_root dpkg --purge lorvane-tools lorvane-desktop lorvane >/dev/null 2>&1 || true
in_root env DEBIAN_FRONTEND=noninteractive apt-get autoremove --purge -y -qq >/dev/null
rm -rf "$root/srv/feed"
in_root apt-get update -qq
step "the chroot before: $(installed | wc -l) packages"

install_deb "$server_deb" no
in_root dpkg -s lorvane | grep -E '^(Status|Version|Depends|Recommends)'
step "lorvane without --once, the form not installed"
status=0
said=$(in_root lorvane --home /tmp 2>&1) || status=$?
echo "$said"
echo "exit status $status"

install_deb "$desktop_deb" yes
install_deb "$tools_deb" no

step "the service user and its folder"
in_root getent passwd lorvane
in_root ls -ld /var/lib/lorvane

step "systemd-analyze verify (in the chroot)"
in_root systemd-analyze verify --man=no /usr/lib/systemd/system/lorvane.service /usr/lib/systemd/system/lorvane.timer &&
  echo "verify: no complaint"

step "a feed in /srv/feed, its settings in /var/lib/lorvane"
in_root /usr/libexec/lorvane/lorvane-feedgen --out /srv/feed --sh 20 --sz 20 --index
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
