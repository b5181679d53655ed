#!/usr/bin/env bash
# Listing and saving a FAT32 volume of about 50 000 files: `qsalvage list`
# against Sleuth Kit's `fls -r -p`, and `qsalvage save` against
# `tsk_recover -e`, on the same volume in the same run.
#
# Usage: bench/fat.sh [QSALVAGE_BINARY]
#
# Without an argument a Release build is made (and kept, so later runs only
# rebuild what changed) in $BENCH_BUILD_DIR, default ${TMPDIR:-/tmp}/qsalvage-bench-build.
# The developer's own build/ folder is deliberately not used: it may be a
# debug or sanitizer build, which says nothing about speed.
#
# The disk is built without root: mkfs.fat writes the volume into the
# partition of a plain file and mtools fills it. The finished VHDX is kept
# in $BENCH_CACHE_DIR under a name derived from the knobs below and from the
# code that builds it, so later runs with the same knobs skip the build.
#
# Knobs (environment):
#   BENCH_FOLDERS          folders created, nested up to 4 deep  (default 50)
#   BENCH_FILES_PER_FOLDER files in each folder                 (default 1000)
#   BENCH_DISK_MIB         virtual disk size in MiB             (default 512)
#   BENCH_CLUSTER_KIB      cluster size in KiB                  (default 4)
#   BENCH_SEED             seed of the tree, names and contents (default 20240607)
#   BENCH_RUNS             timed runs per tool and job          (default 5)
#   BENCH_CACHE_DIR        where built disks are kept   (default build/bench-cache)
#   BENCH_REBUILD=1        build the disk again even if it is cached
#   BENCH_OUTPUT_DIR       where the save outputs go        (default: the temp folder)
#   BENCH_STRICT=1         also exit 3 when a target is missed
#
# Exit status: 0 every tool ran (targets may still be missed, see the
# summary), 1 a tool failed, the listings differ or a saved file is missing
# or wrong, 2 setup problem, 3 strict mode and a target missed, 4 this
# qsalvage cannot read FAT32 volumes yet (nothing is timed).
set -euo pipefail
# Decimal points in awk and printf must not depend on the user's locale.
export LC_ALL=C

readonly LIST_RATIO_TARGET=0.5
readonly SAVE_RATIO_TARGET=1.0
readonly FOLDERS=${BENCH_FOLDERS:-50}
readonly PER_FOLDER=${BENCH_FILES_PER_FOLDER:-1000}
readonly DISK_MIB=${BENCH_DISK_MIB:-512}
readonly CLUSTER_KIB=${BENCH_CLUSTER_KIB:-4}
readonly SEED=${BENCH_SEED:-20240607}
readonly RUNS=${BENCH_RUNS:-5}
readonly PART_START=2048                 # sectors; where the one partition begins

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd "$script_dir/.." && pwd)
bench_name=fat.sh
# shellcheck source=bench/lib.sh
source "$repo_root/bench/lib.sh"

# ---------------------------------------------------------------- tools ----

need qemu-img qemu-utils
need sfdisk fdisk
need mkfs.fat dosfstools
need fsck.fat dosfstools
need mcopy mtools
need mmd mtools
need fls sleuthkit
need python3 python3
need sha256sum coreutils
have_tsk_recover=0
command -v tsk_recover >/dev/null 2>&1 && have_tsk_recover=1
need_gnu_time

whole_numbers BENCH_FOLDERS BENCH_FILES_PER_FOLDER BENCH_DISK_MIB BENCH_CLUSTER_KIB BENCH_SEED BENCH_RUNS
(( RUNS >= 1 )) || die "BENCH_RUNS must be at least 1"
(( FOLDERS >= 1 && PER_FOLDER >= 1 )) || die "BENCH_FOLDERS and BENCH_FILES_PER_FOLDER must be at least 1"
case $CLUSTER_KIB in 1 | 2 | 4 | 8 | 16 | 32) ;; *) die "BENCH_CLUSTER_KIB must be 1, 2, 4, 8, 16 or 32" ;; esac
# FAT32 needs at least 65525 clusters; with fewer it would have to be FAT16.
# Most files take one cluster; one in a hundred is 8 to 64 KiB.
files_total=$(( FOLDERS * PER_FOLDER ))
used_kib_estimate=$(( files_total * CLUSTER_KIB + files_total * 45 / 100 + files_total / 3 + 8192 ))
min_disk_mib=$(( 66000 * CLUSTER_KIB / 1024 + 4 ))
(( used_kib_estimate * 11 / 10 / 1024 + 1 > min_disk_mib )) && min_disk_mib=$(( used_kib_estimate * 11 / 10 / 1024 + 1 ))
(( DISK_MIB >= min_disk_mib )) ||
    die "BENCH_DISK_MIB $DISK_MIB is too small for FAT32 with $CLUSTER_KIB KiB clusters and $files_total files; give at least $min_disk_mib"

# ------------------------------------------------------------- qsalvage ----

resolve_qsalvage "${1:-}"

# ------------------------------------------------------------ work area ----

make_work_area fat
on_exit remove_work_area
note_load

# ------------------------------------------------------------ the volume ----

# The tree: FOLDERS folders, the first fifth in the root and every other one
# under a random earlier one no deeper than 4, each holding PER_FOLDER
# files, plus a dozen files in the root. Each folder has a theme that sets
# how its files are named: camera folders mostly upper-case 8.3 names
# (a short entry only), log folders lower-case 8.3 names (a short entry
# with the case flags), document folders long names, some of them very
# long or accented or CJK (long-name entries in front of a generated short
# name). Contents are mostly 100 to 900 bytes, so the image stays small;
# one file in a hundred is 8 to 64 KiB (a cluster chain) and one in two
# hundred is empty (no cluster at all). Everything comes from the seed, so
# the tree is the same on every machine.
#
# mtools writes the files one folder at a time, in the order given, which
# keeps the layout independent of the order readdir returns the staging
# folder in. A folder's directory clusters are allocated as it grows, in
# between the clusters of its files, so large directories are fragmented
# as they are on a disk that was filled over time.
cat >"$work/populate.py" <<'EOF'
import os, random, subprocess, sys, time

stage, image, offset, nfolders, per, seed = sys.argv[1], sys.argv[2], *map(int, sys.argv[3:7])
rng = random.Random(seed)

top = ["Documents", "Pictures", "Music", "Projects", "Backup", "Downloads", "DCIM",
       "SCANS", "Work 2019", "Shared", "Archiv", "写真", "Données clients"]
sub = ["Holiday 2018", "Invoices", "Reports", "Camera Roll", "100CANON", "old", "src",
       "Übersicht", "Tax returns", "Letters", "Screenshots", "Drafts", "LOGS", "Kunden",
       "報告書", "Meeting notes", "BACKUP~1", "New folder", "2017-2018", "misc"]
themes = ["photos", "documents", "logs", "mixed"]
phrases = ["Quarterly report", "Letter to the landlord", "Budget 2021 (final), v2",
           "Meeting notes [old]", "Holiday at the beach", "Invoice no. 2019-04",
           "Project plan - draft", "Scan of passport page", "Backup of settings",
           "Copy of copy of presentation", "résumé", "Übersicht Verträge", "報告書",
           "Zusammenfassung des Jahres", "notes; to sort later"]
doc_exts = ["docx", "pdf", "xlsx", "txt", "pptx", "odt", "csv", "jpg", "zip"]

def unique(name, taken):
    base, dot, ext = name.rpartition(".")
    if not dot:
        base, ext = name, ""
    candidate, n = name, 1
    while candidate.lower() in taken:
        candidate = "%s (%d)%s" % (base, n, "." + ext if dot else "")
        n += 1
    taken.add(candidate.lower())
    return candidate

def long_name(i):
    name = "%s %05d.%s" % (rng.choice(phrases), i, rng.choice(doc_exts))
    if rng.random() < 0.1:                           # 100 to 240 characters
        words = [rng.choice(phrases) for _ in range(rng.randint(4, 9))]
        name = " - ".join(words)[:230] + " %05d.%s" % (i, rng.choice(doc_exts))
    return name

def file_name(theme, i):
    if theme == "mixed":
        theme = rng.choice(themes[:3])
    r = rng.random()
    if theme == "photos":
        if r < 0.6:
            return "IMG_%04d.JPG" % i
        if r < 0.85:
            return "DSC%05d.JPG" % i
        return "%s %04d.jpg" % (rng.choice(["Holiday at the beach", "Birthday", "Garten", "写真"]), i)
    if theme == "logs":
        if r < 0.7:
            return "app%05d.log" % i
        if r < 0.9:
            return "SRV%05d.LOG" % i
        return "service.%s.%05d.log" % (rng.choice(["web", "db", "mail"]), i)
    if r < 0.1:
        return "Memo%04d.doc" % i                  # mixed case: needs a long name
    return long_name(i)

# A block of words to cut text contents from, cheaper than making each one.
words = ("the of and to in is report total invoice date amount customer page "
         "Summe Betrag Kunde données montant 合計 12.50 2019-04-01 ; , \n").split(" ")
corpus = " ".join(rng.choice(words) for _ in range(40000)).encode()

def contents():
    r = rng.random()
    size = (0 if r < 0.005 else rng.randint(8192, 65536) if r < 0.015 else
            rng.randint(1024, 4096) if r < 0.045 else rng.randint(100, 900))
    if rng.random() < 0.5:
        start = rng.randrange(len(corpus) - size) if size else 0
        return corpus[start:start + size]
    return rng.randbytes(size)

# (path, depth, theme, names taken); the root first
folders = [("", 0, "mixed", set())]
for i in range(nfolders):
    if i < max(1, nfolders // 5):
        parent = 0
    else:
        parent = rng.choice([k for k in range(1, len(folders)) if folders[k][1] < 4])
    pool = top if parent == 0 else sub
    name = unique(pool[i % len(pool)] if parent == 0 else rng.choice(pool), folders[parent][3])
    path = os.path.join(folders[parent][0], name)
    folders.append((path, folders[parent][1] + 1, rng.choice(themes), set()))
    os.makedirs(os.path.join(stage, path))

root_names = ["desktop.ini", "AUTORUN.INF", "Read me first.txt", "notes.txt", "todo.txt",
              "Thumbs.db", "IMG_0001.JPG", "Budget 2021 (final), v2.xlsx", "résumé.pdf",
              "CONFIG.SYS", "setup.log", "報告書.docx"]
base_time = 1420070400                                 # 2015-01-01
files = {k: [] for k in range(len(folders))}
for k, (path, depth, theme, taken) in enumerate(folders):
    names = root_names if k == 0 else [file_name(theme, i) for i in range(per)]
    for name in names:
        name = unique(name, taken)
        full = os.path.join(stage, path, name)
        with open(full, "wb") as f:
            f.write(contents())
        t = base_time + rng.randrange(8 * 365 * 86400)
        os.utime(full, (t, t))
        files[k].append(name)

env = dict(os.environ, LC_ALL="C.UTF-8", MTOOLSRC="/dev/null", MTOOLS_SKIP_CHECK="1")
drive = "%s@@%d" % (image, offset)
def mtools(args, cwd):
    subprocess.run(args, cwd=cwd, env=env, stdin=subprocess.DEVNULL, check=True)

start = time.time()
if len(folders) > 1:
    mtools(["mmd", "-i", drive] + ["::/" + p for p, *_ in folders[1:]], stage)
for k, (path, *_) in enumerate(folders):
    for c in range(0, len(files[k]), 400):             # keeps the command line short
        mtools(["mcopy", "-i", drive, "-m", "-Q", "--"] + files[k][c:c + 400] + ["::/" + path + "/"],
               os.path.join(stage, path))
    if k % 10 == 0:
        print("   %2d of %d folders written, %.1f s" % (k + 1, len(folders), time.time() - start), file=sys.stderr)
print(sum(len(v) for v in files.values()), len(folders) - 1)
EOF

# Everything here goes into the cache key through `declare -f`, so a change
# to how the disk is made can never reuse a disk made the old way.
build_disk() { # RAW : sets made_files, made_folders
    local raw=$1 part_sectors=$(( DISK_MIB * 2048 - PART_START ))
    truncate -s "$(( DISK_MIB * 1024 * 1024 ))" "$raw"
    printf 'label: dos\nlabel-id: 0x51a1be4c\nstart=%d, type=c\n' "$PART_START" | sfdisk --quiet "$raw" >/dev/null
    # -h: the boot sector must count the sectors in front of the partition,
    # as a volume formatted inside its partition does.
    mkfs.fat -F 32 -S 512 -s $(( CLUSTER_KIB * 2 )) -h "$PART_START" --offset "$PART_START" \
        -n QSBENCH --invariant "$raw" $(( part_sectors / 2 )) >"$work/mkfs.log" 2>&1 ||
        { cat "$work/mkfs.log" >&2; die "mkfs.fat failed"; }
    mkdir "$work/stage"
    read -r made_files made_folders < <(
        python3 "$work/populate.py" "$work/stage" "$raw" $(( PART_START * 512 )) "$FOLDERS" "$PER_FOLDER" "$SEED")
    rm -rf -- "$work/stage"
    # An independent check of what mtools wrote, on a copy of the partition.
    dd if="$raw" of="$work/part.raw" bs=1M skip=$(( PART_START / 2048 )) conv=sparse status=none
    fsck.fat -n "$work/part.raw" >"$work/fsck.log" 2>&1 ||
        { cat "$work/fsck.log" >&2; die "fsck.fat finds errors in the volume mtools wrote"; }
    rm -f -- "$work/part.raw"
}

# What the build says about the new disk, for the log; and, for image.txt,
# the versions of the tools that made it.
describe_disk() { # RAW
    log "   $made_files files in $made_folders folders; $(MTOOLSRC=/dev/null MTOOLS_SKIP_CHECK=1 \
        mdir -i "$1@@$(( PART_START * 512 ))" ::/ 2>/dev/null | awk '/bytes free/ { gsub(/[^0-9]/, ""); printf "%.0f MiB free", $0 / 1048576 }')"
    echo "$(head -n 1 "$work/mkfs.log"), $(mcopy --version | head -n 1), $(qemu-img --version | head -n 1)"
}

params="folders=$FOLDERS per_folder=$PER_FOLDER disk_mib=$DISK_MIB cluster_kib=$CLUSTER_KIB seed=$SEED part_start=$PART_START"
key=$( { echo "$params"; declare -f build_disk; cat "$work/populate.py"; } | sha256sum | cut -c1-16)
cached_disk fat "$key" $(( used_kib_estimate * 4 / 1024 )) \
    "building a ${DISK_MIB} MiB MBR disk, FAT32 partition at sector $PART_START, $CLUSTER_KIB KiB clusters, $FOLDERS folders of $PER_FOLDER files"
raw_from_vhdx

volume_0_is '^FAT32$' || fail "qsalvage does not see volume 0 as FAT32 at sector $PART_START"

# --------------------------------------------------------------- timing ----

# Files, not folders: fls's virtual entries ($MBR, $FAT1, $FAT2, the
# $OrphanFiles folder) and the volume label's directory entry are no files.
# Prints: files, of them deleted.
count_fls() { # FLS_OUTPUT
    awk -F'\t' '
        { split($1, t, " ") }
        t[1] ~ /^[dvV]\// || $2 ~ /^\$/ || $2 ~ / \(Volume Label Entry\)$/ { next }
        { files++; if ($1 ~ /\*/) deleted++ }
        END { printf "%d %d\n", files, deleted }' "$1"
}
count_qs() { # LIST_JSON
    python3 - "$1" <<'EOF'
import json, sys
files = [e for e in json.load(open(sys.argv[1], encoding="utf-8")) if e["type"] == "file"]
print(len(files), sum(bool(e["deleted"]) for e in files))
EOF
}
# Sleuth Kit shows some names differently from what the volume holds: it
# cuts some long names short ("... draft 000" for "... draft 00053.xlsx")
# and prints a non-ASCII character of an 8.3 name as "^" ("r^sum^.pdf").
# So a path that only it has is paired with one in the same folder that it
# would print that way.
cat >"$work/pairs.py" <<'EOF'
import os, re
def sleuthkit_form(p, q):
    if len(q) > len(p) and q.startswith(p):
        return True
    return "^" in p and re.fullmatch(re.escape(p).replace(r"\^", "[^\x00-\x7f]"), q) is not None
def pair_mangled(theirs, ours, same=lambda a, b: True):
    """Removes from both sets the paths Sleuth Kit shows differently; returns how many."""
    by_folder = {}
    for q in ours - theirs:
        by_folder.setdefault(os.path.dirname(q), []).append(q)
    mangled = 0
    for p in sorted(theirs - ours):
        for q in by_folder.get(os.path.dirname(p), []):
            if q in ours and sleuthkit_form(p, q) and same(p, q):
                theirs.discard(p)
                ours.discard(q)
                mangled += 1
                break
    return mangled
EOF
# When the counts differ, the paths that only one side has say why.
show_difference() { # FLS_OUTPUT LIST_JSON
    python3 - "$work" "$1" "$2" <<'EOF' >&2
import json, sys
sys.path.insert(0, sys.argv[1])
from pairs import pair_mangled
fls = set()
for line in open(sys.argv[2], encoding="utf-8", errors="replace"):
    kind, _, path = line.rstrip("\n").partition("\t")
    if kind[:1] in "dvV" or path.startswith("$") or path.endswith(" (Volume Label Entry)"):
        continue
    fls.add(path)
qs = {e["path"] for e in json.load(open(sys.argv[3], encoding="utf-8")) if e["type"] == "file"}
print("   %d names fls shows differently (cut short, or ^ in an 8.3 name)" % pair_mangled(fls, qs))
for title, paths in (("only fls lists", fls - qs), ("only qsalvage lists", qs - fls)):
    print("   %s %d files%s" % (title, len(paths), ", e.g.:" if paths else ""))
    for p in sorted(paths)[:10]:
        print("      " + p)
EOF
}
# Every file tsk_recover saved must be in qsalvage's output with the same
# bytes; qsalvage may save more (tsk_recover leaves out empty files).
# Prints: files tsk_recover saved, files qsalvage saved, of tsk_recover's
# the ones under a name it shows differently, and the ones missing or
# different in qsalvage's output.
compare_saved() { # TSK_FOLDER QS_FOLDER
    python3 - "$work" "$1" "$2" <<'EOF'
import filecmp, os, sys
sys.path.insert(0, sys.argv[1])
from pairs import pair_mangled
tsk_top, qs_top = sys.argv[2], sys.argv[3]
def files(top):
    return {os.path.relpath(os.path.join(d, f), top) for d, _, fs in os.walk(top) for f in fs}
def same(p, q):
    return filecmp.cmp(os.path.join(tsk_top, p), os.path.join(qs_top, q), shallow=False)
tsk, qs = files(tsk_top), files(qs_top)
ntsk, nqs = len(tsk), len(qs)
bad = sorted(p for p in tsk & qs if not same(p, p))
mangled = pair_mangled(tsk, qs, same)
bad += sorted(tsk - qs)
for p in bad[:10]:
    print("   missing or different in qsalvage's output: " + p, file=sys.stderr)
print(ntsk, nqs, mangled, len(bad))
EOF
}

start_listing
read -r fls_files fls_deleted < <(count_fls "$work/fls.txt")
log "   fls lists $fls_files files ($fls_deleted deleted); created: $made_files"
# If Sleuth Kit does not see every file that was written, the disk is wrong,
# and no comparison on it would mean anything.
(( fls_files == made_files && fls_deleted == 0 )) ||
    fail "fls lists $fls_files files ($fls_deleted deleted) on a disk made with $made_files; remove $cached and run again"

warm_up_list FAT32
time_listing

if (( have_tsk_recover )); then
    start_saving -e
    read -r tsk_saved qs_saved saved_mangled saved_bad < <(compare_saved "$outputs/tsk-0" "$outputs/qs-0")
    log "   files saved: tsk_recover $tsk_saved ($saved_mangled of them under a name cut short or with ^), qsalvage $qs_saved;" \
        "of tsk_recover's, $saved_bad missing or different in qsalvage's output"
    time_saving
else
    log ""
    log "note: tsk_recover is missing (Debian package: sleuthkit); save is not timed"
fi

# -------------------------------------------------------------- summary ----

printf '\nqsalvage vs Sleuth Kit %s, FAT32 volume of %d files in %d folders, %d KiB clusters, %d MiB MBR disk, best of %d runs\n' \
    "$(fls -V | awk '{ print $NF }')" "$made_files" "$made_folders" "$CLUSTER_KIB" "$DISK_MIB" "$RUNS"
print_list_summary
if (( have_tsk_recover )); then
    print_save_timing
    printf "save: files saved: qsalvage %d, tsk_recover %d (it skips empty files; %d under a name cut short or with ^);" \
        "$qs_saved" "$tsk_saved" "$saved_mangled"
    printf " of tsk_recover's, %d missing or different in qsalvage's output %s\n" "$saved_bad" "$save_check"
fi

# A save that lost or changed files is a bug to fix before any speed counts.
if (( have_tsk_recover && saved_bad > 0 )); then
    exit 1
fi
exit_by_verdicts "${verdicts[@]}"
