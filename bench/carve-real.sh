#!/usr/bin/env bash
# Carving a disk as people lose them: `qsalvage carve` against PhotoRec on
# one raw disk with an MBR and four volumes made by the file systems' own
# tools (ext2, ext4, FAT32, NTFS), holding files of every kind made by the
# programs that make them (photos with EXIF thumbnails, office documents,
# audio, video, archives, programs, scripts, mail), some of them deleted,
# some fragmented. Two figures count: recall, how many of the placed files
# each tool writes out byte for byte (matched by SHA-256, whatever the
# output file is called), per kind and in all; and the time of the scan.
#
# Usage: bench/carve-real.sh [QSALVAGE_BINARY]
#
# Without an argument a Release build is made (and kept) in
# $BENCH_BUILD_DIR, as for the other benchmarks (see bench/README.md).
#
# The disk is made by bench/carve-real-make.py and kept in $BENCH_CACHE_DIR,
# with the list of the files on it, under a name derived from the knobs and
# from the code that builds it, so later runs with the same knobs skip the
# build.
#
# Knobs (environment):
#   BENCH_VOLUME_MIB   size of each of the four volumes in MiB   (default 90)
#   BENCH_SEED         seed of the files and the layout          (default 20240607)
#   BENCH_RUNS         timed runs per tool; the best counts      (default 1)
#   BENCH_CACHE_DIR    where built disks are kept   (default build/bench-cache)
#   BENCH_REBUILD=1    build the disk again even if it is cached
#   BENCH_OUTPUT_DIR   where the carved files go      (default: the temp folder)
#   BENCH_BUILD_DIR    where the no-argument build goes
#   BENCH_STRICT=1     also exit 3 when a target is missed
#
# Exit status: 0 both tools ran (targets may still be missed, see the last
# line), 1 a tool failed, 2 setup problem, 3 strict mode and a target missed.
# shellcheck disable=SC2317  # the timing functions run through alternate
set -euo pipefail
export LC_ALL=C

readonly RATIO_TARGET=0.25
readonly VOLUME_MIB=${BENCH_VOLUME_MIB:-90}
readonly SEED=${BENCH_SEED:-20240607}
readonly RUNS=${BENCH_RUNS:-1}
# Every PhotoRec family, in paranoid mode, keeping no file it found broken.
readonly PR_OPTS=partition_none,options,paranoid,keep_corrupted_file_no,fileopt,everything,enable,search

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd "$script_dir/.." && pwd)
bench_name=carve-real.sh
# shellcheck source=bench/lib.sh
source "$repo_root/bench/lib.sh"

# ---------------------------------------------------------------- tools ----

# The programs that make the files and the file systems. Root gets the
# missing ones installed from Debian; anyone else is told which.
tools=(photorec:testdisk convert:imagemagick exiftool:libimage-exiftool-perl gs:ghostscript
    pandoc:pandoc ffmpeg:ffmpeg sqlite3:sqlite3 zip:zip 7z:p7zip-full xz:xz-utils bzip2:bzip2
    gzip:gzip gcc:gcc x86_64-w64-mingw32-gcc:gcc-mingw-w64-x86-64 mke2fs:e2fsprogs
    debugfs:e2fsprogs mkfs.fat:dosfstools mcopy:mtools mkntfs:ntfs-3g ntfs-3g:ntfs-3g
    sfdisk:fdisk python3:python3 sha256sum:coreutils)
missing=()
for t in "${tools[@]}"; do
    command -v "${t%%:*}" >/dev/null 2>&1 || missing+=("${t#*:}")
done
# Some machines carry a stand-in `convert` that only turns PNG into PPM.
convert -version 2>/dev/null | grep -q ImageMagick || missing+=(imagemagick)
# The XLSX files are written by openpyxl, a Python module.
python3 -c 'import openpyxl' 2>/dev/null || /usr/bin/python3 -c 'import openpyxl' 2>/dev/null ||
    missing+=(python3-openpyxl)
if (( ${#missing[@]} )); then
    mapfile -t missing < <(printf '%s\n' "${missing[@]}" | sort -u)
    if [[ $(id -u) -eq 0 ]] && command -v apt-get >/dev/null 2>&1; then
        log "installing ${missing[*]}"
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null ||
            die "could not install ${missing[*]}; run: apt-get update && apt-get install ${missing[*]}"
    else
        die "missing Debian packages: ${missing[*]}"
    fi
fi
need_gnu_time
# The NTFS volume is filled through the ntfs-3g driver, which needs FUSE.
[[ -e /dev/fuse ]] || die "/dev/fuse is missing; the NTFS volume is filled through ntfs-3g"

whole_numbers BENCH_VOLUME_MIB BENCH_SEED BENCH_RUNS
(( RUNS >= 1 )) || die "BENCH_RUNS must be at least 1"
(( VOLUME_MIB >= 80 )) || die "BENCH_VOLUME_MIB must be at least 80: the files of each volume need that much"

resolve_qsalvage "${1:-}"

make_work_area carve-real
on_exit remove_work_area
note_load

# -------------------------------------------------------------- the disk ----

# Everything here goes into the cache key through `declare -f`, with the
# program it runs, so a change to how the disk is made never reuses a disk
# made the old way.
build_disk() { # FOLDER : makes disk.raw and files.tsv there; sets made_files and made_bytes
    mkdir "$work/stage"
    read -r made_files made_bytes < <(python3 "$script_dir/carve-real-make.py" "$work/stage" \
        "$1/disk.raw" "$1/files.tsv" "$VOLUME_MIB" "$SEED")
    rm -rf -- "$work/stage"
}

# The versions of the tools that made the disk, for image.txt.
describe_tools() {
    echo "$(convert -version | head -n 1), ExifTool $(exiftool -ver), pandoc $(pandoc --version | head -n 1 | cut -d' ' -f2)," \
        "Ghostscript $(gs --version), $(ffmpeg -version | head -n 1 | cut -d' ' -f1-3), SQLite $(sqlite3 --version | cut -d' ' -f1)," \
        "$(mke2fs -V 2>&1 | head -n 1), $(dpkg-query -W -f 'dosfstools ${Version}' dosfstools 2>/dev/null || echo dosfstools), $(ntfs-3g --version 2>&1 | head -n 1)"
}

# Sets cached, raw, list, made_files, made_bytes and build_seconds; the
# disk is built first unless it is cached or BENCH_REBUILD=1.
cached_image() { # KEY
    local key=$1 cache_dir=${BENCH_CACHE_DIR:-$repo_root/build/bench-cache} build_t0 free
    cached=$cache_dir/carve-real-$key
    raw=$cached/disk.raw
    list=$cached/files.tsv
    if [[ ${BENCH_REBUILD:-0} == 1 || ! -f $cached/image.txt ]]; then
        mkdir -p "$cache_dir"
        free=$(mib_free "$cache_dir")
        (( free >= VOLUME_MIB * 8 + 512 )) ||
            die "$cache_dir has $free MiB free, about $(( VOLUME_MIB * 8 + 512 )) MiB are needed to build the disk"
        stage "building a disk of four $VOLUME_MIB MiB volumes (ext2, ext4, FAT32, NTFS) with files of every kind"
        build_t0=$EPOCHREALTIME
        cache_tmp=$(mktemp -d "$cache_dir/.carve-real-$key.XXXXXX")
        build_disk "$cache_tmp"
        build_seconds=$(awk -v a="$build_t0" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')
        {
            echo "$params"
            echo "files=$made_files bytes=$made_bytes build_seconds=$build_seconds"
            describe_tools
        } >"$cache_tmp/image.txt"
        # Renamed into place in one step, so a run that is stopped half-way, or
        # one running alongside, never finds a half-written disk.
        rm -rf -- "$cached"
        mv -T "$cache_tmp" "$cached"
        cache_tmp=
        log "   built in ${build_seconds}s; kept as $raw"
    else
        stage "using the cached disk $raw (BENCH_REBUILD=1 builds it again)"
    fi
    read -r made_files made_bytes build_seconds < <(sed -n 2p "$cached/image.txt" | tr -s ' =' '  ' | awk '{ print $2, $4, $6 }')
    log "   $made_files files, $(( made_bytes >> 20 )) MiB in all (built in ${build_seconds}s);" \
        "$(awk -F'\t' '$5 == "deleted"' "$list" | wc -l) deleted, $(awk -F'\t' '$6 != "contiguous"' "$list" | wc -l) not in one piece"
}

params="volume_mib=$VOLUME_MIB seed=$SEED"
key=$( { echo "$params"; declare -f build_disk; cat "$script_dir/carve-real-make.py"; } | sha256sum | cut -c1-16)
cached_image "$key"
disk_mib=$(( $(stat -c %s "$raw") >> 20 ))

# A carver writes at least as much as the files on the disk, and more for
# every file whose end it cannot tell; the outputs of the first round stay
# until recall has been counted.
mkdir -p "$outputs"
need_space 64 $(( disk_mib * 6 ))

# -------------------------------------------------------- the two tools ----

# PhotoRec draws its screen on stdout even when driven by /cmd; TERM=dumb
# keeps that drawing the same wherever the script runs. /log writes
# photorec.log into the folder it runs in.
pr_into() { # FOLDER
    mkdir -p "$1"
    run_timed "$work/photorec.out" env -C "$1" TERM=dumb photorec /log /d "$1/recup" /cmd "$raw" "$PR_OPTS"
}
# Status 3 is a carve that ran to the end with some files cut short (one
# running into the end of the disk, say): a result to count, not a failure.
qs_into() { # FOLDER JSON [DISK]
    mkdir -p "$1"
    # shellcheck disable=SC2016  # expanded by the inner bash
    run_timed "$2" bash -c '"$@"; s=$?; exit $(( s == 3 ? 0 : s ))' carve \
        "$qsalvage" carve "${3:-$raw}" --disk --output "$1" --json
}

pr_version=$(photorec /version | awk '/^Version/ { print $2 }')
stage "carving disk.raw ($disk_mib MiB): qsalvage carve --disk vs PhotoRec $pr_version, best of $RUNS, into $outputs"
log "   photorec /log /d DIR/recup /cmd $raw $PR_OPTS"
# Both read the disk from the page cache.
cat -- "$raw" >/dev/null

# Round 1's outputs are kept for the recall; later rounds' go right after
# their run, so every run starts alike.
t_qs=() t_pr=()
time_pr() {
    pr_into "$outputs/pr-$r"
    (( r == 1 )) || rm -rf -- "$outputs/pr-$r"
    t_pr+=("$run_seconds"); detail "$r" photorec
}
time_qs() {
    qs_into "$outputs/qs-$r" "$work/carve-$r.json"
    (( r == 1 )) || rm -rf -- "$outputs/qs-$r"
    t_qs+=("$run_seconds"); detail "$r" qsalvage
}
alternate time_qs time_pr
spread 8 qsalvage "${t_qs[@]}"
spread 8 photorec "${t_pr[@]}"
grep -qE 'signatures? enabled' "$outputs/pr-1/photorec.log" ||
    die "PhotoRec searched nothing (see $outputs/pr-1/photorec.log)"

# The disk file is sparse, as mkfs and qemu-img leave images: qsalvage
# passes over its holes without reading them, PhotoRec reads them as
# zeros. The same disk written out whole shows the carve without that
# (for information: the verdict is on the disk as it was made).
dense=$work/dense.raw
cp --sparse=never -- "$raw" "$dense"
cat -- "$dense" >/dev/null
t_dense=()
for (( r = 1; r <= RUNS; r++ )); do
    qs_into "$outputs/dense-$r" "$work/dense-$r.json" "$dense"
    rm -rf -- "$outputs/dense-$r"
    t_dense+=("$run_seconds"); detail "$r" "qsalvage, disk without holes" 28
done
rm -f -- "$dense"
spread 28 "qsalvage, disk without holes" "${t_dense[@]}"
cmp -s "$work/carve-1.json" "$work/dense-1.json" ||
    die "qsalvage found other files on the disk without holes (see $work/carve-1.json and $work/dense-1.json)"

# --------------------------------------------------------------- recall ----

# Counts, from the list and the two output folders, the files each tool
# wrote out byte for byte, by kind, then by layout and state. For a file
# qsalvage missed and PhotoRec did not, says what qsalvage wrote at its
# offset (from carve.json): nothing, or a file of another length. Prints
# the table, the notes, then a last line: the count placed, qsalvage's,
# PhotoRec's, and 1 when qsalvage has at least PhotoRec's in every kind.
recall() { # LIST QS_FOLDER QS_JSON PR_FOLDER
    python3 - "$@" <<'EOF'
import collections, hashlib, json, os, re, sys
listing, qs_dir, qs_json, pr_dir = sys.argv[1:5]
known = []
for line in open(listing):
    digest, length, kind, fs, state, layout, offset, rel = line.rstrip("\n").split("\t")
    known.append(dict(digest=digest, length=int(length), kind=kind, fs=fs, state=state,
                      layout=layout, offset=int(offset), rel=rel))
def hashes(top):
    out, files, size = set(), 0, 0
    for d, _, names in os.walk(top):
        for n in names:
            if n in ("report.xml", "photorec.log"):
                continue
            h = hashlib.sha256()
            with open(os.path.join(d, n), "rb") as f:
                for block in iter(lambda: f.read(1 << 20), b""):
                    h.update(block)
            out.add(h.hexdigest())
            files += 1
            size += os.path.getsize(os.path.join(d, n))
    return out, files, size
qs, qs_files, qs_size = hashes(qs_dir)
pr, pr_files, pr_size = hashes(pr_dir)
at = {}
try:
    for f in json.load(open(qs_json, encoding="utf-8"))["files"]:
        at[f["offset"]] = f["length"]
except (ValueError, KeyError, TypeError):
    pass
pr_at = {}
for d, _, names in os.walk(pr_dir):
    for n in names:
        m = re.match(r"f(\d+)", n)
        if m:
            pr_at[int(m.group(1)) * 512] = os.path.getsize(os.path.join(d, n))

def row(name, files):
    a = sum(f["digest"] in qs for f in files)
    b = sum(f["digest"] in pr for f in files)
    print("%-16s %6d %9d %9d%s" % (name, len(files), a, b, "   <" if a < b else ""))
    return a, b

print("%-16s %6s %9s %9s" % ("kind", "placed", "qsalvage", "photorec"))
kinds = collections.defaultdict(list)
for f in known:
    kinds[f["kind"]].append(f)
every = True
for k in sorted(kinds):
    a, b = row(k, kinds[k])
    every = every and a >= b
print("-" * 43)
total = row("total", known)
print()
print("%-16s %6s %9s %9s" % ("by layout, state", "placed", "qsalvage", "photorec"))
for layout in ("contiguous", "fragmented", "overwritten"):
    for state in ("live", "deleted"):
        files = [f for f in known if f["layout"] == layout and f["state"] == state]
        if files:
            row("%s %s" % (layout, state), files)
for fs in ("ext2", "ext4", "fat32", "ntfs"):
    files = [f for f in known if f["fs"] == fs]
    if files:
        row("on " + fs, files)
notes = collections.defaultdict(list)
for f in known:
    if f["digest"] in qs or f["digest"] not in pr:
        continue
    got = at.get(f["offset"])
    if f["offset"] < 0:
        why = "its start is not on the disk"
    elif got is None:
        why = "not found" + (" (fragmented)" if f["layout"] == "fragmented" else "")
    elif got > f["length"]:
        why = "too long (%d of %d bytes)" % (got, f["length"])
    else:
        why = "too short (%d of %d bytes)" % (got, f["length"])
    notes[f["kind"]].append("%s %s: %s" % (f["fs"], f["rel"], why))
if notes:
    print()
    print("found by photorec, not by qsalvage:")
    for k in sorted(notes):
        print("  %-6s %s" % (k, "; ".join(notes[k])))
print("written in all: qsalvage %d files, %d MiB; photorec %d files, %d MiB" % (
    qs_files, qs_size >> 20, pr_files, pr_size >> 20))
print(len(known), total[0], total[1], int(every))
EOF
}

recall "$list" "$outputs/qs-1" "$work/carve-1.json" "$outputs/pr-1" >"$work/recall.txt"
read -r known_n qs_same pr_same every_kind < <(tail -n 1 "$work/recall.txt")
rm -rf -- "$outputs/qs-1" "$outputs/pr-1"

# -------------------------------------------------------------- summary ----

printf '\nqsalvage carve vs PhotoRec %s on a %d MiB disk (ext2, ext4, FAT32, NTFS) holding %d files (%d MiB), best of %d runs\n' \
    "$pr_version" "$disk_mib" "$known_n" "$(( made_bytes >> 20 ))" "$RUNS"
printf 'qsalvage: qsalvage carve disk.raw --disk --output DIR --json\n'
printf 'photorec: photorec /log /d DIR/recup /cmd disk.raw %s\n\n' "$PR_OPTS"
sed '$d' "$work/recall.txt"
read -r ratio time_verdict < <(verdict_ratio "$(min_of "${t_qs[@]}")" "$(min_of "${t_pr[@]}")" "$RATIO_TARGET")
recall_verdict=$( (( every_kind && qs_same >= pr_same )) && echo PASS || echo FAIL)
printf 'time: qsalvage %.3f s, photorec %.3f s, ratio %s (target <= %s) %s\n' \
    "$(min_of "${t_qs[@]}")" "$(min_of "${t_pr[@]}")" "$ratio" "$RATIO_TARGET" "$time_verdict"
read -r dense_ratio _ < <(verdict_ratio "$(min_of "${t_dense[@]}")" "$(min_of "${t_pr[@]}")" "$RATIO_TARGET")
printf 'the same disk without holes: qsalvage %.3f s (the same files), ratio %s\n' \
    "$(min_of "${t_dense[@]}")" "$dense_ratio"
printf 'recall: qsalvage %d of %d, photorec %d of %d; qsalvage >= photorec in every kind and in total: %s; time <= %sx photorec: %s\n' \
    "$qs_same" "$known_n" "$pr_same" "$known_n" "$( [[ $recall_verdict == PASS ]] && echo yes || echo no)" \
    "$RATIO_TARGET" "$( [[ $time_verdict == PASS ]] && echo yes || echo no)"
exit_by_verdicts "$time_verdict" "$recall_verdict"
