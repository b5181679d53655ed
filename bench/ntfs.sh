#!/usr/bin/env bash
# Listing and saving a large NTFS volume: `qsalvage list` against Sleuth
# Kit's `fls -r -p`, and `qsalvage save` against `tsk_recover -a`, on the
# same volume in the same run.
#
# Usage: bench/ntfs.sh [QSALVAGE_BINARY]
#
# Without an argument a Release build is made (and kept, so later runs only
# rebuild what changed) in $BENCH_BUILD_DIR, default ${TMPDIR:-/tmp}/qsalvage-bench-build.
# The developer's own build/ folder is deliberately not used: it may be a
# debug or sanitizer build, which says nothing about speed.
#
# Needs root: the volume is made with mkntfs on a loop device and filled
# through an ntfs-3g mount.
#
# Knobs (environment):
#   BENCH_FILES      files created                          (default 100000)
#   BENCH_FOLDERS    folders created, nested up to 6 deep    (default 1000)
#   BENCH_DELETE     files deleted again, about              (default 3000)
#   BENCH_DISK_MIB   virtual disk size in MiB               (default 1536)
#   BENCH_RUNS       timed runs per tool and job             (default 3)
#   BENCH_SEED       seed of the tree, names and contents    (default 20240607)
#   BENCH_SLACK      allowed difference between file counts  (default 5)
#   BENCH_OUTPUT_DIR where the save outputs go               (default: the temp folder)
#   BENCH_KEEP=1     keep disk.raw and disk.vhdx (for profiling) and say where
#   BENCH_STRICT=1   also exit 3 when a target is missed
#
# Exit status: 0 every tool ran (targets may still be missed, see the table),
# 1 a tool failed, 2 setup problem, 3 strict mode and a target missed.
set -euo pipefail
# Decimal points in awk and printf must not depend on the user's locale.
export LC_ALL=C

readonly LIST_RATIO_TARGET=0.5
readonly SAVE_RATIO_TARGET=1.0
readonly RSS_TARGET_MIB=300
readonly FILES=${BENCH_FILES:-100000}
readonly FOLDERS=${BENCH_FOLDERS:-1000}
readonly DELETE=${BENCH_DELETE:-3000}
readonly DISK_MIB=${BENCH_DISK_MIB:-1536}
readonly RUNS=${BENCH_RUNS:-3}
readonly SEED=${BENCH_SEED:-20240607}
readonly SLACK=${BENCH_SLACK:-5}
readonly PART_START=2048                 # sectors; where the one partition begins

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd "$script_dir/.." && pwd)
bench_name=ntfs.sh
# shellcheck source=bench/lib.sh
source "$repo_root/bench/lib.sh"

# ---------------------------------------------------------------- tools ----

[[ $(id -u) -eq 0 ]] || die "must run as root (loop device and ntfs-3g mount)"
[[ -c /dev/fuse ]] || die "/dev/fuse is missing; ntfs-3g needs FUSE"
need qemu-img qemu-utils
need sfdisk fdisk
need losetup mount
need mkntfs ntfs-3g
need ntfs-3g ntfs-3g
need fls sleuthkit
need tsk_recover sleuthkit
need python3 python3
need_gnu_time

(( RUNS >= 1 )) || die "BENCH_RUNS must be at least 1"
(( FOLDERS >= 1 && FILES >= FOLDERS )) || die "BENCH_FILES must be at least BENCH_FOLDERS (>= 1)"
(( DELETE >= 0 && DELETE < FILES / 2 )) || die "BENCH_DELETE must be below half of BENCH_FILES"
# Every file takes a 1 KiB MFT record and most of them one or two clusters.
(( DISK_MIB * 1024 >= FILES * 12 + 65536 )) ||
    die "BENCH_DISK_MIB $DISK_MIB is too small for $FILES files; give at least $(( (FILES * 12 + 65536) / 1024 ))"

# ------------------------------------------------------------- qsalvage ----

resolve_qsalvage "${1:-}"

# ------------------------------------------------------------ work area ----

make_work_area ntfs
mnt=$work/mnt
loop_dev=
mounted=0

# The ntfs-3g process keeps the device open for a moment after umount
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

# shellcheck disable=SC2317  # runs from the exit trap
cleanup() {
    local rc=$?
    set +e
    (( mounted )) && umount "$mnt" 2>/dev/null
    if [[ -n $loop_dev ]]; then
        wait_device_free "$loop_dev"
        losetup -d "$loop_dev" 2>/dev/null
    fi
    rm -rf -- "$outputs"
    if [[ ${BENCH_KEEP:-0} == 1 && -f $work/disk.vhdx ]]; then
        rm -rf -- "${work:?}/mnt"
        log "kept $work/disk.raw and $work/disk.vhdx (remove $work when done)"
    else
        rm -rf -- "$work"
    fi
    exit "$rc"
}
on_exit cleanup

# The sparse raw disk and the VHDX each hold the used part of the volume,
# about 5 KiB a file; every save output about as much again, and all of
# them are kept until the last save run (see the save stage for why).
need_space $(( FILES * 10 / 1024 + 512 )) $(( FILES * 11 * (RUNS + 1) / 1024 ))
note_load

raw=$work/disk.raw
vhdx=$work/disk.vhdx

# ------------------------------------------------------------ the volume ----

stage "making a ${DISK_MIB} MiB MBR disk with one NTFS partition at sector $PART_START"
truncate -s "$(( DISK_MIB * 1024 * 1024 ))" "$raw"
echo "start=$PART_START, type=7" | sfdisk --quiet "$raw" >/dev/null
part_sectors=$(( DISK_MIB * 2048 - PART_START ))
loop_dev=$(losetup --find --show --offset $(( PART_START * 512 )) --sizelimit $(( part_sectors * 512 )) "$raw")
# mkntfs cannot learn the partition's start from a loop device with an
# offset; without -p the boot sector would claim 0 hidden sectors.
mkntfs -Q -c 4096 -L QSBENCH -p "$PART_START" -H 255 -S 63 "$loop_dev" >"$work/mkntfs.log" 2>&1 ||
    { cat "$work/mkntfs.log" >&2; die "mkntfs failed"; }
mkdir -p "$mnt"
ntfs-3g -o noatime "$loop_dev" "$mnt"
mounted=1

# The tree: FOLDERS folders, each under a random earlier one (or the root)
# no deeper than 6, so the shape is the same for a seed on any machine.
# Names are mostly ASCII with some accented, CJK and long ones; contents are
# random bytes of 200 B to 8 KiB, log-uniform, so about a third of the files
# fit in their MFT record and the rest take one or two clusters. Then some
# whole leaf folders and random single files are deleted again. Writing goes
# through FUSE one file at a time, so this is the slow part of the run.
cat >"$work/populate.py" <<'EOF'
import math, os, random, shutil, sys, time

root, nfiles, nfolders, ndelete, seed = sys.argv[1], *map(int, sys.argv[2:6])
rng = random.Random(seed)
words = ["report", "photo", "notes", "Budget", "backup", "draft", "invoice", "scan",
         "résumé", "Übersicht", "données", "報告書", "写真", "projekt", "log", "data"]
exts = [".txt", ".log", ".csv", ".dat", ".jpg", ".doc", ".xml", ".bin", ""]

folders = [("", 0)]          # (relative path, depth); the root first
children = {0: []}
for i in range(nfolders):
    while True:
        parent = 0 if rng.random() < 0.05 else rng.randrange(len(folders))
        if folders[parent][1] < 6:
            break
    name = "%s %04d" % (rng.choice(words), i) if i % 5 else "dir%04d" % i
    path = os.path.join(folders[parent][0], name)
    os.mkdir(os.path.join(root, path))
    children[parent].append(len(folders))
    children[len(folders)] = []
    folders.append((path, folders[parent][1] + 1))

lo, hi = math.log(200), math.log(8192)
placed = [[] for _ in folders]
start = time.time()
for i in range(nfiles):
    where = rng.randrange(1, len(folders)) if i % 500 else 0
    if i % 61 == 0:
        name = "%s with a long name that does not fit 8.3 %06d%s" % (rng.choice(words), i, rng.choice(exts))
    else:
        name = "%s_%06d%s" % (rng.choice(words), i, rng.choice(exts))
    rel = os.path.join(folders[where][0], name)
    with open(os.path.join(root, rel), "wb") as f:
        f.write(rng.randbytes(int(math.exp(rng.uniform(lo, hi)))))
    placed[where].append(rel)
    if (i + 1) % 10000 == 0:
        print("   %6d files, %.0f files/s" % (i + 1, (i + 1) / (time.time() - start)), file=sys.stderr)

# About a sixth of the deletions are whole leaf folders (deleted folders
# with deleted files in them), the rest single files anywhere.
deleted_files = deleted_folders = 0
leaves = [k for k in range(1, len(folders)) if not children[k]]
rng.shuffle(leaves)
for k in leaves:
    if deleted_files + len(placed[k]) > ndelete // 6:
        continue
    shutil.rmtree(os.path.join(root, folders[k][0]))
    deleted_files += len(placed[k])
    deleted_folders += 1
    placed[k] = []
    if deleted_files >= ndelete // 6 - 50:
        break
rest = [rel for p in placed for rel in p]
for rel in rng.sample(rest, max(0, ndelete - deleted_files)):
    os.remove(os.path.join(root, rel))
    deleted_files += 1
print(nfiles, nfolders, deleted_files, deleted_folders)
EOF

stage "creating $FILES files in $FOLDERS folders through ntfs-3g, then deleting about $DELETE"
read -r made_files made_folders deleted_files deleted_folders < <(
    python3 "$work/populate.py" "$mnt" "$FILES" "$FOLDERS" "$DELETE" "$SEED")
live_files=$(( made_files - deleted_files ))
log "   $made_files files in $made_folders folders; deleted $deleted_files files" \
    "($deleted_folders whole folders among them); $live_files files remain"
log "   volume use: $(df -Pm "$mnt" | awk 'NR == 2 { print $3 }') MiB"
umount "$mnt"
mounted=0
wait_device_free "$loop_dev"
losetup -d "$loop_dev"
loop_dev=

stage "converting the disk to VHDX with qemu-img"
qemu-img convert -f raw -O vhdx "$raw" "$vhdx"
log "   disk.raw uses $(du -m "$raw" | cut -f1) MiB, disk.vhdx $(du -m "$vhdx" | cut -f1) MiB"
# Sleuth Kit reads raw images only, so it gets disk.raw, the very disk the
# VHDX was made from; qsalvage reads the VHDX, which is the harder job (every
# read goes through the block allocation table).
volume_0_is '^NTFS$' ||
    { log "qsalvage does not see volume 0 as NTFS at sector $PART_START"; exit 1; }

# --------------------------------------------------------------- timing ----

# The metadata files ($MFT, $Secure:$SDS, $Extend/...) are listed in
# different ways (fls shows each named stream as a file of its own), so the
# counts that must agree leave out every path that starts with '$'.
count_fls() { # FLS_OUTPUT : allocated regular files, of them outside $..., deleted ones
    awk -F'\t' '
        $1 ~ /^r\/r / && $1 !~ /\*/ { all++; if ($2 !~ /^\$/) user++ }
        $1 ~ /\/r / && $1 ~ /\*/ { deleted++ }
        END { printf "%d %d %d\n", all, user, deleted }' "$1"
}
count_qs() { # LIST_JSON : files not deleted, of them outside $..., deleted files
    python3 - "$1" <<'EOF'
import json, sys
entries = json.load(open(sys.argv[1], encoding="utf-8"))
files = [e for e in entries if e["type"] == "file"]
live = [e for e in files if not e["deleted"]]
print(len(live), sum(not e["path"].startswith("$") for e in live), len(files) - len(live))
EOF
}
count_saved() { # FOLDER : regular files, of them outside $...
    find "$1" -type f | awk -v top="$1/" '{ all++; if (substr($0, length(top) + 1) !~ /^\$/) user++ } END { printf "%d %d\n", all, user }'
}

start_listing
run_timed "$work/list.json" "${qs_list_cmd[@]}"
log_qs_warm_up
read -r fls_all fls_user fls_deleted < <(count_fls "$work/fls.txt")
read -r qs_all qs_user qs_deleted < <(count_qs "$work/list.json")
log "   regular files: fls $fls_all ($fls_user outside \$ files, $fls_deleted deleted)," \
    "qsalvage $qs_all ($qs_user outside \$ files, $qs_deleted deleted); created and kept: $live_files"
time_listing

# Every run writes into a new empty folder, and no output is deleted before
# the last run: on ext4 without a journal, a new inode is never one freed in
# the last minute, and skipping tens of thousands of those on every create
# made a run right after an `rm -rf` of the previous output up to ten times
# slower. run_timed's sync keeps one run's writeback out of the next.
# For the log: the line of qsalvage's warm-up save that counts the files
# and the namesakes.
# shellcheck disable=SC2317  # start_saving calls it
namesakes() { echo "($(grep -ao '[0-9]* files: .*namesake' "$work/err.txt" | tail -n 1))"; }
start_saving -a namesakes
read -r tsk_saved_all tsk_saved_user < <(count_saved "$outputs/tsk-0")
read -r qs_saved_all qs_saved_user < <(count_saved "$outputs/qs-0")
log "   files saved: tsk_recover $tsk_saved_all ($tsk_saved_user outside \$ files," \
    "$(du -sm "$outputs/tsk-0" | cut -f1) MiB), qsalvage $qs_saved_all ($qs_saved_user outside \$ files," \
    "$(du -sm "$outputs/qs-0" | cut -f1) MiB)"
time_saving

# ---------------------------------------------------------------- table ----

read -r list_ratio list_verdict < <(verdict_ratio "$(min_of "${t_list[@]}")" "$(min_of "${t_fls[@]}")" "$LIST_RATIO_TARGET")
read -r save_ratio save_verdict < <(verdict_ratio "$(min_of "${t_save[@]}")" "$(min_of "${t_tsk[@]}")" "$SAVE_RATIO_TARGET")
rss_mib=$(max_rss_mib "${rss_list[@]}")
rss_verdict=$(awk -v m="$rss_mib" -v t="$RSS_TARGET_MIB" 'BEGIN { print (m < t) ? "PASS" : "FAIL" }')
within() { local d=$(( $1 - $2 )); (( d < 0 )) && d=$(( -d )); (( d <= SLACK )) && echo PASS || echo FAIL; }
list_count_verdict=$(within "$qs_user" "$fls_user")
# tsk_recover -a saves the allocated files only, qsalvage the deleted ones
# too, so qsalvage must have saved at least as many.
save_count_verdict=$( (( qs_saved_user + SLACK >= tsk_saved_user )) && echo PASS || echo FAIL)

printf '\nqsalvage vs Sleuth Kit %s, NTFS volume of %d files in %d folders (%d deleted), %d MiB MBR disk, best of %d runs\n' \
    "$(fls -V | awk '{ print $NF }')" "$made_files" "$made_folders" "$deleted_files" "$DISK_MIB" "$RUNS"
printf 'qsalvage reads disk.vhdx; fls and tsk_recover read disk.raw, the raw disk it was converted from\n'
printf '%-34s %12s %12s %8s %8s  %s\n' job sleuthkit_s qsalvage_s ratio target result
printf '%-34s %12.3f %12.3f %8s %8s  %s\n' "list  (fls -r -p | list --json)" "$(min_of "${t_fls[@]}")" \
    "$(min_of "${t_list[@]}")" "$list_ratio" "<=$LIST_RATIO_TARGET" "$list_verdict"
printf '%-34s %12.3f %12.3f %8s %8s  %s\n' "save  (tsk_recover -a | save)" "$(min_of "${t_tsk[@]}")" \
    "$(min_of "${t_save[@]}")" "$save_ratio" "<=$SAVE_RATIO_TARGET" "$save_verdict"
printf '%-34s %12s %12s %8s %8s  %s\n' "list  peak RSS (MiB)" "" "$rss_mib" "" "<$RSS_TARGET_MIB" "$rss_verdict"
printf '%-34s %12s %12s %8s %8s  %s\n' "count sleuthkit | qsalvage" fls/tsk qsalvage diff allowed check
printf '%-34s %12d %12d %8d %8s  %s\n' "      files listed, not \$ files" "$fls_user" "$qs_user" \
    "$(( qs_user - fls_user ))" "+-$SLACK" "$list_count_verdict"
printf '%-34s %12d %12d %8d\n' "      files listed, all" "$fls_all" "$qs_all" "$(( qs_all - fls_all ))"
printf '%-34s %12d %12d %8d\n' "      deleted files listed" "$fls_deleted" "$qs_deleted" "$(( qs_deleted - fls_deleted ))"
printf '%-34s %12d %12d %8d %8s  %s\n' "      files saved, not \$ files" "$tsk_saved_user" "$qs_saved_user" \
    "$(( qs_saved_user - tsk_saved_user ))" ">=-$SLACK" "$save_count_verdict"
printf '%-34s %12d %12d %8d\n' "      files saved, all" "$tsk_saved_all" "$qs_saved_all" "$(( qs_saved_all - tsk_saved_all ))"
printf 'created %d files, kept %d; tsk_recover -a saves allocated files only, qsalvage save deleted ones too\n' \
    "$made_files" "$live_files"

exit_by_verdicts "$list_verdict" "$save_verdict" "$rss_verdict" "$list_count_verdict" "$save_count_verdict"
