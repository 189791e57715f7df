#!/usr/bin/env bash
# Runs the integration tier (the tests labelled `integration`: the library against the kernel's
# SocketCAN) from an existing build:
#  - directly, when this machine has CAN interfaces named as the tests expect (vcan0, can0, vcan1;
#    the tests skip, each naming what it misses, where one is absent);
#  - otherwise inside the vcan VM of ../shared/tools/vcan-vm, when there is one;
#  - otherwise not at all, with one line saying so.
# Test failures fail the script.
#
# Usage: scripts/integration-tests.sh [BUILD_DIR]      (default: build/default)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
interfaces=(vcan0 can0 vcan1)
vm=../shared/tools/vcan-vm

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
  echo "+ ${tests[*]}"
  exec "${tests[@]}"
fi

[ -x "$vm" ] || skipped "no CAN interface (${interfaces[*]}) on this machine and no $vm"

echo "+ $vm --ifaces vcan0,can0,vcan1 --down vcan1 -- ${tests[*]}"
status=0
"$vm" --ifaces vcan0,can0,vcan1 --down vcan1 --timeout 600 -- "${tests[@]}" || status=$?
case $status in
  0) ;;
  125) skipped "the vcan VM could not start ($vm exit status 125)" ;;
  124) echo "integration tier: timed out in the vcan VM" >&2 ;;
esac
exit "$status"
