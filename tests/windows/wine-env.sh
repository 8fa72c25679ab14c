# Sourced: Wine for the Windows build's programs, in a private prefix inside the build
# folder ($WINBUILD), made on first use. Sets WINE (the loader) and exports its settings.
WINE=$(command -v wine64 || true)
[ -n "$WINE" ] || WINE=/usr/lib/wine/wine64
[ -x "$WINE" ] || { echo "wine64 is not installed (make windows-deps installs it)" >&2; exit 1; }
WINESERVER=$(command -v wineserver || echo "$(dirname "$WINE")/wineserver")
export WINEPREFIX="$WINBUILD/wineprefix"
export WINEDEBUG=-all
# No .NET and no HTML engine: nothing here needs them, and Wine would offer to fetch them.
# No menu entries on the host for what an installer puts into the Start menu.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# The same regional settings for every run, whatever the machine has.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Making the Wine prefix $WINEPREFIX"
  "$WINE" wineboot --init >/dev/null 2>&1
  "$WINESERVER" -w  # the prefix is written out when the server ends
fi
