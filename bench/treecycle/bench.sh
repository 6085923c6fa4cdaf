#!/usr/bin/env bash
# Iteration time of treecycle against the same copy, compare and remove work
# done by a plain shell script with the same tools, on the same tree in the
# same run (the ratio is the driver's own overhead), and how the iteration
# time grows with 1, 2, 4 and 8 instances.
#
#   bench/treecycle/bench.sh [treecycle-binary] [iterations]
#
# The tree and the targets live in a scratch directory under $TMPDIR (or
# /tmp); the run logs in /var/tmp are removed afterwards.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
tc=${1:-${BUILD_DIR:-$top/build}/bin/treecycle}
iters=${2:-3}
[ -x "$tc" ] || { echo "no treecycle at $tc (build it first)" >&2; exit 1; }
tc=$(realpath "$tc")
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tcbench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# The tree: 20 directories of 20 files, 1 to 40 KiB each (about 8 MiB).
src=$scratch/src
for d in $(seq 1 20); do
  mkdir -p "$src/d$d/sub"
  for f in $(seq 1 20); do
    head -c $(((d * 20 + f) % 40 * 1024 + 1024)) /dev/urandom >"$src/d$d/sub/f$f"
  done
done
(cd "$src" && find . -print | sed 's|^\./||') >"$scratch/list"

now() { date +%s.%N; }
div() { awk "BEGIN { printf \"%.6f\", ($1) / ($2) }"; }

# One instance's work, as the driver's double and singles do it.
shell_iteration() {
  local dst=$1 pause=$2 k
  cd "$src" && cpio -pdu "$dst/t1" <"$scratch/list" 2>/dev/null && diff -r "$src" "$dst/t1" >/dev/null
  if [ "$pause" = 1 ]; then sync; sleep 1; sync; sync; fi
  for k in 2 3 4 5; do
    (
      from=$src
      [ $k = 3 ] && from=$dst/t1
      cd "$from" && cpio -pdu "$dst/t$k" <"$scratch/list" 2>/dev/null &&
        cd / && diff -r "$from" "$dst/t$k" >/dev/null
    ) &
  done
  wait
  rm -rf "$dst"/t1 "$dst"/t2 "$dst"/t3 "$dst"/t4 "$dst"/t5
}

shell_time() { # pause -> seconds per iteration
  local t0 t1 i
  mkdir -p "$scratch/sh"
  t0=$(now)
  for i in $(seq 1 "$iters"); do shell_iteration "$scratch/sh" "$1"; done
  t1=$(now)
  div "$t1 - $t0" "$iters"
}

tc_time() { # instances -> seconds per iteration
  local n=$1 base=$scratch/tc$1 t0 t1
  mkdir -p "$base/dst" "$base/run"
  t0=$(now)
  (cd "$base/run" && "$tc" -nofsck "$src" "$base/dst" "$iters" "$n" >/dev/null 2>"$base/err") ||
    { cat "$base/err" >&2; exit 1; }
  t1=$(now)
  rm -f /var/tmp/TRC7."$(cat "$base/TRC7.pid")".*
  div "$t1 - $t0" "$iters"
}

printf 'tree: %s files, %s KiB; %s iterations per figure\n' "$(wc -l <"$scratch/list")" \
  "$(du -sk "$src" | cut -f1)" "$iters"
sh_pause=$(shell_time 1)
sh_nopause=$(shell_time 0)
declare -A t
for n in 1 2 4 8; do t[$n]=$(tc_time "$n"); done
printf 'shell script, same work with the same pause : %6.3f s/iteration\n' "$sh_pause"
printf 'shell script, without the 1 s pause         : %6.3f s/iteration\n' "$sh_nopause"
for n in 1 2 4 8; do
  printf 'treecycle, %d instance(s)                    : %6.3f s/iteration  (x%.2f of 1 instance)\n' \
    "$n" "${t[$n]}" "$(div "${t[$n]}" "${t[1]}")"
done
printf 'ratio treecycle(1 instance) / shell script  : %.3f\n' "$(div "${t[1]}" "$sh_pause")"
