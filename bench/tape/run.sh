#!/usr/bin/env bash
# reelflood and reelcheck against dd moving the same bytes in the same block
# size, on a 1 GiB file-backed tape in a tmpfs (a private mount namespace),
# with -n (a file cannot be rewound).
#
#   write: reelflood -n -s 1024      against  dd if=/dev/zero of=TAPE bs=32k count=32768
#   read:  reelcheck -n -s 1024      against  dd if=TAPE of=/dev/null bs=32k (the tape
#                                             reelflood wrote)
#
# Each round measures all four in turn; the figures are the medians of ROUNDS
# wall times and their ratios (goal: both programs within 1.2 times dd, so
# the pattern and the comparison never hold back a drive).
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
work=$(mktemp -d /tmp/tape-bench.XXXXXX)
trap 'umount "$work" 2>/dev/null; rmdir "$work"' EXIT
mount -t tmpfs -o size=1100m tmpfs "$work"
tape=$work/tape

ns() { date +%s%N; }
wall() { local t0 t1; t0=$(ns); "$@" >/dev/null 2>&1; t1=$(ns); echo $(((t1 - t0) / 1000)); }
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
fresh() { rm -f "$tape"; : >"$tape"; }
sec() { awk "BEGIN { printf \"%.3f\", $1 / 1e6 }"; }
ratio() { awk "BEGIN { printf \"%.2f\", $1 / $2 }"; }

t_flood=() t_ddw=() t_check=() t_ddr=()
for ((i = 0; i < ROUNDS; i++)); do
  fresh
  t_ddw+=("$(wall dd if=/dev/zero of="$tape" bs=32k count=32768)")
  fresh
  t_flood+=("$(wall "$bin/reelflood" -n -d "$tape" -s 1024)")
  [ "$(stat -c %s "$tape")" = 1073741824 ] || { echo "bench: reelflood wrote $(stat -c %s "$tape") bytes" >&2; exit 1; }
  t_ddr+=("$(wall dd if="$tape" of=/dev/null bs=32k)")
  t_check+=("$(wall "$bin/reelcheck" -n -d "$tape" -s 1024)")
done
"$bin/reelcheck" -n -d "$tape" 2>&1 | tr '\n' ' ' | sed 's/^/check of the last tape: /; s/ *$/\n/'

flood=$(median "${t_flood[@]}") ddw=$(median "${t_ddw[@]}")
check=$(median "${t_check[@]}") ddr=$(median "${t_ddr[@]}")
printf '1 GiB tape in tmpfs, 32768 blocks of 32 KiB, median of %d rounds\n' "$ROUNDS"
printf 'write: reelflood %s s, dd %s s: x%s\n' "$(sec "$flood")" "$(sec "$ddw")" "$(ratio "$flood" "$ddw")"
printf 'read:  reelcheck %s s, dd %s s: x%s\n' "$(sec "$check")" "$(sec "$ddr")" "$(ratio "$check" "$ddr")"
