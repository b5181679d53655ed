#!/usr/bin/env bash
# The two scans for damaged volumes that read a whole volume, the NTFS deep
# scan (`list --mode deep`) and the FAT candidate search (`candidates`),
# must be bound by reading the disk, not by testing its sectors. Each one is
# timed against `qsalvage export` of the same disk, in the same run, and the
# two throughputs are compared.
#
# Usage: bench/damaged.sh [QSALVAGE_BINARY]
#
# Without an argument a Release build is made (and kept, so later runs only
# rebuild what changed) in $BENCH_BUILD_DIR, default ${TMPDIR:-/tmp}/qsalvage-bench-build.
# The developer's own build/ folder is deliberately not used: it may be a
# debug or sanitizer build, which says nothing about speed.
#
# Each disk is a VHDX holding one volume of BENCH_VOLUME_MIB, most of it
# random data, so nearly every block of the VHDX is allocated and every
# scan really reads. Building the NTFS and exFAT disks needs root (a loop
# device and a FUSE mount); the FAT32 one is made with mkfs.fat and mtools
# on a plain file. The disks are kept in $BENCH_CACHE_DIR under a name
# derived from the knobs and the code that builds them.
#
# Knobs (environment):
#   BENCH_VOLUMES     which disks, of ntfs fat32 exfat  (default all three;
#                     exfat only where its tools are installed)
#   BENCH_VOLUME_MIB  size of the one volume in MiB          (default 2048)
#   BENCH_DATA_MIB    random data in a few large files, MiB  (default 1536)
#   BENCH_FILES       small files besides                    (default 3000)
#   BENCH_DELETE      of them deleted again                  (default 300)
#   BENCH_SEED        seed of names, sizes and contents      (default 20240607)
#   BENCH_RUNS        timed runs per job                     (default 3)
#   BENCH_CACHE_DIR   where built disks are kept   (default build/bench-cache)
#   BENCH_REBUILD=1   build the disks again even if cached
#   BENCH_OUTPUT_DIR  where the exports go; empty: the temp folder (default /dev/shm)
#   BENCH_STRICT=1    also exit 3 when a target is missed
#
# Exit status: 0 every job ran (targets may still be missed, see the
# summary), 1 a tool failed, a volume is not seen as what it is or a scan
# misses what the volume holds, 2 setup
# problem, 3 strict mode and a target missed, 4 this qsalvage lacks one of
# the scans (the others are still timed, and the summary says which).
# shellcheck disable=SC2317  # most functions run through build_disk, alternate or the exit trap
set -euo pipefail
# Decimal points in awk and printf must not depend on the user's locale.
export LC_ALL=C

readonly RATIO_TARGET=0.70
# exFAT comes along by default only where its tools are installed; asked
# for by name, missing tools are an error like any other.
if [[ -n ${BENCH_VOLUMES:-} ]]; then
    KINDS=$BENCH_VOLUMES
elif command -v mkfs.exfat >/dev/null 2>&1 && command -v mount.exfat-fuse >/dev/null 2>&1; then
    KINDS="ntfs fat32 exfat"
else
    KINDS="ntfs fat32"
    skipped_exfat=1
fi
readonly KINDS
readonly VOLUME_MIB=${BENCH_VOLUME_MIB:-2048}
readonly DATA_MIB=${BENCH_DATA_MIB:-1536}
readonly FILES=${BENCH_FILES:-3000}
readonly DELETE=${BENCH_DELETE:-300}
readonly SEED=${BENCH_SEED:-20240607}
readonly RUNS=${BENCH_RUNS:-3}
readonly PART_START=2048                 # sectors; where the one partition begins
# The exports land in memory unless told otherwise, so an export costs
# reading the disk plus a memory copy, as close to a scan's cost as writing
# gets.
if [[ -z ${BENCH_OUTPUT_DIR+set} && -d /dev/shm && -w /dev/shm ]]; then
    export BENCH_OUTPUT_DIR=/dev/shm
fi

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd "$script_dir/.." && pwd)
bench_name=damaged.sh
# shellcheck source=bench/lib.sh
source "$repo_root/bench/lib.sh"

# ---------------------------------------------------------------- tools ----

need qemu-img qemu-utils
need sfdisk fdisk
need openssl openssl
need python3 python3
need sha256sum coreutils
for vkind in $KINDS; do
    case $vkind in
        ntfs) need mkntfs ntfs-3g; need ntfs-3g ntfs-3g; need losetup mount ;;
        fat32) need mkfs.fat dosfstools; need fsck.fat dosfstools; need mcopy mtools; need mmd mtools; need mdel mtools ;;
        exfat) need mkfs.exfat exfatprogs; need fsck.exfat exfatprogs; need mount.exfat-fuse exfat-fuse; need losetup mount ;;
        *) die "BENCH_VOLUMES takes ntfs, fat32 and exfat, not '$vkind'" ;;
    esac
done
need_gnu_time
if [[ -n ${skipped_exfat:-} ]]; then
    log "note: mkfs.exfat or mount.exfat-fuse is missing (Debian exfatprogs, exfat-fuse); exFAT is left out"
fi

whole_numbers BENCH_VOLUME_MIB BENCH_DATA_MIB BENCH_FILES BENCH_DELETE BENCH_SEED BENCH_RUNS
(( RUNS >= 1 )) || die "BENCH_RUNS must be at least 1"
(( DELETE <= FILES )) || die "BENCH_DELETE must not be above BENCH_FILES"
# FAT32 needs at least 65525 clusters (256 MiB with the 4 KiB used here),
# and the small files, about 12 KiB each, must fit beside the data.
(( VOLUME_MIB >= 300 )) || die "BENCH_VOLUME_MIB must be at least 300"
(( DATA_MIB + FILES * 16 / 1024 + 64 <= VOLUME_MIB )) ||
    die "BENCH_DATA_MIB $DATA_MIB and $FILES small files do not fit a $VOLUME_MIB MiB volume"

# ------------------------------------------------------------- qsalvage ----

resolve_qsalvage "${1:-}"

# ------------------------------------------------------------ work area ----

make_work_area damaged
mnt=$work/mnt
loop_dev=
mounted=0

# The FUSE process keeps the device open for a moment after umount
# returns; detaching the loop device before it lets go would fail.
wait_device_free() {
    local dev=$1 tries fd busy
    for (( tries = 0; tries < 100; tries++ )); do
        busy=0
        for fd in /proc/[0-9]*/fd/*; do
            if [[ $(readlink "$fd" 2>/dev/null) == "$dev" ]]; then busy=1; break; fi
        done
        (( busy == 0 )) && return 0
        sleep 0.1
    done
    log "warning: $dev is still busy"
}

unmount_volume() {
    if (( mounted )); then
        umount "$mnt"
        mounted=0
    fi
    if [[ -n $loop_dev ]]; then
        wait_device_free "$loop_dev"
        losetup -d "$loop_dev"
        loop_dev=
    fi
}

# shellcheck disable=SC2317  # runs from the exit trap
cleanup() {
    local rc=$?
    set +e
    unmount_volume 2>/dev/null
    [[ -n ${cache_tmp:-} ]] && rm -rf -- "$cache_tmp"
    rm -rf -- "$outputs" "$work"
    exit "$rc"
}
on_exit cleanup
mkdir -p "$outputs"
note_load

readonly DISK_MIB=$(( VOLUME_MIB + PART_START / 2048 ))
readonly disk_bytes=$(( DISK_MIB * 1048576 ))
readonly volume_bytes=$(( VOLUME_MIB * 1048576 ))
# One export at a time in the output folder. What building a disk takes
# is checked when one is built.
need_space 64 $(( DISK_MIB + 16 ))

# ------------------------------------------------------------ the volumes ----

# The contents, the same for every file system: BENCH_FILES small files of
# 200 B to 64 KiB (log-uniform, random bytes) in 40 folders up to 2 deep,
# then the data, random bytes in files of up to 256 MiB (AES-CTR keystream
# from openssl, far faster than any other source of incompressible bytes),
# then BENCH_DELETE of the small files deleted again, so the deep scan
# finds deleted records too. Everything comes from the seed.
#
# With "dir ROOT" it writes into a mounted volume. With "mtools STAGE
# DRIVE" it writes into the staging folder and copies into the image with
# mtools, one folder at a time in a fixed order, a large file at a time so
# the staging folder never holds more than one of them.
cat >"$work/populate.py" <<'EOF'
import math, os, random, shlex, shutil, subprocess, sys

how, root = sys.argv[1], sys.argv[2]
drive = sys.argv[3] if how == "mtools" else None
nfiles, data_mib, ndelete, seed = map(int, sys.argv[-4:])
rng = random.Random(seed)

top = ["Documents", "Pictures", "Projects", "Backup", "Downloads", "Mail", "Données", "写真"]
sub = ["2019", "2020", "old", "Invoices", "Reports", "Camera", "misc", "Übersicht"]
folders = []
for i in range(40):
    if i < len(top):
        folders.append(top[i])
    else:
        folders.append("%s/%s %02d" % (rng.choice(folders[:len(top)]), rng.choice(sub), i))
for f in folders:
    os.makedirs(os.path.join(root, f), exist_ok=True)

env = dict(os.environ, LC_ALL="C.UTF-8", MTOOLSRC="/dev/null", MTOOLS_SKIP_CHECK="1")
def mtools(args, cwd=None):
    subprocess.run(args, cwd=cwd, env=env, stdin=subprocess.DEVNULL, check=True)
if drive:
    mtools(["mmd", "-i", drive] + ["::/" + f for f in folders])

words = ["report", "photo", "notes", "budget", "backup", "draft", "invoice", "scan", "résumé", "報告書"]
exts = [".txt", ".pdf", ".jpg", ".docx", ".xlsx", ".dat", ".zip"]
lo, hi = math.log(200), math.log(65536)
small = {f: [] for f in folders}
for i in range(nfiles):
    f = rng.choice(folders)
    name = "%s %05d%s" % (rng.choice(words), i, rng.choice(exts))
    with open(os.path.join(root, f, name), "wb") as out:
        out.write(rng.randbytes(int(math.exp(rng.uniform(lo, hi)))))
    small[f].append(name)
if drive:
    for f in folders:
        names = small[f]
        for c in range(0, len(names), 400):          # keeps the command line short
            mtools(["mcopy", "-i", drive, "-m", "-Q", "--"] + names[c:c + 400] + ["::/" + f + "/"],
                   os.path.join(root, f))

# The data: the keystream of AES-CTR with the seed as key, one IV per file.
key = "%032x" % seed
os.makedirs(os.path.join(root, "Videos"), exist_ok=True)
if drive:
    mtools(["mmd", "-i", drive, "::/Videos"])
left, n = data_mib << 20, 0
while left > 0:
    size = min(left, 256 << 20)
    path = os.path.join(root, "Videos", "recording %02d.mp4" % n)
    subprocess.run("{ openssl enc -aes-128-ctr -nosalt -K %s -iv %032x -in /dev/zero 2>/dev/null || true; }"
                   " | head -c %d > %s" % (key, n, size, shlex.quote(path)), shell=True, check=True)
    if drive:
        mtools(["mcopy", "-i", drive, "-Q", "--", path, "::/Videos/"])
        os.remove(path)
    print("   %d MiB of data written" % ((data_mib << 20) - left + size >> 20), file=sys.stderr)
    left -= size
    n += 1

everything = [(f, name) for f in folders for name in small[f]]
gone = rng.sample(everything, ndelete)
if drive:
    paths = ["::/%s/%s" % g for g in gone]
    for c in range(0, len(paths), 200):
        mtools(["mdel", "-i", drive] + paths[c:c + 200])
else:
    for f, name in gone:
        os.remove(os.path.join(root, f, name))
print(nfiles + n, len(folders) + 1, ndelete, n)
EOF

# Sets made_files, made_folders and made_deleted from what populate.py
# printed into $work/made.txt.
read_made() { read -r made_files made_folders made_deleted made_large < "$work/made.txt"; }

# partitioned_disk RAW TYPE : a sparse raw disk with an MBR (fixed disk id)
# holding one partition of VOLUME_MIB at PART_START.
partitioned_disk() {
    truncate -s "$disk_bytes" "$1"
    printf 'label: dos\nlabel-id: 0x51a1be4d\nstart=%d, size=%d, type=%s\n' \
        "$PART_START" $(( VOLUME_MIB * 2048 )) "$2" | sfdisk --quiet "$1" >/dev/null
}

attach_partition() { # RAW
    [[ $(id -u) -eq 0 ]] || die "building this disk needs root (a loop device and a FUSE mount)"
    [[ -c /dev/fuse ]] || die "/dev/fuse is missing; building this disk needs FUSE"
    loop_dev=$(losetup --find --show --offset $(( PART_START * 512 )) --sizelimit "$volume_bytes" "$1")
}

fill_mounted() {
    python3 "$work/populate.py" dir "$mnt" "$FILES" "$DATA_MIB" "$DELETE" "$SEED" >"$work/made.txt"
    log "   volume use: $(df -Pm "$mnt" | awk 'NR == 2 { print $3 }') MiB of $VOLUME_MIB"
    unmount_volume
    read_made
}

# Everything a disk is made with goes into its cache key through
# `declare -f`, so a change to how a disk is made never reuses an old one.
build_ntfs() { # RAW
    partitioned_disk "$1" 7
    attach_partition "$1"
    # mkntfs cannot learn the partition's start from a loop device with an
    # offset; without -p the boot sector would claim 0 hidden sectors.
    mkntfs -Q -c 4096 -L QSDAMAGED -p "$PART_START" -H 255 -S 63 "$loop_dev" >"$work/mkfs.log" 2>&1 ||
        { cat "$work/mkfs.log" >&2; die "mkntfs failed"; }
    mkdir -p "$mnt"
    ntfs-3g -o noatime "$loop_dev" "$mnt"
    mounted=1
    fill_mounted
}

build_fat32() { # RAW
    partitioned_disk "$1" c
    # -h: the boot sector must count the sectors in front of the partition,
    # as a volume formatted inside its partition does.
    mkfs.fat -F 32 -S 512 -s 8 -h "$PART_START" --offset "$PART_START" -n QSDAMAGED --invariant \
        "$1" $(( VOLUME_MIB * 1024 )) >"$work/mkfs.log" 2>&1 ||
        { cat "$work/mkfs.log" >&2; die "mkfs.fat failed"; }
    mkdir "$work/stage"
    python3 "$work/populate.py" mtools "$work/stage" "$1@@$(( PART_START * 512 ))" \
        "$FILES" "$DATA_MIB" "$DELETE" "$SEED" >"$work/made.txt"
    rm -rf -- "$work/stage"
    read_made
    # An independent check of what mtools wrote, on a copy of the partition.
    dd if="$1" of="$work/part.raw" bs=1M skip=$(( PART_START / 2048 )) conv=sparse status=none
    fsck.fat -n "$work/part.raw" >"$work/fsck.log" 2>&1 ||
        { cat "$work/fsck.log" >&2; die "fsck.fat finds errors in the volume mtools wrote"; }
    rm -f -- "$work/part.raw"
}

build_exfat() { # RAW
    partitioned_disk "$1" 7
    attach_partition "$1"
    mkfs.exfat -L QSDAMAGED "$loop_dev" >"$work/mkfs.log" 2>&1 ||
        { cat "$work/mkfs.log" >&2; die "mkfs.exfat failed"; }
    mkdir -p "$mnt"
    mount.exfat-fuse -o noatime "$loop_dev" "$mnt" 2>"$work/mount.log" ||
        { cat "$work/mount.log" >&2; die "mount.exfat-fuse failed"; }
    mounted=1
    fill_mounted
    attach_partition "$1"
    fsck.exfat -n "$loop_dev" >"$work/fsck.log" 2>&1 ||
        { cat "$work/fsck.log" >&2; die "fsck.exfat finds errors in the volume"; }
    unmount_volume
}

# What the build says about the new disk, for the log; and, for image.txt,
# the versions of the tools that made it.
describe_disk() { # RAW
    log "   $made_files files ($made_large of them data files) in $made_folders folders, $made_deleted deleted again"
    case $vkind in
        ntfs) echo "$(mkntfs --version 2>&1 | head -n 1), $(ntfs-3g --version 2>&1 | head -n 1)" ;;
        fat32) echo "$(head -n 1 "$work/mkfs.log"), $(mcopy --version | head -n 1)" ;;
        exfat) echo "$(head -n 1 "$work/mkfs.log"), $(mount.exfat-fuse -V 2>&1 | head -n 1)" ;;
    esac
    qemu-img --version | head -n 1
}

# --------------------------------------------------------------- timing ----

# The jobs: a raw export of the whole disk into the output folder, and the
# scan, whose output is thrown away as it would be piped on.
time_export() {
    run_timed /dev/null "$qsalvage" export "$vhdx" --output "$outputs/disk.img"
    rm -f -- "$outputs/disk.img"
    t_export+=("$run_seconds"); detail "$r" export 10
}
time_scan() {
    run_timed /dev/null "${scan_cmd[@]}"
    t_scan+=("$run_seconds"); detail "$r" "$scan_name" 10
}

# The warm-up of the scan, its output kept in $work/scan.out. A qsalvage
# without the command, or that says the scan is not available yet, is
# told apart from one that fails: sets scan_missing to what it said then.
warm_up_scan() {
    scan_missing=
    run_may_fail=1
    run_timed "$work/scan.out" "${scan_cmd[@]}"
    run_may_fail=0
    # A search that prints its candidates as text only is timed that way.
    # (The usage text that follows a usage error names --json anyway, so
    # only the first line, the complaint itself, counts.)
    if (( run_failed )) && [[ ${scan_cmd[-1]} == --json ]] && head -n 1 "$work/err.txt" | grep -q -- '--json'; then
        log "   it takes no --json here: $(head -n 1 "$work/err.txt"); timing it without"
        unset 'scan_cmd[-1]'
        run_may_fail=1
        run_timed "$work/scan.out" "${scan_cmd[@]}"
        run_may_fail=0
    fi
    if (( run_failed )); then
        if grep -qiE 'not available yet|unknown command|unknown option|^Usage:' "$work/err.txt"; then
            scan_missing=$(grep -iE 'not available yet|unknown command|unknown option|^qsalvage: ' "$work/err.txt" | head -n 1)
            scan_missing=${scan_missing:-$(head -n 1 "$work/err.txt")}
            scan_missing=${scan_missing#qsalvage: }
            log "   this qsalvage cannot do it: $scan_missing"
            return
        fi
        log "FAILED: ${scan_cmd[*]}"
        tail -n "$run_err_lines" "$work/err.txt" | sed 's/^/  | /' >&2 || true
        exit 1
    fi
    log "   warm-up $(printf '%-10s' "$scan_name") ${run_seconds}s  (user ${run_user}s sys ${run_sys}s, rss $(( run_rss_kib / 1024 )) MiB)"
    local found
    found=$(what_scan_found "$work/scan.out")
    log "   ${found%%$'\n'*}"
    [[ ${found##*$'\n'} == ok ]] ||
        fail "the $scan_name scan found ${found##*$'\n'}; timing a scan that misses what is there would mean nothing"
}

# A scan that is fast because it found nothing would make its timing
# meaningless, so what it found is checked against what the volume holds:
# the deep scan must list every file created (the deleted ones too: they
# were deleted last, so no new file took their records), the search on
# FAT32 both FATs, on exFAT its FAT and a heap. Prints a line for the log,
# then "ok" or what is missing.
what_scan_found() { # OUTPUT
    python3 - "$1" "$vkind" "$made_files" "$made_deleted" <<'EOF'
import json, sys
path, kind, made, deleted = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
text = open(path, encoding="utf-8", errors="replace").read()
try:
    found = json.loads(text)
except ValueError:
    found = None
if kind == "ntfs":
    if not isinstance(found, list):
        print("the deep scan's output is not a JSON array")
        print("no listing")
        sys.exit()
    files = [e for e in found if isinstance(e, dict) and e.get("type") == "file"]
    gone = sum(bool(e.get("deleted")) for e in files)
    print("the deep scan lists %d files, %d of them deleted; the volume got %d besides NTFS's own, %d deleted again"
          % (len(files), gone, made, deleted))
    print("ok" if len(files) >= made and gone >= deleted else
          "%d files (%d deleted) where the volume got %d (%d deleted)" % (len(files), gone, made, deleted))
    sys.exit()
if not isinstance(found, dict):
    # A search without --json: its text goes to the log as it is.
    print("candidates: " + text[:300].replace("\n", " | "))
    print("ok")
    sys.exit()
def where(items):
    return ", ".join("sector %d" % (c.get("offset", 0) // 512) for c in items) or "none"
fats, heaps = found.get("candidates", []), found.get("heaps", [])
print("%d FAT candidates (%s), %d heap candidates (%s), %d cluster sizes offered"
      % (len(fats), where(fats), len(heaps), where(heaps), len(found.get("clusterSizes", []))))
need_fats, need_heaps = (2, 0) if kind == "fat32" else (1, 1)
print("ok" if len(fats) >= need_fats and len(heaps) >= need_heaps else
      "%d FAT and %d heap candidates where the volume has %d and %d" % (len(fats), len(heaps), need_fats, need_heaps))
EOF
}

declare -A res_scan res_export res_missing
# vkind, not kind: cached_disk has a local kind of its own, which would hide
# this one from build_disk and describe_disk.
for vkind in $KINDS; do
    case $vkind in
        ntfs) fs_type='^NTFS$' fs_name=NTFS scan_name=deep
              scan_what="deep scan (list --mode deep --json)" ;;
        fat32) fs_type='^FAT32$' fs_name=FAT32 scan_name=candidates
               scan_what="candidate search (candidates --json)" ;;
        exfat) fs_type='^(FAT64|exFAT)$' fs_name=exFAT scan_name=candidates
               scan_what="candidate search (candidates --json)" ;;
    esac
    build_disk() { "build_$vkind" "$@"; }
    params="kind=$vkind volume_mib=$VOLUME_MIB data_mib=$DATA_MIB files=$FILES delete=$DELETE seed=$SEED part_start=$PART_START"
    key=$( { echo "$params"; declare -f "build_$vkind" partitioned_disk attach_partition fill_mounted; cat "$work/populate.py"; } |
        sha256sum | cut -c1-16)
    cached_disk "damaged-$vkind" "$key" $(( (DATA_MIB + FILES * 16 / 1024 + 128) * 2 )) \
        "building a ${DISK_MIB} MiB MBR disk, one $VOLUME_MIB MiB $fs_name volume at sector $PART_START, $DATA_MIB MiB of data and $FILES small files"
    made_deleted=$(sed -n 1p "$cached/image.txt" | sed -n 's/.* delete=\([0-9]*\).*/\1/p')
    log "   disk.vhdx: $(du -m "$vhdx" | cut -f1) MiB allocated of a $DISK_MIB MiB disk"
    volume_0_is "$fs_type" || fail "qsalvage does not see volume 0 as $fs_name at sector $PART_START"

    if [[ $vkind == ntfs ]]; then
        scan_cmd=("$qsalvage" list "$vhdx" --volume 0 --mode deep --json)
    else
        scan_cmd=("$qsalvage" candidates "$vhdx" --volume 0 --json)
    fi
    stage "$fs_name $scan_what vs export to $outputs, best of $RUNS"
    # Warm-up: one run each, so both then read the disk from the page cache.
    run_timed /dev/null "$qsalvage" export "$vhdx" --output "$outputs/disk.img"
    log "   warm-up export     ${run_seconds}s  (user ${run_user}s sys ${run_sys}s, rss $(( run_rss_kib / 1024 )) MiB)"
    (( $(stat -c %s "$outputs/disk.img") == disk_bytes )) ||
        fail "the export is $(stat -c %s "$outputs/disk.img") bytes, the disk $disk_bytes"
    rm -f -- "$outputs/disk.img"
    warm_up_scan

    t_export=() t_scan=()
    if [[ -z $scan_missing ]]; then
        alternate time_export time_scan
        spread 10 export "${t_export[@]}"
        spread 10 "$scan_name" "${t_scan[@]}"
        res_scan[$vkind]=$(min_of "${t_scan[@]}")
    else
        # The export is still timed, so the rest of the run is tried out.
        for (( r = 1; r <= RUNS; r++ )); do time_export; done
        spread 10 export "${t_export[@]}"
        res_missing[$vkind]=$scan_missing
    fi
    res_export[$vkind]=$(min_of "${t_export[@]}")
done

# -------------------------------------------------------------- summary ----

mib_per_s() { awk -v b="$1" -v s="$2" 'BEGIN { printf "%.0f", (s > 0) ? b / 1048576 / s : 0 }'; } # BYTES SECONDS

printf '\nscans of a whole volume vs export of its disk, one %d MiB volume (%d MiB of data) in a %d MiB VHDX, best of %d runs\n' \
    "$VOLUME_MIB" "$DATA_MIB" "$DISK_MIB" "$RUNS"
printf 'throughput: the scans over the volume'"'"'s bytes, the export over the disk'"'"'s; the export goes to %s\n' \
    "${out_parent:-the temp folder}"
verdicts=()
missing=0
for vkind in $KINDS; do
    case $vkind in
        ntfs) what="NTFS deep scan" ;;
        fat32) what="FAT32 candidates" ;;
        exfat) what="exFAT candidates" ;;
    esac
    export_s=${res_export[$vkind]}
    if [[ -n ${res_missing[$vkind]:-} ]]; then
        printf '%s: not in this qsalvage (%s); export %.3f s, %s MiB/s; no ratio\n' \
            "$what" "${res_missing[$vkind]}" "$export_s" "$(mib_per_s "$disk_bytes" "$export_s")"
        verdicts+=(MISSING)
        missing=1
        continue
    fi
    scan_s=${res_scan[$vkind]}
    # Judged on the printed value, so "0.70" never reads FAIL.
    read -r ratio verdict < <(awk -v vb="$volume_bytes" -v db="$disk_bytes" -v s="$scan_s" -v e="$export_s" \
        -v t="$RATIO_TARGET" 'BEGIN {
            r = sprintf("%.2f", (s > 0 && e > 0) ? (vb / s) / (db / e) : 0) + 0
            printf "%.2f %s\n", r, (r >= t) ? "PASS" : "FAIL" }')
    verdicts+=("$verdict")
    printf '%s: %.3f s, %s MiB/s; export %.3f s, %s MiB/s; ratio %s (target >= %s) %s\n' "$what" \
        "$scan_s" "$(mib_per_s "$volume_bytes" "$scan_s")" "$export_s" "$(mib_per_s "$disk_bytes" "$export_s")" \
        "$ratio" "$RATIO_TARGET" "$verdict"
done

if (( missing )); then
    log ""
    log "$bench_name: this qsalvage lacks a scan; the disks are cached for when it has it."
    exit 4
fi
exit_by_verdicts "${verdicts[@]}"
