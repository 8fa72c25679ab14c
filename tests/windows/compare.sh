# Sourced: how a run of the Windows build is compared with a run of the Linux build on an
# identical copy of a feed (differential.sh, form.sh).

# Masks the stamps of a day log (GBK, "[stamp] message" lines): the runs are not at the
# same second.
mask() { LC_ALL=C sed 's/^\[[^]]*\] /[] /' "$1"; }
# The console's lines with their stamps masked. A Windows program ends its console lines
# with CR LF, as every Windows program does; the texts must be the same.
console() { LC_ALL=C sed 's/\r$//; s/^\[[^]]*\] /[] /' "$1"; }
# Standard error as console() gives it, but for what names this machine: a failure's host
# path, a warning's settings file and the seconds the run took.
errors() {
  console "$1" | LC_ALL=C sed -E \
    -e 's/\((open|read|size|create|write|replace|append|move|delete|mkdir|copy|log) [^ )]*(: [^)]*)?\)/(\1 PATH\2)/' \
    -e 's/^lorvane: warning: [^ ]* line /lorvane: warning: FILE line /' \
    -e 's/; [0-9.]+ s$/; S s/'
}

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

