#!/usr/bin/env bash
# Runs one command against the real Linux CAN stack on a machine whose kernel has none: boots
# Debian's own kernel under QEMU with vcan interfaces, the host's file system mounted at the same
# paths, runs the command as root in the current directory and exits with its status.
#
#   scripts/vm-run.sh [--ifaces vcan0,can0,vcan1] [--down vcan1] [--timeout 600] -- COMMAND...
#
# Built on Debian packages only: qemu-system-x86 and busybox-static (installed when missing) and
# linux-image-amd64 (downloaded and unpacked into the cache, never installed). The kernel, its
# CAN, vcan and 9p modules and the initramfs are kept in ${VELMORA_VM_CACHE:-~/.cache/velmora-vm}.
# Inside, `sudo` runs its command directly. Exit status: the command's; 124 time-out; 125 the
# VM could not be prepared or did not report.
set -euo pipefail

ifaces=vcan0
down=
timeout=600
while [ $# -gt 0 ]; do
  case $1 in
    --ifaces) ifaces=$2; shift 2 ;;
    --down) down=$2; shift 2 ;;
    --timeout) timeout=$2; shift 2 ;;
    --) shift; break ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: vm-run.sh [--ifaces LIST] [--down LIST] [--timeout S] -- COMMAND..." >&2; exit 2; }
for name in ${ifaces//,/ } ${down//,/ }; do
  [[ $name =~ ^[A-Za-z0-9_.]{1,15}$ ]] || { echo "vm-run: bad interface name '$name'" >&2; exit 2; }
done

cache=${VELMORA_VM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/velmora-vm}
# Loaded at boot with what they depend on; the ones built into the kernel are skipped.
modules=(virtio_pci 9pnet_virtio 9p can can-raw can-dev vcan)
fail() { echo "vm-run: $*" >&2; exit 125; }

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
need=()
command -v qemu-system-x86_64 >/dev/null || need+=(qemu-system-x86)
[ -x /bin/busybox ] && /bin/busybox --list | grep -qx insmod || need+=(busybox-static)
if [ ${#need[@]} -gt 0 ]; then
  echo "vm-run: installing ${need[*]}" >&2
  "${as_root[@]}" apt-get update -qq >&2 || fail "apt-get update failed"
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends \
    "${need[@]}" >&2 || fail "cannot install ${need[*]}"
fi

# The kernel package linux-image-amd64 stands for, unpacked once.
package=$(apt-cache depends linux-image-amd64 2>/dev/null |
  awk '/Depends: linux-image-[0-9]/ { print $2; exit }')
[ -n "$package" ] || fail "cannot resolve linux-image-amd64 (apt-get update?)"
version=${package#linux-image-}
kdir=$cache/$version
if [ ! -f "$kdir/initrd.img" ]; then
  mkdir -p "$cache"
  work=$(mktemp -d "$cache/prepare.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  echo "vm-run: fetching $package" >&2
  (cd "$work" && apt-get download -qq "$package" 2>&1 | grep -v unsandboxed >&2 || true)
  ls "$work"/*.deb >/dev/null 2>&1 || fail "apt-get download $package failed"
  mkdir "$work/x" "$work/root"
  dpkg-deb -x "$work"/*.deb "$work/x" || fail "cannot unpack $package"
  config=$work/x/boot/config-$version
  root=$work/root
  mkdir -p "$root"/{bin,dev,proc,sys,host,modules}
  cp /bin/busybox "$root/bin/busybox"
  for applet in sh mount insmod ip sed cat poweroff chroot; do
    ln -s busybox "$root/bin/$applet"
  done
  # Each module after the ones it depends on; those built into the kernel have no file.
  declare -A seen=()
  add_module() {
    local name=${1//-/_} file dep
    [ -z "${seen[$name]-}" ] || return 0
    seen[$name]=1
    file=$(find "$work/x/lib/modules/$version" -name "$name.ko" -o -name "${name//_/-}.ko" | head -n 1)
    [ -n "$file" ] || return 0
    for dep in $(/bin/busybox strings -a "$file" | sed -n 's/^depends=//p' | tr , ' '); do
      add_module "$dep"
    done
    cp "$file" "$root/modules/"
    basename "$file" >>"$root/modules/order"
  }
  : >"$root/modules/order"
  for m in "${modules[@]}"; do add_module "$m"; done
  grep -q vcan.ko "$root/modules/order" || fail "$package has no vcan module"
  cat >"$root/init" <<'INIT'
#!/bin/sh
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for m in $(cat /modules/order); do insmod /modules/$m 2>/dev/null; done
job=$(sed -n 's/.*velmora.job=\([^ ]*\).*/\1/p' /proc/cmdline)
if mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 host /host; then
  for name in $(cat /host$job/ifaces); do
    ip link add dev "$name" type vcan && ip link set "$name" up
  done
  for name in $(cat /host$job/down); do ip link set "$name" down; done
  mount -t proc proc /host/proc
  mount -t sysfs sys /host/sys
  mount -t devtmpfs dev /host/dev
  chroot /host /bin/sh "$job/job.sh" </dev/null >/dev/console 2>&1
  echo $? >/host$job/status
fi
poweroff -f
INIT
  chmod 755 "$root/init"
  (cd "$root" && find . | /bin/busybox cpio -o -H newc 2>/dev/null | gzip -6) >"$work/initrd.img" ||
    fail "cannot pack the initramfs"
  mkdir -p "$kdir"
  cp "$work/x/boot/vmlinuz-$version" "$kdir/vmlinuz"
  mv "$work/initrd.img" "$kdir/initrd.img"
  rm -rf "$work"
  trap - EXIT
fi

# The job: interfaces, and the command in this directory with this environment.
job=$(mktemp -d /tmp/velmora-vm.XXXXXX)
trap 'rm -rf "$job"' EXIT
echo "${ifaces//,/ }" >"$job/ifaces"
echo "${down//,/ }" >"$job/down"
mkdir "$job/bin"
printf '#!/bin/sh\nexec "$@"\n' >"$job/bin/sudo"
chmod 755 "$job/bin/sudo"
{
  export -p | grep -Ev '^declare -x (SHLVL|PWD|OLDPWD|_)(=|$)' | sed 's/^declare -x/export/'
  # Terminals for programs that need one (tmux), on the guest's own devtmpfs; Unix sockets
  # cannot be bound on the host's file system shared over 9p, so tmux keeps its socket there too.
  printf 'mkdir -p /dev/pts && mount -t devpts -o ptmxmode=666 devpts /dev/pts 2>/dev/null\n'
  printf 'export PATH=%q:"$PATH" VELMORA_VM=1 TMUX_TMPDIR=/dev\n' "$job/bin"
  printf 'cd %q || exit 125\n' "$PWD"
  printf 'exec'
  printf ' %q' "$@"
  printf '\n'
} >"$job/job.sh"

accel=tcg
if { : <>/dev/kvm; } 2>/dev/null && grep -qwE 'vmx|svm' /proc/cpuinfo; then accel=kvm; fi
status=0
timeout --kill-after=10 "$timeout" qemu-system-x86_64 -accel "$accel" -m 1G -smp 2 \
  -nodefaults -no-reboot -display none -serial stdio -monitor none \
  -kernel "$kdir/vmlinuz" -initrd "$kdir/initrd.img" \
  -append "console=ttyS0 quiet loglevel=0 panic=-1 rdinit=/init velmora.job=$job" \
  -fsdev local,id=host,path=/,security_model=none,multidevs=remap \
  -device virtio-9p-pci,fsdev=host,mount_tag=host </dev/null | tr -d '\r' || status=$?
[ "$status" -eq 124 ] && { echo "vm-run: timed out after ${timeout}s" >&2; exit 124; }
[ -f "$job/status" ] || fail "the VM did not report (qemu exit status $status)"
exit "$(cat "$job/status")"
