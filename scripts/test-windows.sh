#!/usr/bin/env bash
# Cross-builds kestrane-cli.exe and the Windows tests with MinGW-w64 and runs
# them under wine64 against Wine's own WMI, in a throwaway Wine prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh --windows
bash scripts/build-windows.sh --tests

# Wine needs no display for any of this; its own messages stay quiet.
unset DISPLAY WAYLAND_DISPLAY
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
WINEPREFIX="$(mktemp -d)"
export WINEPREFIX
xvfb_pid=""
work=""
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$WINEPREFIX" ${work:+"$work"}
}
trap cleanup EXIT
wine wineboot --init >/dev/null 2>&1 || true
wineserver -w

cd build-windows
# Drive Z: (the Linux root) gives no volume label or serial to a user;
# Wine says so on every disk query.
quiet() { grep -v 'FS volume label and serial are not available' >&2 || true; }
summary="$(wine kestrane-cli.exe summary 2> >(quiet))" ||
  { echo "FAIL: kestrane-cli.exe summary under Wine ended with status $?" >&2; exit 1; }
printf '%s\n' "$summary" | head -n 12
wine kestrane_windows_tests.exe 2> >(quiet)

# The window, kestrane.exe, on a display of its own (Xvfb on the first free
# number from :73 to :79, stopped by its process id): a test program of ours
# reads it from outside and drives it, at 96 DPI and again at 192.
wineserver -k >/dev/null 2>&1 || true
. ../scripts/wine-display.sh
start_display 73 79
work="$(mktemp -d)"
cp ../tests/fixtures/snapshots/sample.json "$work/"
win() { winepath -w "$1"; }
wine kestrane_window_test.exe "$(win kestrane.exe)" "$(win kestrane-cli.exe)" "$(win "$work")" 96 2> >(quiet)
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 192 /f >/dev/null 2>&1
wineserver -k >/dev/null 2>&1 || true
wine kestrane_window_test.exe "$(win kestrane.exe)" "$(win kestrane-cli.exe)" "$(win "$work")" 192 --quick 2> >(quiet)

# The installer: install for every user, start the installed window, remove
# it, and nothing of it is left.
(cd .. && bash scripts/package-windows.sh >/dev/null)
msi="$(ls kestrane-*-x64.msi | head -n 1)"
installed="$WINEPREFIX/drive_c/Program Files/Kestrane"
wine msiexec /i "$msi" /qn
[ -f "$installed/kestrane.exe" ] && [ -f "$installed/kestrane-cli.exe" ] ||
  { echo "FAIL: the installer did not put both programs under Program Files" >&2; exit 1; }
[ -n "$(find "$WINEPREFIX/drive_c" -iname 'Kestrane.lnk')" ] ||
  { echo "FAIL: the installer made no Start-menu shortcut" >&2; exit 1; }
wine kestrane_window_test.exe 'C:\Program Files\Kestrane\kestrane.exe' \
  'C:\Program Files\Kestrane\kestrane-cli.exe' "$(win "$work")" 192 --only=installed 2> >(quiet)
wine msiexec /x "$msi" /qn
left=""
[ -e "$installed" ] && left="$left Program Files\\Kestrane"
[ -n "$(find "$WINEPREFIX/drive_c" -iname 'Kestrane.lnk')" ] && left="$left the shortcut"
wine reg query 'HKLM\Software\Classes\Kestrane.Snapshot' >/dev/null 2>&1 && left="$left the file type"
[ -z "$left" ] || { echo "FAIL: uninstalling left$left" >&2; exit 1; }
echo "installer: installed, started and removed; nothing left"
