#!/usr/bin/env bash
# Packs the Windows programs of BUILD_DIR (make windows) for Windows users:
# BUILD_DIR/Talvik-<version>-windows-x64.zip, one folder with the three programs, the demo bench,
# the README and the licence texts (Talvik's, and the LGPL that the Qt inside the programs comes
# under); and, with Debian's nsis, BUILD_DIR/Talvik-<version>-setup.exe, an installer with a
# Start-menu entry and an uninstaller. Usage: package-windows.sh BUILD_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "$1")

version=$(sed -n 's/^project(Talvik VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
name="Talvik-$version-windows-x64"
stage="$build/package/$name"
rm -rf "$build/package"
mkdir -p "$stage/benches"
for program in app/talvik.exe cli/talvik-scan.exe app/talvik-demo.exe; do
  [[ -f "$build/$program" ]] || { echo "package-windows: $build/$program is missing" >&2; exit 1; }
  cp "$build/$program" "$stage/"
done
cp "$root/benches/demo.json" "$stage/benches/"
cp "$root/README.md" "$stage/README.md"
cp "$root/packaging/copyright" "$stage/LICENSE.txt"
cp /usr/share/common-licenses/LGPL-3 "$stage/Qt-LGPL-3.txt"
cp /usr/share/common-licenses/GPL-3 "$stage/Qt-GPL-3.txt"
# Windows opens text files with CR LF line ends.
for text in "$stage"/*.txt "$stage/README.md"; do
  sed -i 's/\r*$/\r/' "$text"
done

zip="$build/$name.zip"
rm -f "$zip"
(cd "$build/package" && cmake -E tar cf "$zip" --format=zip "$name")
echo "The Windows package is $zip"

if command -v makensis >/dev/null; then
  setup="$build/Talvik-$version-setup.exe"
  makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$setup" \
    "$root/packaging/windows/talvik.nsi"
  echo "The Windows installer is $setup"
fi
