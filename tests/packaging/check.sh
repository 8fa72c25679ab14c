#!/bin/bash
# The packaging checks of `make test`, one per call:
#   check.sh stage BUILD STAGE      installs BUILD with the prefix STAGE/usr
#   check.sh deb BUILD OUT          makes the Debian packages into OUT
#   check.sh lintian OUT            lintian finds no error in any of OUT/*.deb
#   check.sh split OUT              the server package needs no graphical library, and each
#                                   package holds its own programs
#   check.sh units STAGE            systemd-analyze verify accepts the service and the timer
#   check.sh desktop STAGE          desktop-file-validate accepts the launcher, whose program
#                                   is installed
#   check.sh manpages STAGE         every installed program has a man page naming every
#                                   option its --help names; groff -ww has nothing to say
#                                   about any page
#   check.sh completions STAGE      every installed program's bash completion offers every
#                                   option its --help names
#   check.sh example STAGE          the example settings, its drives moved onto a made-up feed,
#                                   make a clean run with both markets, mirrors and composites
#   check.sh tmpfiles STAGE         the tmpfiles.d rule removes old day logs and nothing else
# A check whose tool is not installed is skipped (exit 77) and says which tool it missed.
set -euo pipefail

skip_without() {
  command -v "$1" >/dev/null 2>&1 && return 0
  echo "SKIPPED: $1 is not installed (make test installs it)"
  exit 77
}

# The programs STAGE installs, on the command path and off it.
installed_programs() {
  local file
  for file in "$1"/usr/bin/* "$1"/usr/libexec/lorvane/*; do
    [ -x "$file" ] && [ -f "$file" ] && printf '%s\n' "$file"
  done
  return 0
}

# The options a program's --help offers, one a line: those of its usage lines and of the
# lines that begin with an option, not those its prose names (another program's).
help_options() {
  local program
  program=$(basename "$1")
  "$1" --help |
    { grep -i -E -e "^[[:space:]]*(usage:[[:space:]]*)?$program( |\$)" -e '^[[:space:]]*--' || true; } |
    { grep -o -e '--[a-z][a-z-]*' || true; } | sort -u
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
    ls "$out"/*.deb
    ;;

  lintian)
    skip_without lintian
    # All at once: some checks look across the packages of one source (a man page's program).
    debs=( "$1"/*.deb )
    # Root is warned about; the checks are the same.
    lintian --fail-on error --display-level '>=warning' "${debs[@]}" 2>&1 | grep -v 'running with root privileges' || true
    lintian --fail-on error "${debs[@]}" >/dev/null 2>&1
    ;;

  split)
    skip_without dpkg-deb
    out=$1
    status=0
    server=$(ls "$out"/lorvane_*.deb)
    # What a server installs for the headless program: nothing of a desktop.
    depends=$(dpkg-deb -f "$server" Depends)
    echo "lorvane: Depends: $depends"
    for name in $(tr ',|' '  ' <<<"$depends" | sed -E 's/\([^)]*\)//g'); do
      case $name in
        libqt6* | libgl1* | libglx* | libegl* | libgles* | libopengl* | libgtk* | libllvm* | \
        *mesa* | libx11* | libwayland*)
          echo "lorvane depends on $name, a graphical library"
          status=1 ;;
      esac
    done
    # Each package's programs, and nothing of the others'.
    files() { dpkg-deb -c "$1" | awk '{print $NF}' | sed 's|^\./|/|'; }
    expect() {  # PACKAGE-FILE WANTED-IN-IT... -- UNWANTED-IN-IT...
      local deb=$1 list want=1 path
      shift
      list=$(files "$deb")
      for path in "$@"; do
        if [ "$path" = -- ]; then want=0; continue; fi
        if grep -qx -- "$path" <<<"$list"; then
          [ $want = 1 ] || { echo "$(basename "$deb") holds $path"; status=1; }
        else
          [ $want = 0 ] || { echo "$(basename "$deb") lacks $path"; status=1; }
        fi
      done
    }
    expect "$server" /usr/bin/lorvane /usr/bin/lorvane-index /usr/lib/systemd/system/lorvane.service \
      /usr/share/man/man5/lorvane.ini.5.gz /usr/share/doc/lorvane/examples/LORVANE.INI \
      -- /usr/bin/lorvane-form /usr/bin/lorvane-feedgen /usr/share/applications/lorvane.desktop
    desktop=$(ls "$out"/lorvane-desktop_*.deb)
    expect "$desktop" /usr/bin/lorvane-form /usr/share/applications/lorvane.desktop \
      -- /usr/bin/lorvane /usr/bin/lorvane-feedgen
    tools=$(ls "$out"/lorvane-tools_*.deb)
    expect "$tools" /usr/libexec/lorvane/lorvane-feedgen -- /usr/bin/lorvane-feedgen
    # The form is lorvane's own: it must come from the same build.
    version=$(dpkg-deb -f "$server" Version)
    dpkg-deb -f "$desktop" Depends | grep -qF "lorvane (= $version)" ||
      { echo "lorvane-desktop does not depend on lorvane (= $version)"; status=1; }
    exit $status
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
    launcher=$1/usr/share/applications/lorvane.desktop
    desktop-file-validate "$launcher"
    program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$launcher")
    [ -x "$program" ] || { echo "the launcher starts $program, which is not installed"; exit 1; }
    ;;

  manpages)
    stage=$1
    status=0
    for file in $(installed_programs "$stage"); do
      program=$(basename "$file")
      if [ ! -f "$stage/usr/share/man/man1/$program.1.gz" ]; then
        echo "$program has no man page"
        status=1
        continue
      fi
      page=$(gzip -dc "$stage/usr/share/man/man1/$program.1.gz")
      for option in $(help_options "$file"); do
        roff=${option//-/\\-}
        if ! grep -qF -- "$roff" <<<"$page"; then
          echo "$program: $option is in --help but not in $program.1"
          status=1
        fi
      done
    done
    if command -v groff >/dev/null 2>&1; then
      for file in "$stage"/usr/share/man/man*/*.gz; do
        warnings=$(gzip -dc "$file" | groff -k -man -Tutf8 -ww -z 2>&1 || true)
        [ -z "$warnings" ] || { echo "$(basename "$file" .gz): $warnings"; status=1; }
      done
    fi
    exit $status
    ;;

  completions)
    loader=/usr/share/bash-completion/bash_completion
    [ -f "$loader" ] || { echo "SKIPPED: bash-completion is not installed (make test installs it)"; exit 77; }
    stage=$1
    status=0
    for file in $(installed_programs "$stage"); do
      program=$(basename "$file")
      completion=$stage/usr/share/bash-completion/completions/$program
      if [ ! -f "$completion" ]; then
        echo "$program has no bash completion"
        status=1
        continue
      fi
      # What the completion offers after "--", as bash would ask for it.
      offered=$(bash -c '
        . "$1"; . "$2"
        COMP_WORDS=("$3" --); COMP_CWORD=1; COMP_LINE="$3 --"; COMP_POINT=${#COMP_LINE}
        function=$(complete -p "$3" | sed -E "s/.* -F ([^ ]+) .*/\1/")
        "$function" "$3" -- "$3"
        printf "%s\n" "${COMPREPLY[@]}"' _ "$loader" "$completion" "$program")
      for option in $(help_options "$file"); do
        grep -qx -- "$option" <<<"$offered" ||
          { echo "$program: $option is in --help but its completion does not offer it"; status=1; }
      done
    done
    exit $status
    ;;

  example)
    stage=$1
    root=$stage/example
    rm -rf "$root"
    mkdir -p "$root/home" "$root/mirror/sh" "$root/mirror/sz" "$root/mirror/both"
    "$stage/usr/libexec/lorvane/lorvane-feedgen" --out "$root/feed" --sh 2 --sz 2 >/dev/null
    # Only the host folders change: every other line is read as shipped.
    sed -e "s|^D=/srv/feed\$|D=$root/feed|" -e "s|^E=/srv/mirror\$|E=$root/mirror|" \
        -e 's|^SHSZ=\\srv\\share\\f10$|SHSZ=E:\\both|' \
        -e 's|^REPORT=/var/lib/lorvane/report.json$|REPORT=report.json|' \
        "$stage/usr/share/doc/lorvane/examples/LORVANE.INI" >"$root/home/LORVANE.INI"
    status=0
    "$stage/usr/bin/lorvane" --once --home "$root/home" >"$root/run.out" 2>&1 || status=$?
    [ $status = 0 ] || { echo "the run on the example settings exited $status:"; tail -n 5 "$root/run.out"; exit 1; }
    # Both markets with indexes, every mirror, both composites.
    for file in sh/600000.F10 sz/000001.F10 both/600000.txt both/000001.txt \
                sh/999999.txt sz/399001.txt; do
      [ -f "$root/mirror/$file" ] || { echo "the run on the example settings left no mirror/$file"; status=1; }
    done
    [ -f "$root/home/report.json" ] || { echo "the run on the example settings wrote no report"; status=1; }
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
