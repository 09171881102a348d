#!/bin/busybox sh
# /init of the uinput guest: the text of /texts typed through lintrel's uinput keyboard
# for each layout and read back, the same for a slow reader, the device monitor, then the
# throughput run; each part only where /texts asks for it.
B=/bin/busybox
$B mkdir -p /dev /proc /sys /tmp
$B mount -t devtmpfs dev /dev
$B mount -t proc proc /proc
$B mount -t sysfs sys /sys
for m in evdev uinput; do $B insmod /$m.ko; done
for layout in us de fr; do
  [ -e /texts/$layout.txt ] && /lintrel_uinput_guest type $layout /texts/$layout.txt
done
[ -e /texts/slow.txt ] && /lintrel_uinput_guest slow us /texts/slow.txt
[ -e /texts/monitor ] && /lintrel_uinput_guest monitor
[ -e /texts/bench ] && /lintrel_uinput_guest bench us $($B cat /texts/bench)
echo "GUEST EXIT"
$B poweroff -f
