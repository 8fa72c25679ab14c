#!/bin/bash
# The packaging checks of `make test`, one per call:
#   check.sh stage BUILD STAGE      installs BUILD with the prefix STAGE/usr
#   check.sh deb BUILD OUT          makes the Debian package into OUT
#   check.sh lintian OUT            lintian finds no error in OUT/lorvane_*.deb
#   check.sh units STAGE            systemd-analyze verify accepts the service and the timer
#   check.sh desktop STAGE          desktop-file-validate accepts the launcher
#   check.sh manpages STAGE SRC     every option a program's --help names is in its man page
#   check.sh tmpfiles STAGE         the tmpfiles.d rule removes old day logs and nothing else
# A check whose tool is not installed is skipped (exit 77) and says which tool it missed.
set -euo pipefail

skip_without() {
  command -v "$1" >/dev/null 2>&1 && return 0
  echo "SKIPPED: $1 is not installed (make test installs it)"
  exit 77
}

what=$1
shift
case $what in
  stage)
    build=$1 stage=$2
    rm -rf "$stage"
    cmake --install "$build" --prefix "$stage/usr" >/dev/null
    ;;

  deb)
    build=$1 out=$2
    skip_without dpkg-shlibdeps
    rm -rf "$out"
    cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >/dev/null
    ls "$out"/lorvane_*.deb
    ;;

  lintian)
    skip_without lintian
    deb=$(ls "$1"/lorvane_*.deb)
    # Root is warned about; the checks are the same.
    lintian --fail-on error --display-level '>=warning' "$deb" 2>&1 | grep -v 'running with root privileges' || true
    lintian --fail-on error "$deb" >/dev/null 2>&1
    ;;

  units)
    skip_without systemd-analyze
    units=$1/usr/lib/systemd/system
    # Outside a booted system there is no manager to ask; verify reads the files alone.
    SYSTEMD_LOG_LEVEL=notice systemd-analyze verify --man=no "$units/lorvane.service" "$units/lorvane.timer" 2>&1 |
      tee "$1/verify.out"
    if grep -v -e 'Failed to connect' "$1/verify.out" | grep -q .; then
      echo "systemd-analyze verify had something to say"
      exit 1
    fi
    ;;

  desktop)
    skip_without desktop-file-validate
    desktop-file-validate "$1/usr/share/applications/lorvane.desktop"
    ;;

  manpages)
    stage=$1
    status=0
    for program in lorvane lorvane-index lorvane-feedgen; do
      page=$(gzip -dc "$stage/usr/share/man/man1/$program.1.gz")
      options=$("$stage/usr/bin/$program" --help | { grep -o -e '--[a-z][a-z-]*' || true; } | sort -u)
      for option in $options; do
        roff=${option//-/\\-}
        if ! grep -qF -- "$roff" <<<"$page"; then
          echo "$program: $option is in --help but not in $program.1"
          status=1
        fi
      done
      if command -v groff >/dev/null 2>&1; then
        warnings=$(groff -k -man -Tutf8 -ww -z <<<"$page" 2>&1 || true)
        [ -z "$warnings" ] || { echo "$program.1: $warnings"; status=1; }
      fi
    done
    exit $status
    ;;

  tmpfiles)
    skip_without systemd-tmpfiles
    stage=$1
    root=$stage/tmpfiles-root
    rm -rf "$root"
    folder=$root/var/lib/lorvane
    mkdir -p "$folder/sub" "$root/etc"
    # The rule names the service's user: this root knows it.
    echo 'lorvane:x:990:990::/var/lib/lorvane:/usr/sbin/nologin' >"$root/etc/passwd"
    echo 'lorvane:x:990:' >"$root/etc/group"
    cp "$stage/usr/lib/tmpfiles.d/lorvane.conf" "$root/lorvane.conf"
    old=( UniteLog2020-01-01.txt UniteLog2020-03-04.txt )
    kept=( LORVANE.INI lorvane.ini report.json UniteMirrorRetry.txt UniteLog2020-01-02.txt.bak
           UniteLog.tx .~lorvane.form.lock .~lorvane.A1b2C3.tmp sub/UniteLog2020-01-01.txt )
    for name in "${old[@]}" "${kept[@]}"; do touch -d '2020-06-01 00:00' "$folder/$name"; done
    touch "$folder/UniteLog$(date +%F).txt"
    kept+=( "UniteLog$(date +%F).txt" )
    systemd-tmpfiles --root="$root" --clean "$root/lorvane.conf"
    status=0
    for name in "${old[@]}"; do
      [ ! -e "$folder/$name" ] || { echo "an old day log stayed: $name"; status=1; }
    done
    for name in "${kept[@]}"; do
      [ -e "$folder/$name" ] || { echo "removed though no old day log: $name"; status=1; }
    done
    exit $status
    ;;

  *)
    echo "check.sh: unknown check $what" >&2
    exit 2
    ;;
esac
