#!/usr/bin/env bash
# Builds the Debian packages in one command: libvelmora1, libvelmora-dev, libvelmora-sim-dev,
# velmora-tools and, when the Python module is built, python3-velmora, into BUILD_DIR/packages.
# Built as Debian builds its own packages: prefix /usr, dpkg-buildflags' hardening flags,
# stripped binaries. Tests, examples and benchmarks are not built.
#
# Usage: scripts/package.sh [BUILD_DIR [CMAKE_ARGUMENT...]]      (default: build/package)
# Then:  sudo apt install ./BUILD_DIR/packages/*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/package}
shift || true

missing=()
for tool in cmake cpack dpkg-buildflags dpkg-shlibdeps file readelf; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "package.sh: missing ${missing[*]}; ./scripts/install-deps.sh --packaging installs them" >&2
  exit 1
fi

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

cmake -S . -B "$build" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  -DCMAKE_SHARED_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  -DCMAKE_MODULE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  -DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_EXAMPLES=OFF -DVELMORA_BUILD_BENCHMARKS=OFF \
  "${launcher[@]}" "$@"
cmake --build "$build" --parallel "$(nproc)"

rm -f "$build"/packages/*.deb
(cd "$build" && cpack -G DEB)
ls -1 "$build"/packages/*.deb
