#!/usr/bin/env bash
# Runs the integration tier (the tests labelled `integration`: the library against the kernel's
# SocketCAN) from an existing build:
#  - directly, when this machine has CAN interfaces named as the tests expect (vcan0, can0, vcan1;
#    the tests skip, each naming what it misses, where one is absent);
#  - otherwise inside a QEMU VM that boots Debian's kernel with vcan interfaces
#    (scripts/vm-run.sh, built on Debian packages only);
#  - otherwise not at all, with one line saying why.
# The first line it prints says which.
# Test failures fail the script.
#
# Usage: scripts/integration-tests.sh [BUILD_DIR]      (default: build/default)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
interfaces=(vcan0 can0 vcan1)
vm=scripts/vm-run.sh

if [ ! -f "$build/CTestTestfile.cmake" ]; then
  echo "integration tier: no build in $build (cmake --preset default && cmake --build --preset default)" >&2
  exit 1
fi

skipped() {
  echo "integration tier skipped: $1"
  exit 0
}

# ARPHRD_CAN: a CAN interface, virtual or not.
have_can_interface() {
  for name in "${interfaces[@]}"; do
    [ "$(cat "/sys/class/net/$name/type" 2>/dev/null)" = 280 ] && return 0
  done
  return 1
}

tests=(ctest --test-dir "$build" -L integration --output-on-failure)

if have_can_interface; then
  echo "integration tier: on this machine's CAN interfaces"
  echo "+ ${tests[*]}"
  exec "${tests[@]}"
fi

command -v qemu-system-x86_64 >/dev/null || [ "$(id -u)" -eq 0 ] || sudo -n true 2>/dev/null ||
  skipped "no CAN interface (${interfaces[*]}) here, and neither QEMU nor the right to install it"

echo "integration tier: in a QEMU VM with Debian's kernel (vcan0 and can0 up, vcan1 down)"
echo "+ $vm --ifaces vcan0,can0,vcan1 --down vcan1 -- ${tests[*]}"
status=0
"$vm" --ifaces vcan0,can0,vcan1 --down vcan1 --timeout 3600 -- "${tests[@]}" || status=$?
case $status in
  0) ;;
  125) skipped "the VM could not start ($vm exit status 125)" ;;
  124) echo "integration tier: timed out in the VM" >&2 ;;
esac
exit "$status"
