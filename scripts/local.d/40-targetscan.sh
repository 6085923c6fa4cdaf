# targetscan: on the lab rig's four SCSI disks (QEMU's disk behind
# virtio-scsi, lsi53c895a and megasas, and the kernel's scsi_debug), every sd
# and sg node, inside a throw-away virtual machine (tests/lab/scsi-rig). All
# four refuse MODE SENSE for saved values, so each device ends with
# "!ERROR: ioctl(SCSI_MODE_SENSE)" and the run with "!PASS:".
# Without the rig, targetscan runs on a file that is no SCSI device.
if rig_why=$("$top/tests/lab/scsi-rig" --check 2>&1); then
  run_one targetscan 0 "$top/tests/lab/scsi-rig" --timeout 120 -- "$bin/targetscan"
else
  echo "targetscan: the lab rig cannot start here (${rig_why#vm-run: }); no SCSI device, so probing a plain file"
  : >"$work/not-scsi"
  run_one targetscan 0 "$bin/targetscan" "$work/not-scsi"
fi
