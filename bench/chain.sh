#!/usr/bin/env bash
# Export of a two-image chain (a child over its parent) against the export of
# the same disk as one flat image of the same format, both by qsalvage; and,
# where qemu-img reads the chain, qemu-img convert of it for comparison.
#
# Usage: bench/chain.sh [QSALVAGE_BINARY]
#
# Knobs (environment):
#   BENCH_DISK_MIB   virtual disk size in MiB            (default 2048)
#   BENCH_RUNS       timed runs per image                (default 3)
#   BENCH_FORMATS    subset of "qcow2 vdi"               (default both)
#   BENCH_STRICT=1   also exit 3 when a target (ratio, RSS) is missed
#
# The parent holds 60 % of the disk as incompressible data in 4 MiB pieces;
# the child rewrites one piece in seven and adds data to one empty piece in
# eleven. The chain's export must equal the flat disk byte for byte.
# Exit status: 0 every output matched, 1 an output differed or a tool
# failed, 2 setup problem, 3 strict mode and a target missed.
set -euo pipefail
export LC_ALL=C

readonly RSS_TARGET_MIB=64
readonly RATIO_TARGET=1.3
readonly DISK_MIB=${BENCH_DISK_MIB:-2048}
readonly RUNS=${BENCH_RUNS:-3}
readonly FORMATS=${BENCH_FORMATS:-qcow2 vdi}
readonly PIECE_MIB=4

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd "$script_dir/.." && pwd)
bench_name=chain.sh
# shellcheck source=bench/lib.sh
source "$repo_root/bench/lib.sh"

need qemu-img qemu-utils
need openssl openssl
need python3 python3
need cmp diffutils
need_gnu_time "(apt-get install time)"
whole_numbers BENCH_DISK_MIB BENCH_RUNS
(( RUNS >= 1 )) || die "BENCH_RUNS must be at least 1"
(( DISK_MIB >= 64 && DISK_MIB % PIECE_MIB == 0 )) || die "BENCH_DISK_MIB must be a multiple of $PIECE_MIB, at least 64"
for f in $FORMATS; do
    case $f in qcow2|vdi) ;; *) die "unknown format '$f' in BENCH_FORMATS" ;; esac
done

resolve_qsalvage "${1:-}"
make_work_area chain
on_exit remove_work_area
mkdir -p "$outputs"
# Two raw disks and three images of a format at once; one export at a time.
need_space $(( DISK_MIB * 3 )) "$DISK_MIB"
note_load

# piece NUMBER SEED FILE : 4 MiB of AES-CTR output at piece NUMBER of FILE.
piece() {
    { openssl enc -aes-128-ctr -nosalt -K 000102030405060708090a0b0c0d0e0f -iv "$(printf '%032x' "$2")" \
        -in /dev/zero 2>/dev/null || true; } |
        dd of="$3" bs=1M iflag=fullblock count=$PIECE_MIB seek=$(( $1 * PIECE_MIB )) conv=notrunc status=none
}

stage "writing the parent's disk and the child's ($DISK_MIB MiB each)"
parent_raw=$work/parent.raw
child_raw=$work/child.raw
truncate -s "${DISK_MIB}M" "$parent_raw"
pieces=$(( DISK_MIB / PIECE_MIB ))
for (( i = 0; i < pieces; i++ )); do
    (( i % 5 < 3 )) && piece "$i" "$i" "$parent_raw"
done
cp --sparse=always "$parent_raw" "$child_raw"
changed=()
for (( i = 0; i < pieces; i++ )); do
    if (( i % 7 == 0 || (i % 5 >= 3 && i % 11 == 0) )); then
        piece "$i" $(( 100000 + i )) "$child_raw"
        changed+=("$i")
    fi
done

# A qcow2 child holding just the changed pieces: qemu-img convert -B would
# copy every allocated byte, so they are written into it one by one.
qcow2_child() { # PARENT CHILD
    qemu-img create -q -f qcow2 -b "$1" -F qcow2 "$2"
    local i
    for i in "${changed[@]}"; do
        dd if="$child_raw" of="$work/piece.bin" bs=1M count=$PIECE_MIB skip=$(( i * PIECE_MIB )) status=none
        qemu-io -f qcow2 -c "write -q -s $work/piece.bin $(( i * PIECE_MIB ))M ${PIECE_MIB}M" "$2" >/dev/null
    done
    rm -f -- "$work/piece.bin"
}

declare -A res_chain res_flat res_rss res_cmp res_qemu
verdicts=()
failed=0
run_err_lines=+1
for fmt in $FORMATS; do
    stage "$fmt: parent, child and flat image"
    parent=$work/parent.$fmt child=$work/child.$fmt flat=$work/flat.$fmt
    qemu-img convert -f raw -O "$fmt" "$parent_raw" "$parent"
    qemu-img convert -f raw -O "$fmt" "$child_raw" "$flat"
    case $fmt in
        qcow2) qcow2_child "$parent" "$child" ;;
        vdi) python3 "$repo_root/tests/fixtures/vdi-diff-writer.py" "$parent" "$parent_raw" "$child_raw" "$child" \
                 "$work/own.raw" && rm -f -- "$work/own.raw" ;;
    esac
    log "   parent $(( $(stat -c %s "$parent") >> 20 )) MiB, child $(( $(stat -c %s "$child") >> 20 )) MiB," \
        "flat $(( $(stat -c %s "$flat") >> 20 )) MiB"

    res_cmp[$fmt]=same
    t_chain=() t_flat=() rss=()
    # shellcheck disable=SC2317  # alternate calls them
    time_chain() {
        run_timed /dev/null "$qsalvage" export "$child" --output "$outputs/chain.raw"
        t_chain+=("$run_seconds"); rss+=("$run_rss_kib"); detail "$r" chain
        cmp -s "$child_raw" "$outputs/chain.raw" || { log "   CHAIN OUTPUT DIFFERS in run $r"; res_cmp[$fmt]=DIFFERS; }
        rm -f -- "$outputs/chain.raw"
    }
    # shellcheck disable=SC2317
    time_flat() {
        run_timed /dev/null "$qsalvage" export "$flat" --output "$outputs/flat.raw"
        t_flat+=("$run_seconds"); rss+=("$run_rss_kib"); detail "$r" flat
        rm -f -- "$outputs/flat.raw"
    }
    # Warm-up: the three images into the page cache.
    r=0
    time_chain; time_flat
    t_chain=() t_flat=()
    alternate time_chain time_flat
    res_chain[$fmt]=$(min_of "${t_chain[@]}")
    res_flat[$fmt]=$(min_of "${t_flat[@]}")
    res_rss[$fmt]=$(max_of "${rss[@]}")
    res_qemu[$fmt]=-
    if [[ $fmt == qcow2 ]]; then
        run_timed /dev/null qemu-img convert -f qcow2 -O raw "$child" "$outputs/qemu.raw"
        res_qemu[$fmt]=$run_seconds
        rm -f -- "$outputs/qemu.raw"
    fi
    [[ ${res_cmp[$fmt]} == same ]] || failed=1
    rm -f -- "$parent" "$child" "$flat"
done

printf '\nqsalvage export of a two-image chain vs of the same disk as one image, %d MiB, best of %d runs\n' \
    "$DISK_MIB" "$RUNS"
printf '%-6s %9s %9s %12s %16s %12s  %-8s %s\n' format chain_s flat_s 'ratio(<=1.3)' 'maxRSS_MiB(<64)' \
    qemu-img_s output result
for fmt in $FORMATS; do
    read -r ratio verdict < <(verdict_ratio "${res_chain[$fmt]}" "${res_flat[$fmt]}" "$RATIO_TARGET")
    rss_mib=$(awk -v k="${res_rss[$fmt]}" 'BEGIN { printf "%.1f", k / 1024 }')
    awk -v m="$rss_mib" -v t="$RSS_TARGET_MIB" 'BEGIN { exit !(m >= t) }' && verdict=FAIL
    [[ ${res_cmp[$fmt]} == same ]] || verdict=FAIL
    verdicts+=("$verdict")
    printf '%-6s %9.3f %9.3f %12s %16s %12s  %-8s %s\n' "$fmt" "${res_chain[$fmt]}" "${res_flat[$fmt]}" "$ratio" \
        "$rss_mib" "${res_qemu[$fmt]}" "${res_cmp[$fmt]}" "$verdict"
done
(( failed )) && fail "a chain's export differs from the disk it stands for"
exit_by_verdicts "${verdicts[@]}"
