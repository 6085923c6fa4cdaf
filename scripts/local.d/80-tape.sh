# reelflood and reelcheck: a fill and a verify of the lab rig's tape drive
# (tests/lab/tape-rig: an 8 MB tape served by tgt over iSCSI inside a
# throw-away virtual machine), both in one boot. Without the rig: a 4 MiB
# file-backed tape alone in a tmpfs of a private mount namespace, with -n
# (a file cannot be rewound). Either way the fill ends at the end of the tape
# (ENOSPC) and the verify at the end of the data. Each program's output and
# status are kept, then shown on its own line.
tape=$work/tape
mkdir -p "$tape/fs"
pair='b=$1; shift
"$b/reelflood" "$@" >flood.log 2>&1; echo $? >flood.rc
"$b/reelcheck" "$@" >check.log 2>&1; echo $? >check.rc'
if rig_why=$("$top/tests/lab/tape-rig" --check 2>&1); then
  "$top/tests/lab/tape-rig" --timeout 180 --out "$tape" -- sh -c "$pair" sh "$bin" >"$tape/rig.log" 2>&1
else
  echo "reelflood, reelcheck: the lab rig cannot start here (${rig_why#*: }); a file-backed tape instead"
  (cd "$tape" && unshare --mount --propagation private sh -c \
    "mount -t tmpfs -o size=4m tmpfs fs && : >fs/tape || exit; $pair" sh "$bin" -n -d fs/tape) \
    >"$tape/rig.log" 2>&1
fi
for p in reelflood:flood reelcheck:check; do
  run_one "${p%%:*}" 0 sh -c 'cat "$1.log" "$2" 2>/dev/null; exit "$(cat "$1.rc" 2>/dev/null || echo 125)"' \
    sh "$tape/${p#*:}" "$tape/rig.log"
done
