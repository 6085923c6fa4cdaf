#!/usr/bin/env bash
# diskhammer against fio doing the same work, and its engines against each
# other, on one scratch ext4 (a loop device in a private mount namespace).
#
# fio runs the same cycles as diskhammer -R with the default sizes: for each
# cycle a job writes the file size in transfer-size blocks from offset 0 of
# the same file, then reads it back and verifies a pattern (verify=pattern),
# one job after the other (stonewall). Both run PASSES passes. The figures
# are ratios of wall times measured in the same run, medians of ROUNDS.
#
# Usage (root): bench/diskhammer/run.sh [build-dir]   (PASSES=5 ROUNDS=5)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
bin=${1:-$top/build}/bin
[ "$(id -u)" = 0 ] || { echo "bench: needs root (loop device, mount namespace)" >&2; exit 1; }
command -v fio >/dev/null || { echo "bench: needs fio" >&2; exit 1; }
if [ -z "${DH_BENCH_INNER:-}" ]; then
  DH_BENCH_INNER=1 exec unshare --mount --propagation private "$0" "$@"
fi
PASSES=${PASSES:-5} ROUNDS=${ROUNDS:-5}
work=$(mktemp -d /var/tmp/dh-bench.XXXXXX)
truncate -s 256M "$work/img"
dev=$(losetup -f --show "$work/img")
trap 'umount "$work/mnt" 2>/dev/null; losetup -d "$dev"; rm -rf "$work"' EXIT
mkfs.ext4 -q -F "$dev"
mkdir "$work/mnt"
mount "$dev" "$work/mnt"

# The cycles diskhammer makes with the default sizes, from its own output.
"$bin/diskhammer" -R -n 1 -D "$dev" > "$work/seq.out"
mapfile -t cycles < <(sed -n 's/.*Write Reg   I\/O: File Size \([0-9]*\): Transfer \([0-9]*\):.*/\1 \2/p' "$work/seq.out")
{
  printf '[global]\nthread=1\nioengine=psync\nfilename=%s/fio_file\nverify=pattern\n' "$work/mnt"
  printf 'verify_pattern=0x5a\ndo_verify=1\nrw=write\ninvalidate=0\nstonewall\n'
  for ((p = 0; p < PASSES; p++)); do
    for c in "${cycles[@]}"; do
      set -- $c
      printf '[c%d_%d]\nsize=%d\nbs=%d\n' "$p" "$1" "$1" "$2"
    done
  done
} > "$work/jobs.fio"

ns() { date +%s%N; }
wall() { local t0 t1; t0=$(ns); "$@" > /dev/null; t1=$(ns); echo $(((t1 - t0) / 1000)); }
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

fio_in=() r_fio=() r_lock=() r_async=() t_reg=() t_fio=() t_lock=() t_async=()
for ((i = 0; i < ROUNDS; i++)); do
  reg=$(wall "$bin/diskhammer" -R -s -n "$PASSES" -D "$dev")
  fio_t=$(wall fio --output-format=json --output="$work/fio.json" "$work/jobs.fio")
  # fio's own time inside its jobs (without its start-up and its pause
  # between jobs), in ms
  fio_in+=("$(python3 -c 'import json,sys; print(sum(j["job_runtime"] for j in json.load(open(sys.argv[1]))["jobs"]))' "$work/fio.json")")
  rm -f "$work/mnt/fio_file"
  lock=$(wall "$bin/diskhammer" -L -s -n "$PASSES" -D "$dev")
  async=$(wall "$bin/diskhammer" -A -s -n "$PASSES" -D "$dev")
  t_reg+=("$reg") t_fio+=("$fio_t") t_lock+=("$lock") t_async+=("$async")
  r_fio+=("$(awk -v a="$reg" -v b="$fio_t" 'BEGIN {printf "%.3f", a / b}')")
  r_lock+=("$(awk -v a="$lock" -v b="$reg" 'BEGIN {printf "%.3f", a / b}')")
  r_async+=("$(awk -v a="$async" -v b="$reg" 'BEGIN {printf "%.3f", a / b}')")
done
echo "cycles per pass: ${#cycles[@]}, passes: $PASSES, rounds: $ROUNDS (medians; wall times in ms)"
printf 'diskhammer -R        %8.1f ms\n' "$(awk -v t="$(median "${t_reg[@]}")" 'BEGIN {print t / 1000}')"
printf 'fio, same work       %8.1f ms\n' "$(awk -v t="$(median "${t_fio[@]}")" 'BEGIN {print t / 1000}')"
printf 'diskhammer -L        %8.1f ms\n' "$(awk -v t="$(median "${t_lock[@]}")" 'BEGIN {print t / 1000}')"
printf 'diskhammer -A        %8.1f ms\n' "$(awk -v t="$(median "${t_async[@]}")" 'BEGIN {print t / 1000}')"
printf 'fio, inside its jobs %8.1f ms\n' "$(median "${fio_in[@]}")"
echo "ratio diskhammer -R / fio inside its jobs: $(awk -v a="$(median "${t_reg[@]}")" -v b="$(median "${fio_in[@]}")" 'BEGIN {printf "%.3f", a / 1000 / b}')"
echo "ratio diskhammer -R / fio:        $(median "${r_fio[@]}")   (goal <= 1.10)"
echo "ratio locked / regular engine:    $(median "${r_lock[@]}")   (goal <= 1.25)"
echo "ratio async / regular engine:     $(median "${r_async[@]}")   (goal <= 1.25)"
