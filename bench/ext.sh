#!/usr/bin/env bash
# Listing and saving an ext4 volume of about 100 000 files: `qsalvage list`
# against Sleuth Kit's `fls -r -p`, and `qsalvage save` against
# `tsk_recover -a`, on the same volume in the same run.
#
# Usage: bench/ext.sh [QSALVAGE_BINARY]
#
# Without an argument a Release build is made (and kept, so later runs only
# rebuild what changed) in $BENCH_BUILD_DIR, default ${TMPDIR:-/tmp}/qsalvage-bench-build.
# The developer's own build/ folder is deliberately not used: it may be a
# debug or sanitizer build, which says nothing about speed.
#
# The disk is built without root or a mount: the files are written into a
# staging folder and `mke2fs -d` copies them into a volume it makes inside
# the partition of a plain file. The finished VHDX is kept in
# $BENCH_CACHE_DIR under a name derived from the knobs below, from the code
# that builds it and from this machine's mke2fs defaults, so later runs
# with the same knobs skip the build.
#
# Knobs (environment):
#   BENCH_FOLDERS          folders created, nested up to 4 deep  (default 100)
#   BENCH_FILES_PER_FOLDER files in each folder                 (default 1000)
#   BENCH_DISK_MIB         virtual disk size in MiB             (default 2048)
#   BENCH_BLOCK_KIB        ext4 block size in KiB: 1, 2 or 4    (default 4)
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
# qsalvage cannot read ext volumes yet (nothing is timed).
set -euo pipefail
# Decimal points in awk and printf must not depend on the user's locale.
export LC_ALL=C

readonly LIST_RATIO_TARGET=0.5
readonly SAVE_RATIO_TARGET=1.0
readonly FOLDERS=${BENCH_FOLDERS:-100}
readonly PER_FOLDER=${BENCH_FILES_PER_FOLDER:-1000}
readonly DISK_MIB=${BENCH_DISK_MIB:-2048}
readonly BLOCK_KIB=${BENCH_BLOCK_KIB:-4}
readonly SEED=${BENCH_SEED:-20240607}
readonly RUNS=${BENCH_RUNS:-5}
readonly PART_START=2048                 # sectors; where the one partition begins
# Fixed, so that the directory hashes, and with them the order of the
# entries in every indexed folder, are the same on every machine.
readonly FS_UUID=6a1e1d0c-0b5e-4c3a-9d1f-5a1b2c3d4e5f

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd "$script_dir/.." && pwd)
bench_name=ext.sh
# shellcheck source=bench/lib.sh
source "$repo_root/bench/lib.sh"

# ---------------------------------------------------------------- tools ----

need qemu-img qemu-utils
need sfdisk fdisk
need mke2fs e2fsprogs
need e2fsck e2fsprogs
need dumpe2fs e2fsprogs
need fls sleuthkit
need python3 python3
need sha256sum coreutils
have_tsk_recover=0
command -v tsk_recover >/dev/null 2>&1 && have_tsk_recover=1
need_gnu_time

whole_numbers BENCH_FOLDERS BENCH_FILES_PER_FOLDER BENCH_DISK_MIB BENCH_BLOCK_KIB BENCH_SEED BENCH_RUNS
(( RUNS >= 1 )) || die "BENCH_RUNS must be at least 1"
(( FOLDERS >= 1 && PER_FOLDER >= 1 )) || die "BENCH_FOLDERS and BENCH_FILES_PER_FOLDER must be at least 1"
case $BLOCK_KIB in 1 | 2 | 4) ;; *) die "BENCH_BLOCK_KIB must be 1, 2 or 4" ;; esac

# mke2fs takes its defaults (features, inode size, one inode per so many
# bytes) from this file, so it shapes the disk as much as the knobs do.
mke2fs_conf=${MKE2FS_CONFIG:-/etc/mke2fs.conf}
inode_ratio=$(awk -F= '/^[[:space:]]*inode_ratio[[:space:]]*=/ { gsub(/[[:space:]]/, "", $2); print $2; exit }' \
    "$mke2fs_conf" 2>/dev/null || true)
[[ $inode_ratio =~ ^[0-9]+$ ]] || inode_ratio=16384
# Every file and folder needs an inode, and mke2fs gives one per
# inode_ratio bytes of volume. Most files take one block; one in a hundred
# is 8 to 256 KiB; the inode tables take 256 bytes an inode, the journal
# up to 64 MiB.
files_total=$(( FOLDERS * PER_FOLDER + 12 ))
used_kib_estimate=$(( files_total * (BLOCK_KIB + 2) + files_total * 136 / 100
    + DISK_MIB * 1024 / (inode_ratio / 256) + 65536 ))
min_disk_mib=$(( (files_total + FOLDERS + 16) * 105 * inode_ratio / 100 / 1048576 + 1 ))
(( used_kib_estimate * 12 / 10 / 1024 + 1 > min_disk_mib )) && min_disk_mib=$(( used_kib_estimate * 12 / 10 / 1024 + 1 ))
(( DISK_MIB >= min_disk_mib )) ||
    die "BENCH_DISK_MIB $DISK_MIB is too small for $files_total files (one inode per $inode_ratio bytes); give at least $min_disk_mib"

# ------------------------------------------------------------- qsalvage ----

resolve_qsalvage "${1:-}"

# ------------------------------------------------------------ work area ----

make_work_area ext
on_exit remove_work_area
# e2fsck and dumpe2fs take "FILE?offset=N"; a "?" in the folder's own
# name would be read as the start of those options.
[[ $work != *'?'* ]] || die "the temp folder $work has a '?' in its name; set TMPDIR to another one"
note_load

# ------------------------------------------------------------ the volume ----

# The tree: FOLDERS folders, the first fifth in the root and every other one
# under a random earlier one no deeper than 4, each holding PER_FOLDER
# files, plus a dozen files in the root. Each folder has a theme that sets
# how its files are named (camera, logs, source code, music, documents).
# Names are UTF-8; about one in ten has non-ASCII characters (accented,
# Cyrillic, Greek, CJK, emoji outside the Basic Multilingual Plane), a few
# of those in decomposed form as a Mac writes them, and one in fifty
# is a long chain of phrases, many of them exactly 255 bytes, the most a
# name can hold. Names differing only in case are different files here,
# and the root has such a pair. Names keep to characters every file system
# the save outputs may go to accepts (no "\", ":", "*" and the like), and
# none starts with "$", which fls uses for its own entries.
#
# Contents are mostly 100 to 900 bytes, so the image stays small; 3 % are
# 1 to 4 KiB, 1 % are 8 to 256 KiB, one in ten of those sparse with its data
# in 5 to 12 runs (more extents than fit in the inode, so the file gets an
# extent tree block), and 0.2 % are empty. No symbolic links, hard links or
# device files: qsalvage lists every entry that is not a folder as a file,
# fls does not, and the counts would say nothing.
#
# mke2fs -d copies the staging folder in sorted order, so the layout does
# not depend on the order readdir returns it in. Everything comes from the
# seed, so the tree is the same on every machine.
cat >"$work/populate.py" <<'EOF'
import os, random, sys, unicodedata

stage, nfolders, per, seed = sys.argv[1], *map(int, sys.argv[2:5])
rng = random.Random(seed)
NAME_MAX = 255                                   # bytes of UTF-8, not characters

top = ["Documents", "Pictures", "Music", "projects", "Downloads", "Backup", ".cache",
       "Desktop", "Work 2019", "Shared", "写真", "Données clients", "Фотографии", "Archiv"]
sub = ["Holiday 2018", "Invoices", "Reports", "Camera", "old", "src", "Übersicht", "Tax returns",
       "Letters", "Screenshots", "drafts", "logs", "Kunden", "報告書", "Meeting notes", "New folder",
       "2017-2018", "misc", "build", ".git", "Été à Montréal", "Ελληνικά", "🎵 playlists"]
themes = ["photos", "documents", "logs", "code", "music", "mixed"]
phrases = ["Quarterly report", "Letter to the landlord", "Budget 2021 (final), v2",
           "Meeting notes [old]", "Holiday at the beach", "Invoice no. 2019-04",
           "Project plan - draft", "Scan of passport page", "Backup of settings",
           "Copy of copy of presentation", "Tom's notes", "100% done", "a+b=c",
           "notes; to sort later", "Summary of the year", "Offer & terms (#final)"]
intl_phrases = ["résumé", "Übersicht Verträge", "報告書", "Отчёт за квартал",
                "façade & intérieur", "年度計画 第2版", "Περίληψη", "Zusammenfassung für Jürgen"]
doc_exts = ["docx", "pdf", "xlsx", "txt", "pptx", "odt", "csv", "md", "tar.gz"]
code_words = ["main", "util", "parser", "test_io", "config", "README", "helpers", "index",
              "schema", "__init__", "Makefile", "build", "setup"]
code_exts = ["py", "c", "h", "cpp", "js", "json", "sh", "rs", "go", "yml"]
artists = ["The Beatles", "Ludovico Einaudi", "Daft Punk", "Miles Davis", "Pink Floyd",
           "Nina Simone", "Radiohead", "Johnny Cash"]
intl_artists = ["Björk", "Sigur Rós", "坂本龍一", "Motörhead", "Beyoncé", "Алла Пугачёва"]
emoji = ["🎂", "🏖️", "📷", "🐈", "❤️"]

def phrase():
    return rng.choice(intl_phrases) if rng.random() < 0.15 else rng.choice(phrases)

def fit(base, tail):
    """base + tail cut to NAME_MAX bytes, on a character boundary of base."""
    room = NAME_MAX - len(tail.encode())
    return base.encode()[:room].decode(errors="ignore") + tail

def long_name(i, ext):
    tail = " %05d.%s" % (i, ext)
    base = " - ".join(phrase() for _ in range(rng.randint(5, 14)))
    if rng.random() < 0.3:
        # Exactly as long as a name can be; a multi-byte character cut off
        # at the end leaves up to three bytes to fill.
        while len(base.encode()) < NAME_MAX:
            base += " - " + phrase()
        name = fit(base, tail)
        return name[:-len(tail)] + "x" * (NAME_MAX - len(name.encode())) + tail
    return fit(base[:rng.randint(80, 240)], tail)

def file_name(theme, i):
    if theme == "mixed":
        theme = rng.choice(themes[:5])
    r = rng.random()
    if theme == "photos":
        if r < 0.55:
            return "IMG_%d%02d%02d_%06d.jpg" % (rng.randint(2015, 2022), rng.randint(1, 12), rng.randint(1, 28), i)
        if r < 0.85:
            return "DSC%05d.JPG" % i
        if r < 0.97:
            return "%s %04d.jpg" % (rng.choice(["Holiday at the beach", "Birthday", "Garden", "写真", "Été"]), i)
        return "%s %s %04d.heic" % (rng.choice(emoji), rng.choice(["Birthday", "Beach", "Cat"]), i)
    if theme == "logs":
        if r < 0.6:
            return "app.log.%05d" % i
        if r < 0.9:
            return "syslog.%05d.gz" % i
        return "service-%s-%05d.log" % (rng.choice(["web", "db", "mail"]), i)
    if theme == "code":
        if r < 0.05:
            return ".%s_%05d" % (rng.choice(["gitignore", "env", "editorconfig"]), i)
        return "%s_%05d.%s" % (rng.choice(code_words), i, rng.choice(code_exts))
    if theme == "music":
        artist = rng.choice(intl_artists) if r < 0.2 else rng.choice(artists)
        return "%02d - %s - Track %05d.%s" % (i % 20 + 1, artist, i, rng.choice(["flac", "mp3", "ogg"]))
    ext = rng.choice(doc_exts)
    if r < 0.1:
        return long_name(i, ext)
    name = "%s %05d.%s" % (phrase(), i, ext)
    if r < 0.12:
        # As copied from a Mac: accents as separate combining characters.
        name = unicodedata.normalize("NFD", name)
    return name

def unique(name, taken):
    stem, dot, ext = name.rpartition(".")
    if not dot:
        stem, ext = name, ""
    candidate, n = name, 1
    while candidate in taken:
        candidate = fit("%s (%d)" % (stem, n), "." + ext if dot else "")
        n += 1
    taken.add(candidate)
    return candidate

# A block of words to cut text contents from, cheaper than making each one.
words = ("the of and to in is report total invoice date amount customer page "
         "Summe Betrag Kunde données montant 合計 12.50 2019-04-01 ; , \n").split(" ")
corpus = " ".join(rng.choice(words) for _ in range(120000)).encode()
RUN = 4096                           # the runs of a sparse file are this aligned

def write_contents(path):
    r = rng.random()
    if r < 0.002:
        size = 0
    elif r < 0.012:
        size = rng.randint(8192, 262144)
        if rng.random() < 0.1:
            runs = rng.randint(5, 12)
            step = max(size // runs // RUN, 2) * RUN
            with open(path, "wb") as f:
                for k in range(runs):
                    f.seek(k * step)
                    f.write(rng.randbytes(rng.randint(1, step // RUN - 1) * RUN - rng.randrange(RUN)))
                f.truncate(runs * step + rng.randrange(RUN))   # ends in a hole
            return
    elif r < 0.042:
        size = rng.randint(1024, 4096)
    else:
        size = rng.randint(100, 900)
    with open(path, "wb") as f:
        if rng.random() < 0.5:
            start = rng.randrange(len(corpus) - size)
            f.write(corpus[start:start + size])
        else:
            f.write(rng.randbytes(size))

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

root_names = ["notes.txt", "Notes.txt", "README", ".bashrc", ".profile", "todo.txt",
              "Budget 2021 (final), v2.xlsx", "résumé.pdf", "報告書.docx", "setup.log",
              "Отчёт.odt", "🙂.txt"]
base_time = 1420070400                                 # 2015-01-01
count = 0
for k, (path, depth, theme, taken) in enumerate(folders):
    names = root_names if k == 0 else [file_name(theme, i) for i in range(per)]
    for name in names:
        full = os.path.join(stage, path, unique(name, taken))
        write_contents(full)
        r = rng.random()
        os.chmod(full, 0o600 if r < 0.05 else 0o755 if r < 0.1 else 0o644)
        t = base_time + rng.randrange(8 * 365 * 86400)
        os.utime(full, (t + rng.randrange(30 * 86400), t))
        count += 1
# Deepest first: creating the files and folders above changed them.
for path, *_ in sorted(folders[1:], key=lambda f: -f[1]):
    t = base_time + rng.randrange(8 * 365 * 86400)
    os.utime(os.path.join(stage, path), (t, t))
print(count, len(folders) - 1)
EOF

# Everything here goes into the cache key through `declare -f`, so a change
# to how the disk is made can never reuse a disk made the old way.
build_disk() { # RAW : sets made_files, made_folders
    local raw=$1 part_sectors=$(( DISK_MIB * 2048 - PART_START )) fs="$1?offset=$(( PART_START * 512 ))"
    truncate -s "$(( DISK_MIB * 1024 * 1024 ))" "$raw"
    printf 'label: dos\nlabel-id: 0x51a1be4e\nstart=%d, type=83\n' "$PART_START" | sfdisk --quiet "$raw" >/dev/null
    # The staging folder stays until the exit trap: deleting 100 000 files
    # right before the save runs slows down creating files on the same file
    # system for the next minute (see the README), the save runs included.
    mkdir "$work/stage"
    # In the foreground, not in a process substitution, so that the exit
    # trap never deletes the folder while it is still being written.
    python3 "$work/populate.py" "$work/stage" "$FOLDERS" "$PER_FOLDER" "$SEED" >"$work/made.txt" ||
        die "making the tree in $work/stage failed"
    read -r made_files made_folders <"$work/made.txt"
    # Default features, written straight into the partition; nothing to mount.
    mke2fs -F -t ext4 -b $(( BLOCK_KIB * 1024 )) -L QSBENCH -U "$FS_UUID" \
        -E "offset=$(( PART_START * 512 )),hash_seed=$FS_UUID" -d "$work/stage" \
        "$raw" $(( part_sectors / (BLOCK_KIB * 2) )) </dev/null >"$work/mkfs.log" 2>&1 ||
        { cat "$work/mkfs.log" >&2
          grep -q 'Could not allocate inode' "$work/mkfs.log" && die "mke2fs ran out of inodes; give a larger BENCH_DISK_MIB"
          die "mke2fs failed"; }
    # mke2fs -d leaves every folder a plain list of entries; the kernel
    # gives a folder a hash index as soon as it outgrows one block, so a
    # volume filled by Linux has its large folders indexed. e2fsck -D
    # indexes them the same way (0: nothing to do, 1: it changed something).
    e2fsck -fyD "$fs" >"$work/fsck.log" 2>&1 || (( $? == 1 )) ||
        { cat "$work/fsck.log" >&2; die "e2fsck -D failed"; }
    # An independent check of the finished volume.
    e2fsck -fn "$fs" >"$work/fsck.log" 2>&1 ||
        { cat "$work/fsck.log" >&2; die "e2fsck finds errors in the volume mke2fs wrote"; }
}

# What the build says about the new disk, for the log; and, for image.txt,
# the versions of the tools that made it and the volume's features.
describe_disk() { # RAW
    local features
    features=$(dumpe2fs -h "$1?offset=$(( PART_START * 512 ))" 2>/dev/null | sed -n 's/^Filesystem features: *//p')
    log "   $made_files files in $made_folders folders; $(tail -n 1 "$work/fsck.log" | sed 's/^[^:]*: //')"
    log "   features: $features"
    echo "$(mke2fs -V 2>&1 | head -n 1), $(qemu-img --version | head -n 1)"
    echo "features: $features"
}

params="folders=$FOLDERS per_folder=$PER_FOLDER disk_mib=$DISK_MIB block_kib=$BLOCK_KIB seed=$SEED part_start=$PART_START"
key=$( { echo "$params"; mke2fs -V 2>&1 | head -n 1; cat "$mke2fs_conf" 2>/dev/null || true
         declare -f build_disk; cat "$work/populate.py"; } | sha256sum | cut -c1-16)
# Room for the staging folder, the raw disk and the VHDX.
cached_disk ext "$key" $(( used_kib_estimate * 3 / 1024 )) \
    "building a ${DISK_MIB} MiB MBR disk, ext4 partition at sector $PART_START, $BLOCK_KIB KiB blocks, $FOLDERS folders of $PER_FOLDER files"
raw_from_vhdx

# qsalvage labels it extX (one reader for ext2, ext3 and ext4); any ext label will do.
volume_0_is '^[Ee][Xx][Tt]' || fail "qsalvage does not see volume 0 as ext at sector $PART_START"

# --------------------------------------------------------------- timing ----

# Regular files (fls: "r/r", or "-/r" and "r/-" for a deleted entry whose
# name or inode is gone), leaving out fls's virtual entries and whatever it
# shows under $OrphanFiles. Nothing on this volume was deleted, but fls
# reads deleted-looking entries out of the hash-index blocks of the large
# folders (garbage names shown as "^"), so only the allocated ones count.
# Prints: allocated files, deleted-looking ones.
count_fls() { # FLS_OUTPUT
    awk -F'\t' '
        { split($1, t, " ") }
        t[1] !~ /^r\/|\/r$/ || $2 ~ /^\$OrphanFiles(\/|$)/ { next }
        $1 ~ /\*/ { deleted++; next }
        { files++ }
        END { printf "%d %d\n", files, deleted }' "$1"
}
count_qs() { # LIST_JSON
    python3 - "$1" <<'EOF'
import json, sys
files = [e for e in json.load(open(sys.argv[1], encoding="utf-8")) if e["type"] == "file"]
deleted = sum(bool(e["deleted"]) for e in files)
print(len(files) - deleted, deleted)
EOF
}
# When the counts differ, the paths that only one side has say why.
show_difference() { # FLS_OUTPUT LIST_JSON
    python3 - "$1" "$2" <<'EOF' >&2
import json, re, sys
fls = set()
for line in open(sys.argv[1], encoding="utf-8", errors="surrogateescape"):
    kind, _, path = line.rstrip("\n").partition("\t")
    t = kind.split(" ")
    if not re.search(r"^r/|/r$", t[0]) or "*" in kind or re.match(r"\$OrphanFiles(/|$)", path):
        continue
    fls.add(path)
qs = {e["path"] for e in json.load(open(sys.argv[2], encoding="utf-8"))
      if e["type"] == "file" and not e["deleted"]}
for title, paths in (("only fls lists", fls - qs), ("only qsalvage lists", qs - fls)):
    print("   %s %d files%s" % (title, len(paths), ", e.g.:" if paths else ""))
    for p in sorted(paths)[:10]:
        print("      " + p.encode("utf-8", "surrogateescape").decode("utf-8", "replace"))
EOF
}
# Every file tsk_recover saved must be in qsalvage's output with the same
# bytes; qsalvage may save more (tsk_recover leaves out empty files).
# tsk_recover writes names as stored. qsalvage writes "%" in a name as
# "%25" (and "\", control characters and a trailing "." as %XX), so that
# its escapes can be told from the name; a name that grows past 255 bytes
# that way is cut and ends in "~" and a hash of the whole. So a path is
# looked up escaped, and one that had to be cut is paired with a qsalvage
# file in the same folder whose name, less the tag, begins it.
# Prints: files tsk_recover saved, files qsalvage saved, of qsalvage's the
# ones tsk_recover did not save and of those the empty ones, of
# tsk_recover's the ones under a name qsalvage had to cut, and the ones
# missing or different in qsalvage's output.
compare_saved() { # TSK_FOLDER QS_FOLDER
    python3 - "$1" "$2" <<'EOF'
import filecmp, os, re, sys
tsk_top, qs_top = sys.argv[1], sys.argv[2]
def files(top):
    return {os.path.relpath(os.path.join(d, f), top) for d, _, fs in os.walk(top) for f in fs}
def escaped(component):
    raw = component.encode("utf-8", "surrogateescape")
    raw = re.sub(rb"[%\\\x00-\x1f\x7f]", lambda m: b"%%%02X" % m.group()[0], raw)
    if raw.endswith(b"."):
        raw = raw[:-1] + b"%2E"
    return raw.decode("utf-8", "surrogateescape")
def same(p, q):
    return filecmp.cmp(os.path.join(tsk_top, p), os.path.join(qs_top, q), shallow=False)
tsk, qs = files(tsk_top), files(qs_top)
matched, cut, bad = set(), 0, []
by_folder = {}
for q in qs:
    by_folder.setdefault(os.path.dirname(q), []).append(q)
for p in sorted(tsk):
    q = "/".join(escaped(c) for c in p.split("/"))
    if q in qs:
        matched.add(q)
        if not same(p, q):
            bad.append(p)
        continue
    folder, name = os.path.split(q)
    if len(name.encode("utf-8", "surrogateescape")) > 255:
        for c in by_folder.get(folder, []):
            stem = re.sub(r"~[0-9A-F]{8}$", "", os.path.basename(c))
            if c not in matched and stem != os.path.basename(c) and name.startswith(stem) and same(p, c):
                matched.add(c)
                cut += 1
                break
        else:
            bad.append(p)
        continue
    bad.append(p)
extra = qs - matched
extra_empty = sum(os.path.getsize(os.path.join(qs_top, p)) == 0 for p in extra)
for p in bad[:10]:
    print("   missing or different in qsalvage's output: "
          + p.encode("utf-8", "surrogateescape").decode("utf-8", "replace"), file=sys.stderr)
print(len(tsk), len(qs), len(extra), extra_empty, cut, len(bad))
EOF
}

start_listing
read -r fls_files fls_deleted < <(count_fls "$work/fls.txt")
log "   fls lists $fls_files files, and $fls_deleted deleted-looking entries from hash-index blocks; created: $made_files"
# If Sleuth Kit does not see every file that was written, the disk is wrong,
# and no comparison on it would mean anything.
(( fls_files == made_files )) ||
    fail "fls lists $fls_files files on a disk made with $made_files; remove $cached and run again"

warm_up_list ext
(( qs_deleted == 0 )) ||
    log "   note: nothing was deleted on this volume, yet qsalvage lists $qs_deleted deleted files"
time_listing

if (( have_tsk_recover )); then
    start_saving -a
    read -r tsk_saved qs_saved qs_extra qs_extra_empty saved_cut saved_bad < <(compare_saved "$outputs/tsk-0" "$outputs/qs-0")
    log "   files saved: tsk_recover $tsk_saved, qsalvage $qs_saved ($qs_extra that tsk_recover did not save, $qs_extra_empty of them empty);" \
        "of tsk_recover's, $saved_cut under a name qsalvage had to cut, $saved_bad missing or different in qsalvage's output"
    time_saving
else
    log ""
    log "note: tsk_recover is missing (Debian package: sleuthkit); save is not timed"
fi

# -------------------------------------------------------------- summary ----

printf '\nqsalvage vs Sleuth Kit %s, ext4 volume of %d files in %d folders, %d KiB blocks, %d MiB MBR disk, best of %d runs\n' \
    "$(fls -V | awk '{ print $NF }')" "$made_files" "$made_folders" "$BLOCK_KIB" "$DISK_MIB" "$RUNS"
print_list_summary
if (( have_tsk_recover )); then
    print_save_timing
    printf "save: files saved: qsalvage %d, tsk_recover %d, created %d (it skips empty files; qsalvage saved %d it did not, %d of them empty);" \
        "$qs_saved" "$tsk_saved" "$made_files" "$qs_extra" "$qs_extra_empty"
    printf " of tsk_recover's, %d under a name qsalvage had to cut, %d missing or different in qsalvage's output %s\n" \
        "$saved_cut" "$saved_bad" "$save_check"
fi

# A save that lost or changed files is a bug to fix before any speed counts.
if (( have_tsk_recover && saved_bad > 0 )); then
    exit 1
fi
exit_by_verdicts "${verdicts[@]}"
