#!/usr/bin/env bash
# Deleted files brought back, against Sleuth Kit: `qsalvage save` and
# `tsk_recover -e` on the same volumes of the undelete fixtures in
# tests/data, made by real tools (mtools and exfat-fuse for FAT, debugfs
# and kernel mounts for ext, ntfs-3g for NTFS), whose manifests say what
# every deleted file held.
#
# Usage: bench/undelete.sh [QSALVAGE_BINARY]
#
# Without an argument a Release build is made (and kept) in
# $BENCH_BUILD_DIR, default ${TMPDIR:-/tmp}/qsalvage-bench-build.
#
# Prints one line per volume: the deleted files with data in the manifest,
# how many each tool wrote byte for byte at their own path and anywhere in
# its output (a tool may put a file under another name or in an orphan
# folder), and the time each took. Sleuth Kit reads raw images only, so it
# gets the raw disk qemu-img makes of each fixture; qsalvage reads the
# fixture as it is.
#
# Exit status: 0 when qsalvage brings back at least as many deleted files
# byte for byte as tsk_recover on every volume, 1 when it does not or a
# tool failed, 2 setup problem.
set -euo pipefail
export LC_ALL=C

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd "$script_dir/.." && pwd)
bench_name=undelete.sh
# shellcheck source=bench/lib.sh
source "$repo_root/bench/lib.sh"

need tsk_recover sleuthkit
need qemu-img qemu-utils
need xz xz-utils
need python3 python3
need_gnu_time
resolve_qsalvage "${1:-}"
make_work_area undelete
on_exit remove_work_area
data=$repo_root/tests/data

# The volumes: label, fixture, qsalvage's volume options, the volume's first
# sector (for tsk_recover -o), and how the deleted files are read from the
# fixture's manifest (an adapter below). On the journal fixture the kernel
# deleted every file, so only older copies in the journal lead to them. The HFS+ fixture's deletions were
# made at the byte level (no tool here deletes from HFS+); the others by the
# file systems' own tools.
volumes=(
    "fat16|undelete-fat.img|--volume 0|2048|fat fat16"
    "fat32|undelete-fat.img|--volume 1|34816|fat fat32"
    "exfat|undelete-fat.img|--volume 2|104448|fat exfat"
    "ext2|undelete-ext.img|--start-sector 2048 --fs extX --size-mb 6|2048|ext ext2"
    "ext3|undelete-ext.img|--start-sector 16384 --fs extX --size-mb 6|16384|ext ext3"
    "ext4|undelete-ext.img|--start-sector 30720 --fs extX --size-mb 6|30720|ext ext4"
    "ext3-journal|undelete-journal.img|--volume 0|2048|journal 1"
    "ext4-journal|undelete-journal.img|--volume 1|18432|journal 2"
    "ntfs|undelete-ntfs.img|--volume 0|2048|kinds -"
    "hfsplus|undelete-hfsplus.img|--start-sector 688 --fs HFS+ --size-mb 5|688|kinds -"
)

# deleted_files ADAPTER ARG MANIFEST : prints "sha256<TAB>path" for every
# deleted file with data that the manifest lists for the volume.
deleted_files() {
    local adapter=$1 arg=$2 manifest=$3
    case $adapter in
    fat) # fs kind state size sha256 stored layout path
        grep -v '^#' "$manifest" |
            awk -F'\t' -v fs="$arg" '$1 == fs && $2 == "file" && $3 == "deleted" && $4 > 0 { print $5 "\t" $8 }' ;;
    ext) # index fs path state how size sha256 inode recoverability
        grep -v '^#' "$manifest" |
            awk -F'\t' -v fs="$arg" '$2 == fs && $4 == "deleted" && $6 > 0 { print $7 "\t" $3 }' ;;
    journal) # volume path state size sha256 (paths from "/")
        grep -v '^#' "$manifest" |
            awk -F'\t' -v v="$arg" '$1 == v && $3 == "deleted" && $4 > 0 { print $5 "\t" substr($2, 2) }' ;;
    kinds) # kind state record size sha256 recoverability path
        grep -v '^#' "$manifest" | awk -F'\t' '$1 == "file" && $2 == "deleted" && $4 > 0 { print $5 "\t" $7 }' ;;
    *) die "no manifest adapter $adapter" ;;
    esac
}

# count_back LIST DIR : "AT_PATH ANYWHERE" of LIST's files found byte for byte in DIR.
count_back() {
    python3 - "$1" "$2" <<'EOF'
import hashlib, os, sys
wanted = [l.rstrip("\n").split("\t", 1) for l in open(sys.argv[1], encoding="utf-8") if l.strip()]
root = sys.argv[2]
def sha(p):
    h = hashlib.sha256()
    with open(p, "rb") as f:
        for b in iter(lambda: f.read(1 << 20), b""):
            h.update(b)
    return h.hexdigest()
found = set()
for d, _, files in os.walk(root):
    for f in files:
        p = os.path.join(d, f)
        if os.path.isfile(p) and not os.path.islink(p):
            found.add(sha(p))
at_path = sum(1 for s, p in wanted if os.path.isfile(os.path.join(root, p)) and sha(os.path.join(root, p)) == s)
anywhere = sum(1 for s, _ in wanted if s in found)
print(at_path, anywhere)
EOF
}

declare -A images
missed=()
printf '%-12s %8s | %-22s %8s | %-22s %8s\n' "" deleted "qsalvage at path/any" seconds "tsk_recover at path/any" seconds
for row in "${volumes[@]}"; do
    IFS='|' read -r label fixture options start adapter <<<"$row"
    if [[ -z ${images[$fixture]:-} ]]; then
        [[ -f $data/$fixture.xz ]] || die "$data/$fixture.xz is missing"
        xz -dc "$data/$fixture.xz" >"$work/$fixture"
        raw=$work/$fixture.raw
        qemu-img convert -O raw "$work/$fixture" "$raw"
        images[$fixture]=$raw
    fi
    manifest=$data/${fixture%%.*}.manifest.txt
    # shellcheck disable=SC2086  # the adapter's name and argument
    deleted_files $adapter "$manifest" >"$work/$label.deleted"
    total=$(wc -l <"$work/$label.deleted")

    mkdir -p "$outputs/q-$label" "$outputs/t-$label"
    # shellcheck disable=SC2086  # the volume options are words
    run_timed /dev/null "$qsalvage" save "$work/$fixture" $options --output "$outputs/q-$label"
    q_seconds=$run_seconds
    run_may_fail=1
    run_timed /dev/null tsk_recover -e -o "$start" "${images[$fixture]}" "$outputs/t-$label"
    run_may_fail=0
    t_seconds=$run_seconds
    read -r q_path q_any < <(count_back "$work/$label.deleted" "$outputs/q-$label")
    read -r t_path t_any < <(count_back "$work/$label.deleted" "$outputs/t-$label")
    printf '%-12s %8d | %10d %11d %8s | %10d %11d %8s\n' "$label" "$total" "$q_path" "$q_any" "$q_seconds" \
        "$t_path" "$t_any" "$t_seconds"
    (( q_any >= t_any )) || missed+=("$label")
done
if (( ${#missed[@]} )); then
    fail "fewer deleted files back than tsk_recover on: ${missed[*]}"
fi
log "qsalvage brings back at least as many deleted files as tsk_recover on every volume"
