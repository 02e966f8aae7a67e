#!/usr/bin/env bash
# Runs the Windows programs of BUILD_DIR (make windows) under Wine and checks them against the
# Linux build: talvik-scan.exe prints the same JSON report of the demo bench as the Linux
# talvik-scan, and talvik-demo.exe brings its window up (in a virtual display), finishes its
# scan and saves the window as BUILD_DIR/talvik-demo-wine.png. Usage:
# check-windows-programs.sh BUILD_DIR LINUX_BUILD_DIR
set -euo pipefail
# Wine's desktop process, which every program of the prefix shares, needs a display for the real
# windows some programs make: the whole run gets a virtual one (Xvfb).
if [[ -z "${TALVIK_WINE_XVFB:-}" ]]; then
  exec env TALVIK_WINE_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
build=$(realpath "$1")
linux=$(realpath "$2")

export WINEPREFIX="$build/wine"
export WINEDEBUG=-all
export WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset WAYLAND_DISPLAY

fail() {
  echo "check-windows-programs: $*" >&2
  exit 1
}

mkdir -p "$WINEPREFIX"
wineserver --persistent >"$build/wineserver.log" 2>&1
trap 'wineserver --kill' EXIT
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  wineboot --init >"$build/wineboot.log" 2>&1
fi
# Debian's Wine does not find its own fonts, nor the system's: the window's fonts go into the
# prefix, so that it is drawn with the same faces as on Linux.
fonts="$WINEPREFIX/drive_c/windows/Fonts"
mkdir -p "$fonts"
cp -u /usr/share/wine/fonts/*.ttf /usr/share/fonts/truetype/liberation/LiberationSans-*.ttf \
  "$fonts/"

# The same report, byte for byte, but for the line ends of the Windows console.
expected=$("$linux/cli/talvik-scan" --bench demo --json)
actual=$(wine "$build/cli/talvik-scan.exe" --bench demo --json | tr -d '\r')
if [[ "$expected" != "$actual" ]]; then
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  fail "talvik-scan.exe --bench demo --json differs from the Linux build's report"
fi
echo "talvik-scan.exe --bench demo --json: the same report as on Linux"

shot="$build/talvik-demo-wine.png"
rm -f "$shot"
TALVIK_SCREENSHOT="$(winepath -w "$shot")" timeout 300 wine "$build/app/talvik-demo.exe" demo ||
  fail "talvik-demo.exe demo did not end well under Wine"
[[ -s "$shot" ]] || fail "talvik-demo.exe saved no picture of its window"
echo "talvik-demo.exe demo: the window came up, the scan ended; picture in $shot"
