#!/usr/bin/env bash
# Runs the Windows build's test executables under Wine, headless, in one Wine prefix inside the
# build folder (created once), with Wine's own messages silenced. Usage: run-windows-tests.sh
# BUILD_DIR. Exits non-zero when any test executable fails.
set -euo pipefail
build=$(realpath "$1")

export WINEPREFIX="$build/wine"
export WINEDEBUG=-all
export WINEARCH=win64
# No Mono or Gecko installers, no desktop: the tests are console programs.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

mkdir -p "$WINEPREFIX"
# One server for the prefix's set-up and every executable; stopped again at the end.
wineserver --persistent
trap 'wineserver --kill' EXIT
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  wineboot --init >"$build/wineboot.log" 2>&1
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
  if wine "$test" --gtest_brief=1 >"$log" 2>&1; then
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
