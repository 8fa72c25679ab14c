# Sourced: how a run of the Windows build is compared with a run of the Linux build on an
# identical copy of a feed (differential.sh, form.sh).

# Masks the stamps of a day log (GBK, "[stamp] message" lines): the runs are not at the
# same second.
mask() { LC_ALL=C sed 's/^\[[^]]*\] /[] /' "$1"; }
# The console's lines with their stamps masked. A Windows program ends its console lines
# with CR LF, as every Windows program does; the texts must be the same.
console() { LC_ALL=C sed 's/\r$//; s/^\[[^]]*\] /[] /' "$1"; }

# Makes the trees a run left comparable: the settings go (they differ by their [DRIVES]
# line, which is theirs, not the run's) and each day log is replaced by its masked text.
comparable() {
  local side log
  for side in "$@"; do
    rm "$side/home/LORVANE.INI"
    for log in "$side"/home/UniteLog*.txt; do
      [ -f "$log" ] && { mask "$log" >"$log.masked"; rm "$log"; }
    done
  done
  return 0
}

