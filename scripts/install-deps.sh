#!/usr/bin/env bash
# Installs the Debian packages that building and testing velmora needs, when they are missing.
set -euo pipefail

# can-utils and python3-can: the peers of the integration tests (candump, cansend, python-can).
packages=(g++ cmake make libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev can-utils python3-can)
# clang-15 and libfuzzer-15-dev: the fuzz targets (preset `fuzz`, scripts/fuzz.sh).
packages+=(clang-15 libfuzzer-15-dev)
# qemu-system-x86 and busybox-static: the VM of scripts/vm-run.sh, where the kernel has no vcan.
packages+=(qemu-system-x86 busybox-static)
# The ROS 2 bridge (Cyclone DDS and its idlc) and its interoperability test's peer (Fast DDS).
packages+=(cyclonedds-dev cyclonedds-tools libfastrtps-dev fastddsgen)
# The Python module (pybind11, NumPy) and its checks (pytest, mypy).
packages+=(python3-dev pybind11-dev python3-numpy python3-pytest python3-mypy)
# The velmora command: JSON output (state --json) and the terminal of monitor; tmux runs monitor
# in the integration tier.
packages+=(nlohmann-json3-dev libncurses-dev tmux)

# --packaging: what scripts/package.sh and the CI's package checks need besides (dpkg-shlibdeps,
# file, pkg-config, lintian).
if [ "${1:-}" = --packaging ]; then
  packages+=(dpkg-dev file pkgconf lintian)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
