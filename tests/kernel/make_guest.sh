#!/usr/bin/env bash
# Prepares a small Linux guest for QEMU that runs lintrel-cli against real USB-serial
# drivers: Debian's kernel (fetched once with apt-get download into CACHE), an initramfs
# with busybox, the USB and ftdi_sio modules, lintrel-cli and the libraries it loads.
#
#   make_guest.sh CACHE WORK LINTREL_CLI
#
# Writes WORK/vmlinuz and WORK/initramfs.gz. Exits 77 with the reason on its last line when
# QEMU, busybox or the kernel package cannot be had.
set -euo pipefail
cache=$1 work=$2 program=$3

skip() { echo "cannot prepare the guest: $*"; exit 77; }

command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is not installed (package qemu-system-x86)"
[[ -x /bin/busybox ]] && /bin/busybox --list | grep -qx insmod ||
  skip "a static busybox is not installed (package busybox-static)"

# The kernel that linux-image-amd64 points at today; it changes with point releases.
version=$(apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/.*Depends: linux-image-\(.*\)/\1/p' | head -n 1)
[[ -n "$version" ]] || skip "apt-cache names no linux-image-amd64 kernel"
kernel_dir=$cache/linux-image-$version
if [[ ! -e "$kernel_dir/boot/vmlinuz-$version" ]]; then
  mkdir -p "$cache"
  rm -rf "$cache/download" && mkdir -p "$cache/download"
  (cd "$cache/download" && apt-get download "linux-image-$version" >/dev/null 2>&1) ||
    skip "apt-get download linux-image-$version failed"
  rm -rf "$kernel_dir.tmp"
  dpkg -x "$cache"/download/linux-image-"$version"_*.deb "$kernel_dir.tmp"
  rm -rf "$cache/download" "$kernel_dir"
  mv "$kernel_dir.tmp" "$kernel_dir"
fi

rm -rf "$work" && mkdir -p "$work/root/bin"
root=$work/root
cp /bin/busybox "$root/bin/"
modules=$kernel_dir/lib/modules/$version/kernel/drivers
for module in usb/common/usb-common usb/core/usbcore usb/host/xhci-hcd usb/host/xhci-pci \
              usb/serial/usbserial usb/serial/ftdi_sio; do
  cp "$modules/$module.ko" "$root/"
done

# The program with the shared libraries it loads, at the same paths as here.
strip --strip-debug -o "$root/lintrel-cli" "$program"
for library in $(ldd "$program" | grep -o '/[^ ]*'); do
  mkdir -p "$root$(dirname "$library")"
  cp -L "$library" "$root$library"
done

cat > "$root/init" <<'INIT'
#!/bin/busybox sh
B=/bin/busybox
$B mkdir -p /dev /proc /sys /tmp
$B mount -t devtmpfs dev /dev
$B mount -t proc proc /proc
$B mount -t sysfs sys /sys
for m in usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio; do $B insmod /$m.ko; done
n=0
while [ ! -e /dev/ttyUSB0 ] && [ $n -lt 400 ]; do $B usleep 50000; n=$((n + 1)); done
[ -e /dev/ttyUSB0 ] || { echo "GUEST no /dev/ttyUSB0:"; $B dmesg | $B tail -n 20; }
# Kernel notices of devices coming and going on the console, for the host to time.
echo 7 > /proc/sys/kernel/printk
export HOME=/tmp XDG_CONFIG_HOME=/tmp/config
echo "GUEST LIST BEGIN"
/lintrel-cli --list-ports
echo "GUEST LIST END"
/lintrel-cli --port COM33 --keys trace --reconnect-delay 5000 2>&1
echo "GUEST EXIT $?"
$B poweroff -f
INIT
chmod +x "$root/init"

cp "$kernel_dir/boot/vmlinuz-$version" "$work/vmlinuz"
(cd "$root" && find . | /bin/busybox cpio -o -H newc 2>/dev/null | gzip -1 > "$work/initramfs.gz")
echo "guest ready: kernel $version"
