#!/usr/bin/env bash
# netsink's throughput against a plain receiver (plainsink) that reads the
# same stream in the same blocks and discards it without comparing, both fed
# over ::1 by the pattern client sending as fast as it can, in the same run:
# GIB GiB of pattern blocks on one connection, then the same amount over 4
# concurrent connections. Each figure is the median of ROUNDS runs, the two
# receivers taking turns; the ratio is netsink's throughput over plainsink's.
#
# Usage: bench/netsink/run.sh [build-dir]   (ROUNDS=5 GIB=4)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-${BUILD_DIR:-$top/build}}
ns=$build/bin/netsink peer=$build/bin/blockpeer plain=$build/tests/bin/plainsink
for p in "$ns" "$peer" "$plain"; do
  [ -x "$p" ] || { echo "bench: no $p (build first)" >&2; exit 1; }
done
ROUNDS=${ROUNDS:-5} GIB=${GIB:-4}
block=66560
blocks=$((((GIB << 30) + block - 1) / block)) # whole blocks, at least GIB GiB
work=$(mktemp -d "${TMPDIR:-/tmp}/ns-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
port=$((21000 + RANDOM % 4000))

ns_now() { date +%s%N; }
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# One transfer: receiver kind, connections -> "wall-µs cpu-ms". The clock
# starts once the receiver listens and stops when it has ended; the CPU time
# is the receiver's with its per-connection processes (user + system).
transfer() {
  local kind=$1 conns=$2 per=$(((blocks + $2 - 1) / $2)) pid t0 t1
  local cmd=("$plain" "$port" "$conns")
  [ "$kind" = netsink ] && cmd=("$ns" -c "$conns" -p "$port" ::1)
  ("${cmd[@]}" >"$work/out" 2>"$work/err"; rc=$?; times >"$work/times"; exit $rc) &
  pid=$!
  until ss -Hltn "sport = :$port" | grep -q .; do sleep 0.01; done
  t0=$(ns_now)
  "$peer" -f -p "$port" -c "$conns" -n "$per"
  wait "$pid" || { cat "$work/err" >&2; exit 1; }
  t1=$(ns_now)
  if [ "$kind" = netsink ]; then
    grep -qx '!PASS: No failures detected in netsink on IPv6.' "$work/err" &&
      [ "$(grep -c "^EOF .* $per blocks\.$" "$work/out")" = "$conns" ] ||
      { echo "bench: netsink did not verify the stream" >&2; cat "$work/out" "$work/err" >&2; exit 1; }
  fi
  echo "$(((t1 - t0) / 1000)) $(awk 'NR == 2 { split($0, t, /[ms]+/); print int((t[1] * 60 + t[2] + t[3] * 60 + t[4]) * 1000) }' "$work/times")"
}

printf 'netsink against plainsink over ::1: %d blocks of %d bytes (%.2f GiB) per transfer, %d rounds\n' \
  "$blocks" "$block" "$(awk -v b="$blocks" -v s="$block" 'BEGIN {print b * s / 2^30}')" "$ROUNDS"
for conns in 1 4; do
  w_plain=() w_ns=() c_plain=() c_ns=()
  for ((i = 0; i < ROUNDS; i++)); do
    for kind in $( ((i % 2)) && echo netsink plain || echo plain netsink); do
      port=$((port + 1))
      transfer "$kind" "$conns" >"$work/result"
      read -r w c <"$work/result"
      if [ "$kind" = netsink ]; then w_ns+=("$w") c_ns+=("$c"); else w_plain+=("$w") c_plain+=("$c"); fi
    done
  done
  bytes=$(((blocks + conns - 1) / conns * conns * block))
  awk -v c="$conns" -v b="$bytes" -v p="$(median "${w_plain[@]}")" -v n="$(median "${w_ns[@]}")" \
    -v cp="$(median "${c_plain[@]}")" -v cn="$(median "${c_ns[@]}")" \
    -v tp="${w_plain[*]}" -v tn="${w_ns[*]}" 'BEGIN {
    printf "%d connection(s): plainsink %7.1f MiB/s, netsink %7.1f MiB/s: ratio %.3f\n",
      c, b / p / 1.048576, b / n / 1.048576, p / n
    printf "    receiver CPU per GiB (median): plainsink %d ms, netsink %d ms\n",
      cp * 2^30 / b, cn * 2^30 / b
    printf "    wall times (ms) plainsink:"; k = split(tp, a, " "); for (i = 1; i <= k; i++) printf " %d", a[i] / 1000
    printf "\n    wall times (ms) netsink:  "; k = split(tn, a, " "); for (i = 1; i <= k; i++) printf " %d", a[i] / 1000
    printf "\n"
  }'
done
