#!/usr/bin/env bash
# Installs the Debian packages that velmora needs, when they are missing, by purpose:
#
#   scripts/install-deps.sh              build and run the library, the velmora command and
#                                        its demo (what the README's first command needs)
#   scripts/install-deps.sh --python     ... and the Python module, also through pip
#   scripts/install-deps.sh --tests      ... and every test: unit, Python, bridge, the VM tier
#   scripts/install-deps.sh --fuzz       ... and the fuzz targets
#   scripts/install-deps.sh --packaging  ... and the Debian packages' build and checks
#   scripts/install-deps.sh --all        all of the above
#
# Flags combine (--tests --fuzz). Nothing is downloaded but Debian's packages.
set -euo pipefail

usage() {
  sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
}

python=0 tests=0 fuzz=0 packaging=0
for arg in "$@"; do
  case $arg in
    --python) python=1 ;;
    --tests) tests=1 python=1 ;;
    --fuzz) fuzz=1 ;;
    --packaging) packaging=1 ;;
    --all) tests=1 python=1 fuzz=1 packaging=1 ;;
    -h | --help) usage ;;
    *) echo "install-deps.sh: unknown option '$arg'" >&2; usage ;;
  esac
done

# The library needs only a compiler and CMake; the velmora command adds CLI11, JSON output
# (state --json), the terminal of monitor, the saved poses (TOML) and the web server of ui (found
# through pkg-config).
packages=(g++ cmake make libcli11-dev nlohmann-json3-dev libncurses-dev libtomlplusplus-dev
  libcpp-httplib-dev pkgconf)

if [ $python = 1 ]; then
  # The module (pybind11, NumPy), the pip route (scikit-build and its setuptools and wheel, a
  # virtual environment), the plotting example and `python3 -m velmora.plot` (matplotlib).
  packages+=(python3-dev pybind11-dev python3-numpy python3-skbuild python3-setuptools
    python3-wheel python3-venv python3-pip python3-matplotlib)
fi

if [ $tests = 1 ]; then
  # GoogleTest and Google Benchmark; pytest and mypy for the module.
  packages+=(libgtest-dev libgmock-dev libbenchmark-dev python3-pytest python3-mypy)
  # The ROS 2 bridge (Cyclone DDS and its idlc) and its interoperability test's peer (Fast DDS).
  packages+=(cyclonedds-dev cyclonedds-tools libfastrtps-dev fastddsgen)
  # The integration tier: its peers (candump, cansend, python-can), tmux for monitor, and the
  # VM of scripts/vm-run.sh where the kernel has no vcan.
  packages+=(can-utils python3-can tmux qemu-system-x86 busybox-static)
  # The page of `velmora ui` in a real browser: headless Chromium driven by Selenium.
  packages+=(chromium chromium-driver python3-selenium)
fi

if [ $fuzz = 1 ]; then
  # The fuzz targets (preset `fuzz`, scripts/fuzz.sh).
  packages+=(clang-15 libfuzzer-15-dev)
fi

if [ $packaging = 1 ]; then
  # scripts/package.sh and the CI's package checks (dpkg-shlibdeps, file, pkg-config, lintian).
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
