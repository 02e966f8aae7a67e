#!/usr/bin/env bash
# Starts the program built by `make build`.
set -euo pipefail
cd "$(dirname "$0")/.."
exe=build/default/app/talvik
if [ ! -x "$exe" ]; then
  echo "There is nothing to run yet: the program has not been built into $exe."
  exit 1
fi
exec "$exe"
