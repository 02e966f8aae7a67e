#!/usr/bin/env bash
# Runs the Windows build's test executables under Wine, in a virtual display, in one Wine prefix inside the
# build folder (created once), with Wine's own messages silenced. Usage: run-windows-tests.sh
# BUILD_DIR. Exits non-zero when any test executable fails or runs longer than 15 minutes.
#
# COM7 of the prefix is a pseudo-terminal whose far end echoes (scripts/serial-echo.py); the
# tests find it in TALVIK_ECHO_PORT. COM8 is one whose far end the tests drive through
# scripts/serial-bridge.py, with a fresh pseudo-terminal for each case; they find the port in
# TALVIK_DRIVEN_PORT and the bridge's TCP port on 127.0.0.1 in TALVIK_DRIVEN_BRIDGE. The Windows
# world's tests run in Wine's Russian locale (ANSI code page 1251), and with Wine looking for
# msports.dll beside the program first, as Windows does, so that the copy planted there is found
# by any load that does not ask for the system's.
set -euo pipefail
# Wine's desktop process, which every program of the prefix shares, needs a display for the real
# windows some programs make: the whole run gets a virtual one (Xvfb).
if [[ -z "${TALVIK_WINE_XVFB:-}" ]]; then
  exec env TALVIK_WINE_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
build=$(realpath "$1")
scripts=$(dirname "$(realpath "$0")")

export WINEPREFIX="$build/wine"
export WINEDEBUG=-all
export WINEARCH=win64
# No Mono or Gecko installers, no menu entries.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset WAYLAND_DISPLAY

mkdir -p "$WINEPREFIX"
# One server for the prefix's set-up and every executable; stopped again at the end, with the
# two lines.
echo_pid=
bridge_pid=
trap 'for pid in $echo_pid $bridge_pid; do kill "$pid" || true; done; wineserver --kill' EXIT
wineserver --persistent >"$build/wineserver.log" 2>&1
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  wineboot --init >"$build/wineboot.log" 2>&1
fi

# Starts a far-end script on the prefix's COM link and waits for its first line, in its log.
start_far_end() {
  python3 "$scripts/$1" "$WINEPREFIX/dosdevices/$2" >"$build/${1%.py}.log" 2>&1 &
  far_end_pid=$!
  for _ in $(seq 100); do
    [[ -s "$build/${1%.py}.log" ]] && break
    sleep 0.1
  done
}

export TALVIK_ECHO_PORT=COM7
start_far_end serial-echo.py com7
echo_pid=$far_end_pid
[[ -L "$WINEPREFIX/dosdevices/com7" ]] || { cat "$build/serial-echo.log" >&2; exit 1; }

export TALVIK_DRIVEN_PORT=COM8
start_far_end serial-bridge.py com8
bridge_pid=$far_end_pid
TALVIK_DRIVEN_BRIDGE=$(head -n 1 "$build/serial-bridge.log")
[[ "$TALVIK_DRIVEN_BRIDGE" =~ ^[0-9]+$ ]] || { cat "$build/serial-bridge.log" >&2; exit 1; }
export TALVIK_DRIVEN_BRIDGE

# The Russian locale, made into the build folder: the machine need not have it.
russian="$build/locale/ru_RU.UTF-8"
if [[ ! -d "$russian" ]]; then
  mkdir -p "$build/locale"
  localedef -i ru_RU -f UTF-8 "$russian" >"$build/locale.log" 2>&1 || [[ -d "$russian" ]]
fi

mapfile -t tests < <(find "$build" -name '*_tests.exe' -not -path "$WINEPREFIX/*" | sort)
if [[ ${#tests[@]} -eq 0 ]]; then
  echo "no test executables in $build" >&2
  exit 1
fi

failed=()
total=0
for test in "${tests[@]}"; do
  name=$(basename "$test" .exe)
  log="$build/$name.log"
  environment=()
  if [[ "$name" == platform_windows_tests ]]; then
    environment=(LOCPATH="$build/locale" LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8
      WINEDLLOVERRIDES="$WINEDLLOVERRIDES;msports=n,b")
  fi
  if env "${environment[@]}" timeout 900 wine "$test" --gtest_brief=1 >"$log" 2>&1; then
    status=ok
  else
    status=FAILED
    failed+=("$name")
    cat "$log"
  fi
  ran=$(sed -n 's/^\[==========\] \([0-9]*\) tests\{0,1\} from .* ran\..*/\1/p' "$log" | tr -d '\r')
  total=$((total + ${ran:-0}))
  echo "$name: ${ran:-0} tests, $status"
done
echo "$total tests under Wine in ${#tests[@]} executables"
if [[ ${#failed[@]} -gt 0 ]]; then
  echo "failed: ${failed[*]}" >&2
  exit 1
fi
