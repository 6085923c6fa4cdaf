#!/usr/bin/env bash
# Iteration time of treecycle against the same copy, compare and remove work
# done by a plain shell script with the same tools, on the same tree (the
# ratio is the driver's own overhead), and how the iteration time grows with
# more instances.
#
#   bench/treecycle/bench.sh [treecycle-binary] [iterations]
#   (ROUNDS=5, INSTANCES="2 4 8"; INSTANCES= leaves the growth out)
#
# Each round runs the shell script and treecycle with one instance, their
# order alternating from round to round, then treecycle with each count of
# INSTANCES. Printed: the medians of the times per iteration, and the minimum
# and median of the per-round ratios (treecycle over the script; N instances
# over one instance of the same round).
#
# The tree and the targets live in a scratch directory under $TMPDIR (or
# /tmp); the run logs in /var/tmp are removed afterwards.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
tc=${1:-${BUILD_DIR:-$top/build}/bin/treecycle}
iters=${2:-3}
ROUNDS=${ROUNDS:-5} INSTANCES=${INSTANCES-2 4 8}
((ROUNDS >= 5)) || { echo "bench: at least 5 rounds" >&2; exit 1; }
. "$top/bench/summary.sh"
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
  rm -rf "$base" # a fresh target each time: a run leaves its log directory there
  mkdir -p "$base/dst" "$base/run"
  t0=$(now)
  (cd "$base/run" && "$tc" -nofsck "$src" "$base/dst" "$iters" "$n" >/dev/null 2>"$base/err") ||
    { cat "$base/err" >&2; exit 1; }
  t1=$(now)
  rm -f /var/tmp/TRC7."$(cat "$base/TRC7.pid")".*
  div "$t1 - $t0" "$iters"
}

printf 'tree: %s files, %s KiB; %s iterations per figure, %s rounds\n' "$(wc -l <"$scratch/list")" \
  "$(du -sk "$src" | cut -f1)" "$iters" "$ROUNDS"
declare -A t=()
for ((i = 0; i < ROUNDS; i++)); do
  for side in $( ((i % 2)) && echo 1 sh || echo sh 1); do
    if [ "$side" = sh ]; then x=$(shell_time 1); else x=$(tc_time 1); fi
    t[$side]+=" $x"
  done
  for n in $INSTANCES; do
    x=$(tc_time "$n")
    t[$n]+=" $x"
  done
done
echo "seconds per iteration (the script with the same pause as treecycle's):"
summary "treecycle, 1 instance" "shell script" "${t[1]}" "${t[sh]}" s
for n in $INSTANCES; do
  summary "treecycle, $n instances" "treecycle, 1 instance" "${t[$n]}" "${t[1]}" s
done
