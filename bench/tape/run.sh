#!/usr/bin/env bash
# reelflood and reelcheck against dd moving the same bytes in the same block
# size, on a 1 GiB file-backed tape in a tmpfs (a private mount namespace),
# with -n (a file cannot be rewound).
#
#   write: reelflood -n -s 1024      against  dd if=/dev/zero of=TAPE bs=32k count=32768
#   read:  reelcheck -n -s 1024      against  dd if=TAPE of=/dev/null bs=32k (the tape
#                                             reelflood wrote)
#
# Each round runs both sides of each pair, the order alternating from round
# to round: the first reader after a write is the slower one on tmpfs, and
# the first writer may be too. Printed: the medians of the wall times, and
# the minimum and median of the per-round ratios (goal: both programs within
# 1.2 times dd, so the pattern and the comparison never hold back a drive).
#
# Usage (root): bench/tape/run.sh [build-dir]   (ROUNDS=5)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
bin=$(cd "${1:-$top/build}/bin" && pwd)
[ "$(id -u)" = 0 ] || { echo "bench: needs root (mount namespace)" >&2; exit 1; }
if [ -z "${TAPE_BENCH_INNER:-}" ]; then
  TAPE_BENCH_INNER=1 exec unshare --mount --propagation private "$0" "$@"
fi
ROUNDS=${ROUNDS:-5}
((ROUNDS >= 5)) || { echo "bench: at least 5 rounds" >&2; exit 1; }
. "$top/bench/summary.sh"
work=$(mktemp -d /tmp/tape-bench.XXXXXX)
trap 'umount "$work" 2>/dev/null; rmdir "$work"' EXIT
mount -t tmpfs -o size=1100m tmpfs "$work"
tape=$work/tape

ns() { date +%s%N; }
# wall COMMAND... -> ms, the command's output discarded
wall() { local t0 t1; t0=$(ns); "$@" >/dev/null 2>&1; t1=$(ns); awk -v d=$((t1 - t0)) 'BEGIN { printf "%.1f", d / 1e6 }'; }
fresh() { rm -f "$tape"; : >"$tape"; }
flood() { # [record] -> the tape holds reelflood's pattern
  fresh
  local t
  t=$(wall "$bin/reelflood" -n -d "$tape" -s 1024)
  [ "$(stat -c %s "$tape")" = 1073741824 ] || { echo "bench: reelflood wrote $(stat -c %s "$tape") bytes" >&2; exit 1; }
  [ -z "${1:-}" ] || t_flood+=("$t")
}
ddw() { fresh; t_ddw+=("$(wall dd if=/dev/zero of="$tape" bs=32k count=32768)"); }
ddr() { t_ddr+=("$(wall dd if="$tape" of=/dev/null bs=32k)"); }
check() { t_check+=("$(wall "$bin/reelcheck" -n -d "$tape" -s 1024)"); }

t_flood=() t_ddw=() t_check=() t_ddr=()
for ((i = 0; i < ROUNDS; i++)); do
  if ((i % 2)); then
    flood record
    ddw
    flood # the tape that is read is reelflood's, written just before
    check
    ddr
  else
    ddw
    flood record
    ddr
    check
  fi
done
"$bin/reelcheck" -n -d "$tape" 2>&1 | tr '\n' ' ' | sed 's/^/check of the last tape: /; s/ *$/\n/'

printf '1 GiB tape in tmpfs, 32768 blocks of 32 KiB, %d rounds, the order alternating\n' "$ROUNDS"
echo "write:"
summary "reelflood" "dd" "${t_flood[*]}" "${t_ddw[*]}"
echo "read (the tape reelflood wrote):"
summary "reelcheck" "dd" "${t_check[*]}" "${t_ddr[*]}"
