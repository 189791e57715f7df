#!/usr/bin/env bash
# CI, packaging: the library configured and built with nothing but a compiler and CMake (every
# optional package hidden); then the Debian packages built, checked with lintian, dpkg -c and
# readelf, installed with apt-get, used from a folder outside the tree (CMake package,
# pkg-config, the examples with the simulated hands, every installed header on its own, the
# velmora command, the Python module) and removed again, leaving the machine as it was.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

run() {
  echo "+ $*"
  "$@"
}
fail() {
  echo "packages: $*" >&2
  exit 1
}

run ./scripts/install-deps.sh --packaging --python

# --- The library alone -------------------------------------------------------------------------
# Each optional part must switch itself off, never fail the configure.
hidden=(CLI11 GTest GMock benchmark pybind11 Python Python3 nlohmann_json Curses PkgConfig
        CycloneDDS CycloneDDS-CXX fastrtps fastcdr fastdds)
disable=()
for package in "${hidden[@]}"; do
  disable+=("-DCMAKE_DISABLE_FIND_PACKAGE_$package=ON")
done
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
lib_only=build/ci-library-only
rm -rf "$lib_only"
run cmake -S . -B "$lib_only" -DCMAKE_BUILD_TYPE=RelWithDebInfo --no-warn-unused-cli \
  "${launcher[@]}" "${disable[@]}" | tee "$lib_only.log"
grep '^-- velmora: ' "$lib_only.log" || true
run cmake --build "$lib_only" --target velmora_cpp_sdk --parallel "$(nproc)"
[ -e "$lib_only/libvelmora_cpp_sdk.so.1" ] || fail "the library-only build made no libvelmora_cpp_sdk.so.1"

# --- The packages ------------------------------------------------------------------------------
build=${VELMORA_PACKAGE_BUILD:-build/ci-packages}   # a package build to reuse, if given
run ./scripts/package.sh "$build"
debs=("$build"/packages/*.deb)
names=()
for deb in "${debs[@]}"; do
  names+=("$(dpkg-deb -f "$deb" Package)")
done
for required in libvelmora1 libvelmora-dev libvelmora-sim-dev velmora-tools; do
  [[ " ${names[*]} " == *" $required "* ]] || fail "no $required package"
done
deb_version=$(dpkg-deb -f "$build"/packages/libvelmora1_*.deb Version)
version=${deb_version%-*}

# Findings are errors here: each one is fixed or overridden in packaging/lintian with a reason.
run lintian --fail-on error,warning "${debs[@]}"

# What each package holds, and nothing else (no build tree, no internal header).
expected_files() {
  local lib='\./usr/lib/[a-z0-9_-]+'
  local doc="\./usr/share/(doc/$1/(copyright|changelog\.Debian\.gz)|lintian/overrides/$1)"
  case $1 in
    libvelmora1) echo "$lib/libvelmora_cpp_sdk\.so\.1(\.[0-9]+\.[0-9]+)?|$doc" ;;
    libvelmora-dev)
      echo "\./usr/include/velmora/[A-Za-z]+\.h|$lib/libvelmora_cpp_sdk\.so|$lib/pkgconfig/velmora\.pc|$lib/cmake/velmora/velmora(Config|ConfigVersion|Targets|Targets-[a-z]+)\.cmake|$doc" ;;
    libvelmora-sim-dev)
      echo "\./usr/include/velmora/sim/[A-Za-z]+\.h|$lib/libvelmora_sim\.a|$lib/cmake/velmora/velmora-sim-targets(-[a-z]+)?\.cmake|$doc" ;;
    velmora-tools) echo "\./usr/bin/velmora|\./usr/share/man/man1/velmora(-[a-z0-9]+)?\.1\.gz|\./usr/share/bash-completion/completions/velmora|$doc" ;;
    python3-velmora) echo "\./usr/lib/python3/dist-packages/.+|$doc" ;;
    *) echo "" ;;
  esac
}
for deb in "${debs[@]}"; do
  name=$(dpkg-deb -f "$deb" Package)
  pattern=$(expected_files "$name")
  [ -n "$pattern" ] || fail "$name: a package nobody expects"
  stray=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | grep -Ev "^($pattern)$" || true)
  [ -z "$stray" ] || fail "$name holds unexpected files:"$'\n'"$stray"
  echo "$name: $(dpkg-deb -c "$deb" | awk '$1 !~ /^d/' | wc -l) files, as expected"
done

work=$(mktemp -d)
installed_before=()
for name in "${names[@]}"; do
  dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q "install ok installed" &&
    installed_before+=("$name")
done
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
purge() {
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get purge -y -qq -o DPkg::Lock::Timeout=300 "$@" >/dev/null
}
# Only a run stopped half-way leaves them behind: the checks need the packages of this build.
if [ ${#installed_before[@]} -gt 0 ]; then
  echo "packages: removing ${installed_before[*]}, left installed by an earlier run"
  purge "${installed_before[@]}"
fi
cleanup() {
  echo "+ apt-get purge ${names[*]}"
  purge "${names[@]}" || echo "packages: could not remove ${names[*]}" >&2
  rm -rf "$work"
}
trap cleanup EXIT

debs_abs=()
for deb in "${debs[@]}"; do debs_abs+=("$root/$deb"); done
run "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -qq -o DPkg::Lock::Timeout=300 "${debs_abs[@]}"

# --- The installed files -----------------------------------------------------------------------
library=$(dpkg -L libvelmora1 | grep -E '/libvelmora_cpp_sdk\.so\.[0-9]+\.[0-9]+\.[0-9]+$')
readelf -d "$library" | grep -q 'Library soname: \[libvelmora_cpp_sdk\.so\.1\]' ||
  fail "$library: SONAME is not libvelmora_cpp_sdk.so.1"
! readelf -d "$library" | grep -Eq 'RUNPATH|RPATH' || fail "$library carries a RUNPATH"
! readelf -d /usr/bin/velmora | grep -Eq 'RUNPATH|RPATH' || fail "/usr/bin/velmora carries a RUNPATH"
for name in "${names[@]}"; do
  for file in $(dpkg -L "$name"); do
    [ -f "$file" ] && file -b "$file" | grep -q '^ELF' || continue
    ! readelf -d "$file" | grep -F "$root" || fail "$file looks for libraries in the build tree"
  done
done
cmake_dir=$(dirname "$(dpkg -L libvelmora-dev | grep '/velmoraConfig\.cmake$')")
! grep -rl "$root" "$cmake_dir" || fail "the installed CMake package names the build tree"
[ "$(pkg-config --modversion velmora)" = "$version" ] ||
  fail "velmora.pc says $(pkg-config --modversion velmora), the packages $version"

# Every installed header compiles on its own, from /usr/include only.
headers=$(dpkg -L libvelmora-dev libvelmora-sim-dev | grep -E '^/usr/include/velmora/.+\.h$')
count=0
for header in $headers; do
  echo "#include <${header#/usr/include/}>" |
    g++ -std=c++17 -Wall -Wextra -Wpedantic -Werror -fsyntax-only -x c++ - ||
    fail "${header} does not compile on its own"
  count=$((count + 1))
done
echo "$count installed headers compile on their own"

# --- An application outside the tree -----------------------------------------------------------
cp "$root/tests/package/consumer.cpp" "$root/tests/package/CMakeLists.txt" "$work/"
cd "$work"
run cmake -S . -B cmake-build -DCMAKE_BUILD_TYPE=RelWithDebInfo
run cmake --build cmake-build
run ./cmake-build/consumer "$version"
# shellcheck disable=SC2046
run g++ -std=c++17 -Wall -Wextra -Wpedantic -Werror consumer.cpp -o consumer-pc \
  $(pkg-config --cflags --libs velmora)
run ./consumer-pc "$version"

# The examples, against the installed simulated hands (find_package(velmora 1 COMPONENTS sim)).
run cmake -S "$root/examples" -B examples-build -DCMAKE_BUILD_TYPE=RelWithDebInfo
run cmake --build examples-build
run timeout 120 ./examples-build/velmora_drive_hand

# --- The velmora command and the Python module, from the packages ------------------------------
run velmora --help >/dev/null
if velmora --help 2>&1 | grep -q -- '--version'; then
  run velmora --version | tee version.txt
  grep -qF "$version" version.txt || fail "velmora --version does not say $version"
else
  echo "velmora --version: the command has no such option yet, not checked"
fi
run timeout 120 velmora demo --model tovin >/dev/null

if [[ " ${names[*]} " == *" python3-velmora "* ]]; then
  # The package's interpreter is Debian's, whatever python3 comes first on the PATH.
  run /usr/bin/python3 -c "import velmora, sys; print(velmora.__version__); sys.exit(velmora.__version__ != '$version')"
else
  echo "python3-velmora: not built, import not checked"
fi

cd "$root"
echo "packages: ${names[*]} $deb_version built, installed, used and removed"
