#!/bin/bash
# make ci-try: the front door as CI sees it. `bash .ci/run` in a clean clone of this
# repository's current commit, on a fresh minimal Debian 12 (bookworm) that has nothing but
# debootstrap's minbase, git and make: whatever else the build and the tests need, the
# Makefile has to install. Prints the time taken and the result; the whole output goes to
# build-ci/ci.log too.
#   ci-in-chroot.sh [COMMAND]   (as root; COMMAND runs in the clone instead of `bash .ci/run`,
#                                e.g. 'make test SANITIZE=address WERROR=1')
# COMMIT= clones another commit than HEAD; MIRROR= overrides the machine's Debian mirror.
# The bare machine is made once and kept in build-ci/base; every run starts on a fresh copy of
# it, build-ci/root, which stays until the next run for a look. `make clean` removes both.
set -euo pipefail

repo=$(git -C "$(dirname "${BASH_SOURCE[0]}")" rev-parse --show-toplevel)
ci=$repo/build-ci
base=$ci/base
root=$ci/root
log=$ci/ci.log
commit=$(git -C "$repo" rev-parse --verify "${COMMIT:-HEAD}^{commit}")
run=${1:-bash .ci/run}
# The mirror this machine's apt uses.
apt_mirror() {
  cat /etc/apt/sources.list /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list 2>/dev/null |
    grep -v -E '^[[:space:]]*#' | grep -o -E 'https?://[^ ]+' | grep -v -e security -e updates | head -n 1
}
mirror=${MIRROR:-$(apt_mirror || true)}
[ -n "$mirror" ] || { echo "no Debian mirror found in apt's sources: give MIRROR=" >&2; exit 1; }

step() { printf '\n== %s\n' "$*"; }
# CI's environment: root, no terminal, no standard input, CI=true; JOBS goes through, so that
# a shared machine can keep the build to fewer processors.
in_root() {
  local dir=$1; shift
  chroot "$dir" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root LANG=C.UTF-8 CI=true ${JOBS:+JOBS="$JOBS"} "$@" </dev/null
}
# Each mount is undone before anything under the chroot is removed: a bound /dev must never
# be emptied by the rm -rf that follows.
unmount() {
  local m
  for m in dev/shm dev/pts dev sys proc; do
    if mountpoint -q "$root/$m"; then umount -l "$root/$m"; fi
  done
}

if [ ! -x "$base/usr/bin/git" ]; then
  step "a bare Debian 12 in $base: debootstrap --variant=minbase bookworm, then git and make"
  mkdir -p "$ci"
  if [ ! -x "$base/usr/bin/apt-get" ]; then
    rm -rf --one-file-system "$base"
    debootstrap --variant=minbase bookworm "$base" "$mirror" >"$ci/debootstrap.log" 2>&1 ||
      { tail -n 20 "$ci/debootstrap.log"; exit 1; }
  fi
  cp /etc/resolv.conf "$base/etc/resolv.conf"
  in_root "$base" sh -c 'apt-get update -qq &&
      DEBIAN_FRONTEND=noninteractive apt-get install -y -qq git make && apt-get clean' \
    >>"$ci/debootstrap.log" 2>&1 || { tail -n 20 "$ci/debootstrap.log"; exit 1; }
fi

step "a fresh copy of it in $root"
unmount
rm -rf --one-file-system "$root"
cp -a "$base" "$root"
cp /etc/resolv.conf "$root/etc/resolv.conf"
trap unmount EXIT
mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount --bind /dev "$root/dev"
# Nothing mounted under the chroot's /dev may show through in the machine's own.
mount --make-rslave "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
mount -t tmpfs -o mode=1777,nosuid,nodev shm "$root/dev/shm"

step "git clone of $(git -C "$repo" log -1 --format='%h %s' "$commit")"
[ -z "$(git -C "$repo" status --porcelain --untracked-files=no)" ] ||
  echo "(changes not committed in $repo are left out)"
# The commit alone goes into a bare repository in the chroot, which the chroot's git clones.
git init -q --bare "$root/tmp/lorvane.git"
git -C "$repo" push -q "$root/tmp/lorvane.git" "$commit:refs/heads/ci"
in_root "$root" git clone -q --branch ci /tmp/lorvane.git /ci/lorvane

step "$run (in the chroot, in /ci/lorvane)"
start=$(date +%s)
status=0
in_root "$root" sh -c "cd /ci/lorvane && $run" 2>&1 | tee "$log" || status=${PIPESTATUS[0]}
took() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }
result=passed
[ "$status" = 0 ] || result="FAILED (exit status $status)"
printf '\n== %s: %s in %s (%s with the chroot and the clone; its output: %s)\n' \
  "$run" "$result" "$(took $(($(date +%s) - start)))" "$(took "$SECONDS")" "$log"
exit "$status"
