#!/usr/bin/env bash
# Prepares a small Linux guest for QEMU: Debian's kernel (fetched once with apt-get download
# into CACHE) and an initramfs with busybox, the kernel modules named, the programs named
# with the libraries they load, files and folders copied, and INIT as /init (a busybox
# script that loads the modules, runs the test and powers off).
#
#   make_guest.sh CACHE WORK INIT [--module DRIVER_PATH]... [--program PATH]... [--copy PATH GUEST_PATH]...
#
# DRIVER_PATH is a module's path under the kernel's drivers/ without .ko (input/evdev); a
# module lands at /NAME.ko, a program at /NAME. Writes WORK/vmlinuz and WORK/initramfs.gz.
# Exits 77 with the reason on its last line when QEMU, busybox or the kernel package cannot
# be had.
set -euo pipefail
cache=$1 work=$2 init=$3
shift 3

skip() { echo "cannot prepare the guest: $*"; exit 77; }

command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is not installed (package qemu-system-x86)"
# grep reads the whole list: one that stopped at the first match would end busybox with
# SIGPIPE, which pipefail turns into a failure now and then.
[[ -x /bin/busybox ]] && /bin/busybox --list | grep -x insmod >/dev/null ||
  skip "a static busybox is not installed (package busybox-static)"

# The kernel that linux-image-amd64 points at today; it changes with point releases.
version=$(apt-cache depends linux-image-amd64 2>/dev/null | awk -F'Depends: linux-image-' 'NF > 1 && !found { print $2; found = 1 }')
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
while [[ $# -gt 0 ]]; do
  case $1 in
    --module) cp "$modules/$2.ko" "$root/" ;;
    --program)
      # The program with the shared libraries it loads, at the same paths as here.
      strip --strip-debug -o "$root/$(basename "$2")" "$2"
      for library in $(ldd "$2" | grep -o '/[^ ]*'); do
        mkdir -p "$root$(dirname "$library")"
        cp -L "$library" "$root$library"
      done ;;
    --copy) mkdir -p "$root$(dirname "$3")" && cp -a "$2" "$root$3" && shift ;;
    *) echo "make_guest.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift 2
done

cp "$init" "$root/init"
chmod +x "$root/init"
cp "$kernel_dir/boot/vmlinuz-$version" "$work/vmlinuz"
(cd "$root" && find . | /bin/busybox cpio -o -H newc 2>/dev/null | gzip -1 > "$work/initramfs.gz")
echo "guest ready: kernel $version"
