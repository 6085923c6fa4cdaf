#!/usr/bin/env bash
# netsink's receiver against two others on the same stream over ::1: plainsink,
# which reads the same blocks in the same way and only discards them (no
# comparison, no signal holding, no clock), and iperf3's receiver (iperf3 -s,
# one test, blocks of the same length). netsink and plainsink are fed by the
# suite's pattern client (blockpeer -f), iperf3 by its own client; each moves
# GIB GiB in whole blocks, first over one connection, then over 4.
#
# Each round runs all three receivers, their order rotating from round to
# round. Per transfer: the wall time from the listening receiver to its end,
# and the receiver's CPU time (user + system, its per-connection processes
# included) per GiB. Printed: the medians of these, and the minimum and median
# of the per-round ratios netsink/plainsink and netsink/iperf3.
#
# Usage: bench/netsink/run.sh [build-dir]   (ROUNDS=5 GIB=4; installs iperf3
# from the distribution's packages when it is missing, which needs root)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-${BUILD_DIR:-$top/build}}
ns=$build/bin/netsink peer=$build/bin/blockpeer plain=$build/tests/bin/plainsink
[ -x "$peer" ] || peer=$build/tests/bin/blockpeer
for p in "$ns" "$peer" "$plain"; do
  [ -x "$p" ] || { echo "bench: no $p (build first)" >&2; exit 1; }
done
if ! command -v iperf3 >/dev/null; then
  echo "bench: installing iperf3" >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q iperf3 >/dev/null ||
    { echo "bench: needs iperf3 (apt-get install iperf3)" >&2; exit 1; }
fi
ROUNDS=${ROUNDS:-5} GIB=${GIB:-4}
((ROUNDS >= 5)) || { echo "bench: at least 5 rounds" >&2; exit 1; }
. "$top/bench/summary.sh"
block=66560
blocks=$((((GIB << 30) + block - 1) / block)) # whole blocks, at least GIB GiB
work=$(mktemp -d "${TMPDIR:-/tmp}/ns-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
port=$((21000 + RANDOM % 4000))

ns_now() { date +%s%N; }

# One transfer: receiver kind, connections -> "wall-ms cpu-ms". The clock
# starts once the receiver listens and stops when it has ended; the CPU time
# is the receiver's with its per-connection processes (user + system).
transfer() {
  local kind=$1 conns=$2 per=$(((blocks + $2 - 1) / $2)) pid t0 t1
  local cmd=("$plain" "$port" "$conns")
  [ "$kind" = netsink ] && cmd=("$ns" -c "$conns" -p "$port" ::1)
  [ "$kind" = iperf3 ] && cmd=(iperf3 -s -1 -B ::1 -p "$port")
  ("${cmd[@]}" >"$work/out" 2>"$work/err"; rc=$?; times >"$work/times"; exit $rc) &
  pid=$!
  until ss -Hltn "sport = :$port" | grep -q .; do sleep 0.01; done
  t0=$(ns_now)
  if [ "$kind" = iperf3 ]; then
    iperf3 -c ::1 -p "$port" -P "$conns" -l "$block" -n $((per * conns * block)) >"$work/client" ||
      { cat "$work/client" >&2; exit 1; }
  else
    "$peer" -f -p "$port" -c "$conns" -n "$per"
  fi
  wait "$pid" || { cat "$work/err" >&2; exit 1; }
  t1=$(ns_now)
  if [ "$kind" = netsink ]; then
    grep -qx '!PASS: No failures detected in netsink on IPv6.' "$work/err" &&
      [ "$(grep -c "^EOF .* $per blocks\.$" "$work/out")" = "$conns" ] ||
      { echo "bench: netsink did not verify the stream" >&2; cat "$work/out" "$work/err" >&2; exit 1; }
  fi
  echo "$(((t1 - t0) / 1000000)) $(awk 'NR == 2 { split($0, t, /[ms]+/); print int((t[1] * 60 + t[2] + t[3] * 60 + t[4]) * 1000) }' "$work/times")"
}

printf 'receivers over ::1: %d blocks of %d bytes (%.2f GiB) per transfer, %d rounds, the order rotating\n' \
  "$blocks" "$block" "$(awk -v b="$blocks" -v s="$block" 'BEGIN {print b * s / 2^30}')" "$ROUNDS"
kinds=(netsink plain iperf3)
for conns in 1 4; do
  declare -A w=() c=()
  bytes=$(((blocks + conns - 1) / conns * conns * block))
  for ((i = 0; i < ROUNDS; i++)); do
    for ((k = 0; k < 3; k++)); do
      kind=${kinds[(i + k) % 3]}
      port=$((port + 1))
      transfer "$kind" "$conns" >"$work/result"
      read -r wall cpu <"$work/result"
      w[$kind]+=" $wall"
      c[$kind]+=" $(awk -v c="$cpu" -v b="$bytes" 'BEGIN { printf "%.1f", c * 2^30 / b }')"
    done
  done
  printf '%d connection(s):\n' "$conns"
  echo " receiver CPU per GiB:"
  summary "netsink" "plainsink" "${c[netsink]}" "${c[plain]}"
  summary "netsink" "iperf3 -s" "${c[netsink]}" "${c[iperf3]}"
  echo " wall time:"
  summary "netsink" "plainsink" "${w[netsink]}" "${w[plain]}"
  summary "netsink" "iperf3 -s" "${w[netsink]}" "${w[iperf3]}"
done
