#!/bin/busybox sh
# /init of the USB-serial guest: lintrel-cli on the first ftdi_sio adapter, its trace on
# the console.
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
