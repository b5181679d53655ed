#!/usr/bin/env bash
# Throughput of the boot-record search against a plain export of the same
# image, in one run: the search must be bound by reading the disk, not by
# testing its sectors.
#
#   bench/volumes.sh [QSALVAGE]
#
# Makes a 4 GiB VHDX (qemu-img) about 60 % filled with incompressible data,
# then times `qsalvage volumes --deep --no-skip` and `qsalvage export` into
# memory (/dev/shm, so writing costs no disk), best of BENCH_RUNS (3) each,
# alternating. Prints search throughput / export throughput (target >= 0.80).
set -euo pipefail

repo_root=$(cd "$(dirname "$0")/.." && pwd)
runs=${BENCH_RUNS:-3}
bench_name=volumes.sh
# shellcheck source=bench/lib.sh
source "$repo_root/bench/lib.sh"
# Worded as the checks below.
need() { command -v "$1" >/dev/null || die "needs $1 (Debian $2)"; }
resolve_qsalvage "${1:-}"
command -v qemu-img >/dev/null || { echo "volumes.sh: needs qemu-img (Debian qemu-utils)" >&2; exit 2; }
command -v openssl >/dev/null || { echo "volumes.sh: needs openssl" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/qsalvage-bench-volumes.XXXXXX")
shm=$(mktemp -d /dev/shm/qsalvage-bench-volumes.XXXXXX)
trap 'rm -rf -- "$work" "$shm"' EXIT

# 64 MiB extents of data in five of every eight 64 MiB slots: blocks of every
# format are full or empty, about 60 % of the disk holds data.
raw=$work/disk.raw
truncate -s 4G "$raw"
for slot in $(seq 0 63); do
    case $((slot % 8)) in 1 | 4 | 6) continue ;; esac
    openssl rand $((64 << 20)) | dd of="$raw" bs=1M seek=$((slot * 64)) conv=notrunc status=none
done
image=$work/disk.vhdx
qemu-img convert -f raw -O vhdx "$raw" "$image"
rm -f "$raw"
bytes=$((4 << 30))

seconds() { # command...: wall seconds of one run
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}
best() { printf '%s\n' "$@" | sort -g | head -n 1; }

search_times=() export_times=()
# One warm-up of each, so both start with the image in the page cache.
"$qsalvage" volumes "$image" --deep --no-skip >/dev/null 2>&1
"$qsalvage" export "$image" --output "$shm/warm.img" >/dev/null 2>&1
rm -f "$shm/warm.img"
for ((i = 1; i <= runs; i++)); do
    search_times+=("$(seconds "$qsalvage" volumes "$image" --deep --no-skip)")
    export_times+=("$(seconds "$qsalvage" export "$image" --output "$shm/out.img")")
    rm -f "$shm/out.img"
done
search=$(best "${search_times[@]}")
export_s=$(best "${export_times[@]}")
ratio=$(echo "$export_s / $search" | bc -l)
verdict=$(echo "$ratio >= 0.80" | bc -l)

printf 'boot-record search vs export, 4096 MiB VHDX, best of %d runs\n' "$runs"
printf '%-28s %8s %12s\n' job seconds MiB/s
printf '%-28s %8.3f %12.0f\n' "volumes --deep --no-skip" "$search" "$(echo "$bytes / 1048576 / $search" | bc -l)"
printf '%-28s %8.3f %12.0f\n' "export to memory" "$export_s" "$(echo "$bytes / 1048576 / $export_s" | bc -l)"
printf 'throughput ratio search/export: %.2f (target >= 0.80) %s\n' "$ratio" "$([[ $verdict == 1 ]] && echo PASS || echo FAIL)"
