#!/usr/bin/env bash
# Builds a static Qt 6 (Core, Gui, Widgets, Test, the qwindows platform plugin and the
# windowsvista style) for x86_64 Windows from Debian's own qt6-base source, with Debian's
# mingw-w64 (posix threads) and the Linux Qt host tools. The result goes to a cache folder outside
# the source tree, named by version and options; when that folder is complete, nothing is done.
# Prints the folder's path on standard output, and everything else on standard error.
# Usage: build-qt-windows.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

qt_version=6.4.2
options=(
  -DBUILD_SHARED_LIBS=OFF
  -DCMAKE_BUILD_TYPE=Release
  -DQT_BUILD_EXAMPLES=OFF
  -DQT_BUILD_TESTS=OFF
  -DINPUT_opengl=no
  -DFEATURE_tabletevent=OFF
  -DFEATURE_direct2d=OFF
  -DFEATURE_freetype=OFF
  -DFEATURE_harfbuzz=ON
  -DFEATURE_system_harfbuzz=OFF
  -DFEATURE_system_zlib=OFF
  -DFEATURE_system_pcre2=OFF
  -DFEATURE_system_png=OFF
  -DFEATURE_system_jpeg=OFF
  -DFEATURE_jpeg=OFF
  -DFEATURE_sql=OFF
  -DFEATURE_network=OFF
  -DFEATURE_dbus=OFF
  -DFEATURE_concurrent=OFF
  -DFEATURE_xml=OFF
  -DFEATURE_printsupport=OFF
  -DFEATURE_vulkan=OFF
  -DFEATURE_sql=OFF
  -DFEATURE_testlib=ON
  -DFEATURE_widgets=ON
)
options_id=$(printf '%s\n' "${options[@]}" | sha256sum | cut -c1-10)
cache_root=${TALVIK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/talvik}
prefix="$cache_root/qt-$qt_version-mingw64-static-$options_id"

if [[ -f "$prefix/.complete" ]]; then
  echo "$prefix"
  exit 0
fi

exec 3>&1 1>&2
"$here/install-deps.sh" g++-mingw-w64-x86-64-posix dpkg-dev qt6-base-dev-tools

# The source comes from the same archive as the binary packages.
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src ' /etc/apt/sources.list; then
  sudo_cmd=()
  [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/talvik-deb-src.sources >/dev/null
  else
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list |
      "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/talvik-deb-src.list >/dev/null
  fi
  "${sudo_cmd[@]}" apt-get update -qq
fi

host_cmake=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/cmake

work="$cache_root/qt-$qt_version-work"
rm -rf "$work" "$prefix"
mkdir -p "$work"
cd "$work"
echo "Building Qt $qt_version for Windows into $prefix (15 to 30 minutes on two cores)"
apt-get source -qq --download-only qt6-base
ls qt6-base_"$qt_version"+*.dsc >/dev/null
dpkg-source -x --skip-patches qt6-base_*.dsc src >/dev/null
# Without Direct2D the DirectWrite 3 font engine must not be asked for either: its code uses the
# Direct2D device context, and the link fails.
sed -i 's/#if QT_CONFIG(directwrite3)$/#if QT_CONFIG(directwrite3) \&\& QT_CONFIG(direct2d)/' \
  src/src/plugins/platforms/windows/qwindowsintegration.cpp
grep -q 'QT_CONFIG(directwrite3) && QT_CONFIG(direct2d)' \
  src/src/plugins/platforms/windows/qwindowsintegration.cpp

cmake -G Ninja -S src -B build \
  -DCMAKE_TOOLCHAIN_FILE="$here/../cmake/mingw-w64-x86_64.cmake" \
  -DQT_HOST_PATH=/usr \
  -DQT_HOST_PATH_CMAKE_DIR="$host_cmake" \
  -DQt6HostInfo_DIR="$host_cmake/Qt6HostInfo" \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  "${options[@]}" >configure.log 2>&1 || { tail -50 configure.log; exit 1; }
cmake --build build --parallel "$(nproc)" >build.log 2>&1 || { tail -50 build.log; exit 1; }
cmake --install build >install.log 2>&1 || { tail -50 install.log; exit 1; }
touch "$prefix/.complete"
cd /
rm -rf "$work"
echo "$prefix" >&3
