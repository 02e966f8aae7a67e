#!/usr/bin/env bash
# Checks the package that `make package` built: lintian finds no error, it installs with
# apt-get, the installed talvik-scan runs the demo bench, and removing it leaves nothing behind.
# Installs the tools it needs (lintian, desktop-file-utils, jq). Needs root or sudo; one check
# at a time on a machine, since the package is installed system-wide.
set -euo pipefail
cd "$(dirname "$0")/.."

version=$(sed -n 's/^project(Talvik VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=./build/release/talvik_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { echo "check-package: $deb is missing; run make package first" >&2; exit 1; }

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
tools=(lintian desktop-file-utils jq)
missing=()
for p in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    --no-install-recommends "${missing[@]}"
fi

fail() {
  echo "check-package: $*" >&2
  exit 1
}

exec 9>/tmp/talvik-package-check.lock
flock 9

echo "lintian $deb"
lintian --fail-on error "$deb" || fail "lintian reports errors"

apt() { "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "$@"; }
installed() { dpkg-query -W -f='${Status}' talvik 2>/dev/null | grep -q 'ok installed'; }
# A failed check does not leave the package installed.
trap 'if installed; then apt purge -y -qq talvik >/dev/null; fi' EXIT
apt install -y -qq "$deb" >/dev/null
# What the package put in place, apart from folders that other packages share.
files=()
while IFS= read -r path; do
  if [ -L "$path" ] || [ ! -d "$path" ]; then files+=("$path"); fi
done < <(dpkg-query -L talvik)
files+=(/usr/share/talvik /usr/share/doc/talvik)

[ "$(/usr/bin/talvik-scan --version)" = "talvik-scan $version" ] ||
  fail "talvik-scan --version does not say $version"
json=$(/usr/bin/talvik-scan --bench demo --json)
jq -e '
  length == 10
  and map(.port) == ["COM1", "COM2", "COM5", "COM6", "COM7", "COM3", "COM8", "COM9", "COM4",
                     "COM10"]
  and all(.[]; has("friendlyName") and has("description") and has("deviceIndex")
               and has("state") and has("adapterType") and has("adapter") and has("error")
               and .node == null)
  and (.[0] | .busy and .state == "Занят" and .status == "busy" and .adapterKind == null
              and .heldBy.name == "minicom")
  and (.[1] | .busy and .state == "Нет доступа" and .status == "no-access")
  and (.[3] | .busy == false and .status == "free" and .adapterType == 2
              and .adapterKind == "cable-v2" and .adapter == "Кварион USB v2")
' <<<"$json" >/dev/null || fail "unexpected JSON from talvik-scan --bench demo: $json"
for page in talvik talvik-scan talvik-demo; do
  [ -e "/usr/share/man/man1/$page.1.gz" ] || fail "no manual page $page(1)"
done
desktop-file-validate /usr/share/applications/talvik.desktop ||
  fail "the desktop entry does not validate"
grep -qx 'Name=Тальвик' /usr/share/applications/talvik.desktop ||
  fail "the desktop entry is not named Тальвик"

apt purge -y -qq talvik >/dev/null
status=$(dpkg-query -W -f='${Status}' talvik 2>/dev/null || true)
[ -z "$status" ] || [ "$status" = "unknown ok not-installed" ] ||
  fail "talvik is not purged: $status"
left=()
for path in "${files[@]}"; do
  if [ -e "$path" ] || [ -L "$path" ]; then left+=("$path"); fi
done
[ ${#left[@]} -eq 0 ] || fail "left behind after removal: ${left[*]}"
echo "check-package: $deb installs, runs and is removed cleanly"
