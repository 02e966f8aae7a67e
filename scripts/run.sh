#!/usr/bin/env bash
# Starts the program built by `make build`: the window when there is a display, otherwise the
# same scan printed by talvik-scan.
set -euo pipefail
cd "$(dirname "$0")/.."
window=build/default/app/talvik
scan=build/default/cli/talvik-scan
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$window"
fi
echo "The window needs a display, and none is set (DISPLAY, WAYLAND_DISPLAY)." >&2
echo "Scanning this machine's ports with talvik-scan instead:" >&2
exec "$scan"
