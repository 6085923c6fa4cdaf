#!/usr/bin/env bash
# diskhammer against fio doing the same work, and its engines against each
# other, on one scratch ext4 (a loop device in a private mount namespace,
# its image in a tmpfs: the syncs then cost the same every time, instead of
# the shared disk's moods, and the figures are the programs' own work).
#
# Both sides do the same work, sync included: diskhammer syncs each file
# before reading it back, so every fio job syncs at the end of its write
# stage (end_fsync=1) before it reads the file back and verifies a pattern
# (verify=pattern), one job after the other (stonewall).
#
#   one file:  diskhammer -R -f 256m:256m -t 1m:1m -n 1, one 256 MB file in
#              1 MB transfers, against one such fio job;
#   cycles:    the cycles of diskhammer -R with the default sizes, PASSES
#              passes, against one fio job per cycle.
#
# Each round runs both sides, their order alternating from round to round.
# Two ratios per round: diskhammer's own elapsed time (its "Elapsed Time"
# total) over fio's time inside its jobs (job_runtime), and the whole
# diskhammer process over the whole fio process. Printed: the medians of the
# absolute figures, and the minimum and median of each per-round ratio.
#
# Usage (root): bench/diskhammer/run.sh [build-dir]   (PASSES=5 ROUNDS=5)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
bin=$(cd "${1:-$top/build}/bin" && pwd)
[ "$(id -u)" = 0 ] || { echo "bench: needs root (loop device, mount namespace)" >&2; exit 1; }
command -v fio >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -q fio >/dev/null
if [ -z "${DH_BENCH_INNER:-}" ]; then
  DH_BENCH_INNER=1 exec unshare --mount --propagation private "$0" "$@"
fi
PASSES=${PASSES:-5} ROUNDS=${ROUNDS:-5}
((ROUNDS >= 5)) || { echo "bench: at least 5 rounds" >&2; exit 1; }
py=/usr/bin/python3
. "$top/bench/summary.sh"
work=$(mktemp -d /tmp/dh-bench.XXXXXX)
mount -t tmpfs -o size=700m tmpfs "$work"
truncate -s 640M "$work/img"
dev=$(losetup -f --show "$work/img")
trap 'umount "$work/mnt" 2>/dev/null; losetup -d "$dev"; umount "$work"; rmdir "$work"' EXIT
mkfs.ext4 -q -F "$dev"
mkdir "$work/mnt"
mount "$dev" "$work/mnt"

# fio's global section: the same pattern check and the same sync.
fio_global() {
  printf '[global]\nthread=1\nioengine=psync\nfilename=%s/fio_file\nverify=pattern\n' "$work/mnt"
  printf 'verify_pattern=0x5a\ndo_verify=1\nrw=write\ninvalidate=0\nend_fsync=1\nstonewall\n'
}
{
  fio_global
  printf '[one]\nsize=%d\nbs=%d\n' $((256 << 20)) $((1 << 20))
} >"$work/one.fio"
# The cycles diskhammer makes with the default sizes, from its own output.
"$bin/diskhammer" -R -n 1 -D "$dev" >"$work/seq.out"
mapfile -t cycles < <(sed -n 's/.*Write Reg   I\/O: File Size \([0-9]*\): Transfer \([0-9]*\):.*/\1 \2/p' "$work/seq.out")
{
  fio_global
  for ((p = 0; p < PASSES; p++)); do
    for c in "${cycles[@]}"; do
      set -- $c
      printf '[c%d_%d]\nsize=%d\nbs=%d\n' "$p" "$1" "$1" "$2"
    done
  done
} >"$work/cycles.fio"

ns() { date +%s%N; }
# diskhammer ARGS... -> "whole-process-ms own-elapsed-ms"
dh() {
  local t0 t1
  t0=$(ns)
  "$bin/diskhammer" "$@" -D "$dev" >"$work/dh.out" || { cat "$work/dh.out" >&2; exit 1; }
  t1=$(ns)
  echo "$(((t1 - t0) / 1000000)) $(awk '/^Elapsed Time/ {t = $4} END {print int(t * 1000 + 0.5)}' "$work/dh.out")"
}
# fio JOBFILE -> "whole-process-ms in-job-ms"
fio_run() {
  local t0 t1
  t0=$(ns)
  fio --output-format=json --output="$work/fio.json" "$1" >/dev/null
  t1=$(ns)
  rm -f "$work/mnt/fio_file"
  echo "$(((t1 - t0) / 1000000)) $($py -c 'import json,sys; print(sum(j["job_runtime"] for j in json.load(open(sys.argv[1]))["jobs"]))' "$work/fio.json")"
}
o_dw=() o_de=() o_fw=() o_fi=() c_dw=() c_de=() c_fw=() c_fi=() l_e=() a_e=()
for ((i = 0; i < ROUNDS; i++)); do
  for side in $( ((i % 2)) && echo fio dh || echo dh fio); do
    if [ $side = dh ]; then
      dh -R -f 256m:256m -t 1m:1m -n 1 >"$work/r"
      read -r w e <"$work/r"
      o_dw+=("$w") o_de+=("$e")
      dh -R -n "$PASSES" >"$work/r"
      read -r w e <"$work/r"
      c_dw+=("$w") c_de+=("$e")
    else
      fio_run "$work/one.fio" >"$work/r"
      read -r w e <"$work/r"
      o_fw+=("$w") o_fi+=("$e")
      fio_run "$work/cycles.fio" >"$work/r"
      read -r w e <"$work/r"
      c_fw+=("$w") c_fi+=("$e")
    fi
  done
  dh -L -n "$PASSES" >"$work/r"
  read -r w e <"$work/r"
  l_e+=("$e")
  dh -A -n "$PASSES" >"$work/r"
  read -r w e <"$work/r"
  a_e+=("$e")
done
echo "diskhammer against fio, both syncing each file before reading it back; $ROUNDS rounds, the sides alternating"
echo "one 256 MB file, 1 MB transfers, write then verify:"
summary "diskhammer own elapsed" "fio inside its jobs" "${o_de[*]}" "${o_fi[*]}"
summary "diskhammer whole process" "fio whole process" "${o_dw[*]}" "${o_fw[*]}"
echo "the cycles of -R with the default sizes (${#cycles[@]} per pass), $PASSES passes:"
summary "diskhammer -R own elapsed" "fio inside its jobs" "${c_de[*]}" "${c_fi[*]}"
summary "diskhammer -R whole process" "fio whole process" "${c_dw[*]}" "${c_fw[*]}"
echo "the engines against each other, own elapsed (-R from the same round):"
summary "diskhammer -L" "diskhammer -R" "${l_e[*]}" "${c_de[*]}"
summary "diskhammer -A" "diskhammer -R" "${a_e[*]}" "${c_de[*]}"
