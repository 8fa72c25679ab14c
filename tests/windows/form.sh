#!/usr/bin/env bash
# The Windows form under Wine, on an X display of its own (Xvfb, Wine's desktop): started
# on a generated feed, its size and layout checked, execute-now pressed, the files its run
# left compared byte for byte with a headless Linux run on an identical copy, its log box
# checked against the 200-line rule, minimized, and closed: the program must end with
# status 0. The form is driven through its window's own messages by formprobe.exe.
# Usage: form.sh WINBUILD BUILD [SHOT.png]  (SHOT: a picture of the form after its run)
set -euo pipefail
WINBUILD=$(realpath "$1")
BUILD=$(realpath "$2")
shot=${3:+$(realpath -m "$3")}
here=$(dirname "$(realpath "$0")")
. "$here/wine-env.sh"
. "$here/compare.sh"
started=$(date +%s%N)

work="$WINBUILD/form-test"
rm -rf "$work"
mkdir -p "$work"
drive="$WINEPREFIX/dosdevices/d:"
xvfb=
form=
finish() {
  [ -z "$form" ] || kill "$form" 2>/dev/null || true
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w 2>/dev/null || true
  [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
  rm -f "$drive"
}
trap finish EXIT

# A display of our own; Xvfb names it once it takes connections.
command -v Xvfb >/dev/null || { echo "Xvfb is not installed (make test-windows installs xvfb)"; exit 1; }
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
read -r -t 60 number <"$work/display" || { echo "Xvfb did not start:"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$number"
# The server keeps this session's display: the earlier scripts' server had none. A program
# started while the old server is still going away loses its connection: wait for it.
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -w 2>/dev/null || true
# Wine's own desktop on that display, with its taskbar and notification area: the form gets
# a frame drawn as Windows draws it and a notification area to hide in, as on Windows.
"$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
"$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1

# Debian's Wine does not load its own fonts (fonts-wine), and Wine draws the frame's buttons
# with Marlett: without it they show as letters.
fonts="$WINEPREFIX/drive_c/windows/Fonts"
[ ! -f /usr/share/wine/fonts/marlett.ttf ] || [ -f "$fonts/marlett.ttf" ] || cp /usr/share/wine/fonts/marlett.ttf "$fonts/"

# A feed whose run logs more than the box's 200 lines (three a stock), light on files (Wine
# is slow with them); the interval 0, so that the only run is the one the button starts.
"$BUILD/lorvane-feedgen" --out "$work/feed" --seed 11 --sh 60 --sz 50 --sections 2 --section-bytes 300 \
  --index --no-mirrors >/dev/null
LC_ALL=C sed -i 's/^INTERNAL=.*\r$/INTERNAL=0\r/' "$work/feed/home/LORVANE.INI"
cp -a "$work/feed" "$work/linux"
cp -a "$work/feed" "$work/windows"
for side in linux windows; do
  LC_ALL=C sed -i "s|^D=.*\r\$|D=$work/$side\r|" "$work/$side/home/LORVANE.INI"
done
"$BUILD/lorvane" --home "$work/linux/home" --once >"$work/linux.out" 2>"$work/linux.err" || true

probe() { "$WINE" "$WINBUILD/formprobe.exe" "$@" | tr -d '\r'; }
fail() {
  echo "  form: $*"
  exit 1
}

ln -sfn "$work/windows" "$drive"
"$WINE" "$WINBUILD/lorvane.exe" --home 'D:\home' >"$work/form.out" 2>"$work/form.err" &
form=$!
probe wait-window 60 >/dev/null || fail "no window (standard error: $(cat "$work/form.err"))"

# The first size and the controls' places, in client pixels at 96 DPI.
probe layout >"$work/layout.txt"
cat >"$work/layout.expected" <<'EOF'
client 512 272
100 1 1 279 270
101 375 17 124 21
102 375 49 124 21
103 375 80 124 21
104 375 110 124 21
105 376 139 101 21
110 313 176 86 17
111 401 176 108 17
120 313 216 75 25
121 417 216 75 25
130 285 246 133 24
EOF
if ! diff "$work/layout.expected" "$work/layout.txt" >"$work/layout.diff"; then
  cat "$work/layout.diff"
  fail "the form's size or layout is not the one expected (above: expected <, found >)"
fi

probe run 120 >/dev/null || fail "the run did not end"
# Every line the form log got is a line of the headless run's standard output; past 200
# the box was emptied before the next line.
total=$(wc -l <"$work/linux.out")
[ "$total" -gt 201 ] || fail "the feed gave $total log lines, too few to fill the box"
expected=$(((total - 1) % 201 + 1))
probe log "$expected" 30 >"$work/log.txt" || fail "the log box: $(head -1 "$work/log.txt")"
last=$(sed -n 2p "$work/log.txt" | sed 's/^\[[^]]*\] /[] /')
[ "$last" = "$(tail -1 "$work/linux.out" | sed 's/^\[[^]]*\] /[] /')" ] ||
  fail "the log box ends with '$last', the run's log with '$(tail -1 "$work/linux.out")'"

if [ -n "$shot" ]; then
  # The whole screen, which is Wine's desktop, cut to the form's frame.
  xwd -root -silent -display "$DISPLAY" >"$work/screen.xwd"
  convert "$work/screen.xwd" -crop "$(probe frame)" +repage "$shot"
  echo "  form: picture in $shot"
fi

# The directory fields take no typed text, but keep their edit commands.
keys=$(probe keys 30) || fail "the Shanghai source field: $keys"
minimized=$(probe minimize 30) || fail "minimizing: $minimized"
probe close 120 >/dev/null || fail "the form did not close"
status=0
wait "$form" || status=$?
form=
[ "$status" -eq 0 ] || fail "the program ended with status $status (standard error: $(cat "$work/form.err"))"

comparable "$work/linux" "$work/windows"
if ! diff -r "$work/linux" "$work/windows" >"$work/tree.diff"; then
  head -20 "$work/tree.diff"
  fail "the form's run left other files than the headless Linux run"
fi
files=$(find "$work/linux" -type f | wc -l)
seconds=$((($(date +%s%N) - started) / 1000000000))
echo "  form: identical to the headless run ($files files), log box $expected of $total lines," \
  "minimize: $(echo "$minimized" | tr '\n' ' ')closed with status 0, $seconds s"
[ -n "${KEEP:-}" ] || rm -rf "$work"
