#!/usr/bin/env bash
# Export throughput of `qsalvage export` against `qemu-img convert -O raw`.
#
# Usage: bench/export.sh [QSALVAGE_BINARY]
#
# Without an argument a Release build is made (and kept, so later runs only
# rebuild what changed) in $BENCH_BUILD_DIR, default ${TMPDIR:-/tmp}/qsalvage-bench-build.
# The developer's own build/ folder is deliberately not used: it may be a
# debug or sanitizer build, which says nothing about export speed.
#
# Knobs (environment):
#   BENCH_DISK_MIB   virtual disk size in MiB            (default 4096)
#   BENCH_RUNS       timed runs per tool and format       (default 5)
#   BENCH_SEED       seed of the extent layout, 1..2^31-2 (default 20240607)
#   BENCH_FORMATS    formats to run, subset of "vhdx vhd vdi vmdk"
#   BENCH_OUTPUT_DIR where the exports are written      (default: the temp folder)
#   BENCH_STRICT=1   also exit 3 when a target (ratio, RSS) is missed
#
# Exit status: 0 every output matched (targets may still be missed, see the
# table), 1 an output differed or a tool failed, 2 setup problem, 3 strict
# mode and a target missed.
set -euo pipefail
# Decimal points in awk and printf must not depend on the user's locale.
export LC_ALL=C

readonly RSS_TARGET_MIB=64
readonly RATIO_TARGET=1.0
readonly DISK_MIB=${BENCH_DISK_MIB:-4096}
readonly RUNS=${BENCH_RUNS:-5}
readonly SEED=${BENCH_SEED:-20240607}
readonly FORMATS=${BENCH_FORMATS:-vhdx vhd vdi vmdk}
readonly ALLOCATED_TARGET_PERCENT=60
readonly PAGE=4096                       # extents start and end on 4 KiB
readonly RUN_MIN_PAGES=$((1 * 256))      # 1 MiB
readonly RUN_MAX_PAGES=$((64 * 256))     # 64 MiB

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd "$script_dir/.." && pwd)
bench_name=export.sh
# shellcheck source=bench/lib.sh
source "$repo_root/bench/lib.sh"

# ---------------------------------------------------------------- tools ----

need qemu-img qemu-utils
need openssl openssl
need cmp diffutils
need dd coreutils
need_gnu_time "(apt-get install time)"

(( RUNS >= 1 )) || die "BENCH_RUNS must be at least 1"
(( DISK_MIB >= 128 )) || die "BENCH_DISK_MIB must be at least 128"
for f in $FORMATS; do
    case $f in vhdx|vhd|vdi|vmdk) ;; *) die "unknown format '$f' in BENCH_FORMATS" ;; esac
done

# ------------------------------------------------------------- qsalvage ----

resolve_qsalvage "${1:-}"

# ------------------------------------------------------------ work area ----

out_dir=${BENCH_OUTPUT_DIR:-}
[[ -z $out_dir || ( -d $out_dir && -w $out_dir ) ]] || die "BENCH_OUTPUT_DIR $out_dir is not a writable folder"
work=$(mktemp -d "${TMPDIR:-/tmp}/qsalvage-bench.XXXXXX")
out_dir=${out_dir:-$work}
reference=$out_dir/qsalvage-bench-reference.$$.raw
out_qemu=$out_dir/qsalvage-bench-out.$$.raw
out_qs=$out_dir/qsalvage-bench-out2.$$.img
# shellcheck disable=SC2317  # runs from the exit trap
cleanup() { rm -rf -- "$work"; rm -f -- "$reference" "$out_qemu" "$out_qs"; }
on_exit cleanup

# Worst case on disk at once: the raw disk, one image and two outputs, each
# holding the allocated data (plus slack for metadata).
need_mib=$(( DISK_MIB * ALLOCATED_TARGET_PERCENT * 4 / 100 + DISK_MIB / 4 ))
free_mib=$(mib_free "$work")
if [[ $out_dir != "$work" ]]; then
    # The exports go elsewhere; here only the raw disk and one image.
    need_mib=$(( DISK_MIB * ALLOCATED_TARGET_PERCENT * 2 / 100 + DISK_MIB / 4 ))
    out_free_mib=$(mib_free "$out_dir")
    out_need_mib=$(( DISK_MIB * ALLOCATED_TARGET_PERCENT * 2 / 100 + DISK_MIB / 8 ))
    (( out_free_mib >= out_need_mib )) ||
        die "$out_dir has $out_free_mib MiB free, about $out_need_mib MiB are needed"
fi
(( free_mib >= need_mib )) || die "$work has $free_mib MiB free, about $need_mib MiB are needed"

note_load

disk=$work/disk.raw
disk_bytes=$(( DISK_MIB * 1024 * 1024 ))
disk_pages=$(( disk_bytes / PAGE ))

# ---------------------------------------------------------- disk layout ----

# Park-Miller minimal standard generator: the same seed gives the same layout
# on any machine and any bash, which $RANDOM does not promise.
rng=$SEED
(( rng >= 1 && rng <= 2147483646 )) || die "BENCH_SEED must be in 1..2147483646"
rand_below() {
    rng=$(( rng * 48271 % 2147483647 ))
    REPLY=$(( rng % $1 ))
}

# Extents of 1..64 MiB with gaps drawn so that on average the wanted share of
# the disk is data; the gaps run up to about 43 MiB, so there are wholly
# empty blocks even at the largest block size used here (16 MiB).
mean_run=$(( (RUN_MIN_PAGES + RUN_MAX_PAGES) / 2 ))
mean_gap=$(( mean_run * (100 - ALLOCATED_TARGET_PERCENT) / ALLOCATED_TARGET_PERCENT ))
extents=()
pos=0
while :; do
    rand_below $(( 2 * mean_gap + 1 )); gap=$REPLY
    rand_below $(( RUN_MAX_PAGES - RUN_MIN_PAGES + 1 )); len=$(( RUN_MIN_PAGES + REPLY ))
    start=$(( pos + gap ))
    (( start < disk_pages )) || break
    (( start + len <= disk_pages )) || len=$(( disk_pages - start ))
    extents+=("$start $len")
    pos=$(( start + len ))
done

log "writing ${#extents[@]} extents of incompressible data into a ${DISK_MIB} MiB sparse disk"
truncate -s "$disk_bytes" "$disk"
# AES-CTR over zeros: incompressible, reproducible from the extent number,
# and much faster than /dev/urandom. openssl dies of SIGPIPE once dd has its
# bytes, which is expected.
key=000102030405060708090a0b0c0d0e0f
i=0
for e in "${extents[@]}"; do
    read -r start len <<<"$e"
    { openssl enc -aes-128-ctr -nosalt -K "$key" -iv "$(printf '%032x' "$i")" -in /dev/zero 2>/dev/null || true; } |
        dd of="$disk" bs=4M iflag=fullblock,count_bytes count=$(( len * PAGE )) \
            oflag=seek_bytes seek=$(( start * PAGE )) conv=notrunc status=none
    i=$(( i + 1 ))
done

# How the layout falls on each format's blocks, so a reader can see that
# every format has empty, partly filled and full blocks.
printf '%s\n' "${extents[@]}" | awk -v pages="$disk_pages" -v page="$PAGE" '
    { s[NR] = $1; l[NR] = $2; used += $2 }
    END {
        printf "allocated: %.1f %% of the disk (%d MiB)\n", 100 * used / pages, used * page / 1048576
        split("16 256 512 4096", per, " ")      # block sizes in pages
        split("VMDK grain (64 KiB)|VDI block (1 MiB)|VHD block (2 MiB)|VHDX block (16 MiB)", name, "|")
        for (k = 1; k <= 4; k++) {
            b = per[k]; n = int((pages + b - 1) / b)
            delete fill
            for (j = 1; j <= NR; j++) {
                a = s[j]; e = s[j] + l[j]
                for (blk = int(a / b); blk * b < e; blk++) {
                    lo = (blk * b > a) ? blk * b : a
                    hi = ((blk + 1) * b < e) ? (blk + 1) * b : e
                    fill[blk] += hi - lo
                }
            }
            full = 0; part = 0
            for (blk in fill) { if (fill[blk] >= b) full++; else part++ }
            printf "  %-20s %6d empty %6d partial %6d full\n", name[k], n - full - part, part, full
        }
    }' >&2

# --------------------------------------------------------------- timing ----

# A failed export is shown with all it said: neither tool says much, and
# the first lines tend to be the ones that matter.
run_err_lines=+1

qemu_fmt() { case $1 in vhd) echo vpc ;; *) echo "$1" ;; esac; }

declare -A res_qemu res_qs res_rss res_cmp
failed=0

for fmt in $FORMATS; do
    image=$work/disk.$fmt
    qfmt=$(qemu_fmt "$fmt")
    log ""
    log "== $fmt: creating the image with qemu-img (default options)"
    qemu-img convert -f raw -O "$qfmt" "$disk" "$image"
    log "   image file: $(( $(stat -c %s "$image") / 1048576 )) MiB"

    # Warm-up: one run of each tool, so both then read the image from the
    # page cache. qemu-img's output is kept as the reference every qsalvage
    # output is compared with.
    run_timed "$work/out.txt" qemu-img convert -f "$qfmt" -O raw "$image" "$reference"
    log "   warm-up qemu-img  ${run_seconds}s"
    run_timed "$work/out.txt" "$qsalvage" export "$image" --output "$out_qs"
    log "   warm-up qsalvage  ${run_seconds}s  rss $(( run_rss_kib / 1024 )) MiB"
    log "   allocated in the output: qemu-img $(du -m "$reference" | cut -f1) MiB," \
        "qsalvage $(du -m "$out_qs" | cut -f1) MiB of $(( $(stat -c %s "$out_qs") / 1048576 )) MiB"
    res_cmp[$fmt]=same
    if ! cmp -s "$reference" "$out_qs"; then
        log "   OUTPUT DIFFERS: $(cmp "$reference" "$out_qs" 2>&1 | head -n 1)"
        res_cmp[$fmt]=DIFFERS
    fi
    rm -f -- "$out_qs"

    # Timed runs alternate between the tools so drift in the machine's state
    # (writeback, other load) hits both alike. Interference only ever adds
    # time, so the best run is the one closest to the tool's own cost.
    t_qemu=() t_qs=() rss=()
    # shellcheck disable=SC2317  # alternate calls it
    time_qemu() {
        run_timed "$work/out.txt" qemu-img convert -f "$qfmt" -O raw "$image" "$out_qemu"
        t_qemu+=("$run_seconds")
        detail "$r" qemu-img 9
        rm -f -- "$out_qemu"
    }
    # shellcheck disable=SC2317  # alternate calls it
    time_qsalvage() {
        run_timed "$work/out.txt" "$qsalvage" export "$image" --output "$out_qs"
        t_qs+=("$run_seconds")
        rss+=("$run_rss_kib")
        detail "$r" qsalvage 9
        if ! cmp -s "$reference" "$out_qs"; then
            log "   OUTPUT DIFFERS in run $r: $(cmp "$reference" "$out_qs" 2>&1 | head -n 1)"
            res_cmp[$fmt]=DIFFERS
        fi
        rm -f -- "$out_qs"
    }
    # Each tool goes first in every other round, and every run starts right
    # after the previous output was deleted, so neither tool is the one that
    # systematically finds the page cache in a better state.
    alternate time_qemu time_qsalvage
    rm -f -- "$reference" "$image"
    [[ ${res_cmp[$fmt]} == same ]] || failed=1

    res_qemu[$fmt]=$(min_of "${t_qemu[@]}")
    res_qs[$fmt]=$(min_of "${t_qs[@]}")
    spread 8 qemu-img "${t_qemu[@]}"
    spread 8 qsalvage "${t_qs[@]}"
    res_rss[$fmt]=$(max_of "${rss[@]}")
done

# ---------------------------------------------------------------- table ----

verdicts=()
printf '\nqsalvage export vs qemu-img convert -O raw, %d MiB virtual disk, best of %d runs\n' "$DISK_MIB" "$RUNS"
printf '%-6s %11s %11s %13s %16s  %-8s %s\n' format qemu-img_s qsalvage_s 'ratio(<=1.0)' 'maxRSS_MiB(<64)' output result
for fmt in $FORMATS; do
    read -r ratio rss_mib verdict < <(awk -v q="${res_qemu[$fmt]}" -v s="${res_qs[$fmt]}" \
        -v kib="${res_rss[$fmt]}" -v rt="$RATIO_TARGET" -v mt="$RSS_TARGET_MIB" -v same="${res_cmp[$fmt]}" 'BEGIN {
            # Judged on the printed values, so "1.00" never reads FAIL.
            r = sprintf("%.2f", (q > 0) ? s / q : 0) + 0; m = sprintf("%.1f", kib / 1024) + 0
            ok = (r <= rt && m < mt && same == "same")
            printf "%.2f %.1f %s\n", r, m, ok ? "PASS" : "FAIL"
        }')
    verdicts+=("$verdict")
    printf '%-6s %11.3f %11.3f %13s %16s  %-8s %s\n' "$fmt" "${res_qemu[$fmt]}" "${res_qs[$fmt]}" \
        "$ratio" "$rss_mib" "${res_cmp[$fmt]}" "$verdict"
done

if (( failed )); then
    log "an export differs from qemu-img's output: the benchmark failed"
    exit 1
fi
exit_by_verdicts "${verdicts[@]}"
