# diskhammer: a short run on a scratch ext4 on a loop device, and a raw-disk
# run on a second, unmounted loop device, both inside a private mount
# namespace (nothing of this machine's own file systems is selected or
# touched: -D names the scratch device).
run_one diskhammer 0 unshare --mount --propagation private bash -c '
  set -e
  work=$1 bin=$2
  truncate -s 64M "$work/dh-fs.img"; truncate -s 8M "$work/dh-raw.img"
  fs=$(losetup -f --show "$work/dh-fs.img"); raw=$(losetup -f --show "$work/dh-raw.img")
  trap "umount \"$work/dh-mnt\" 2>/dev/null; losetup -d $fs $raw; rm -f \"$work\"/dh-*.img" EXIT
  mkfs.ext4 -q -F "$fs"; mkdir -p "$work/dh-mnt"; mount "$fs" "$work/dh-mnt"
  "$bin/diskhammer" -D "$fs" -f 64k:1m -t 4k:64k -n 1
  "$bin/diskhammer" -d -D "$raw" -f 64k:1m -t 4k:64k -n 1
' dh-local "$work" "$bin"
