#!/usr/bin/env bash
# Carving a whole disk by file signatures: `qsalvage carve` against
# PhotoRec, on the same disk image in the same run. Two figures count: the
# time of the scan (best of BENCH_RUNS, the two tools alternating), and
# recall, how many of the files placed on the disk each tool writes out
# byte for byte (matched by SHA-256, whatever the output file is called).
#
# Usage: bench/carve.sh [QSALVAGE_BINARY]
#
# Without an argument a Release build is made (and kept, so later runs only
# rebuild what changed) in $BENCH_BUILD_DIR, default ${TMPDIR:-/tmp}/qsalvage-bench-build.
# The developer's own build/ folder is deliberately not used: it may be a
# debug or sanitizer build, which says nothing about speed. carve reads its
# default signatures from FileSetting.txt beside the binary, which the
# build puts there.
#
# The disk holds a few thousand files of common types made by the tools
# that make such files in real life (ImageMagick, exiftool, Ghostscript,
# zip, gzip, sqlite3, sox, ffmpeg), each starting on a sector boundary,
# most of them in one piece, with pseudo-random bytes and runs of zeros
# between them. It is kept in $BENCH_CACHE_DIR, with the list of the files
# on it, under a name derived from the knobs and from the code that builds
# it, so later runs with the same knobs skip the build.
#
# Knobs (environment):
#   BENCH_DISK_MIB          size of the disk in MiB              (default 512)
#   BENCH_FILES             files placed on it                   (default 3000)
#   BENCH_FRAGMENTED        percent of them split in two pieces  (default 2)
#   BENCH_SEED              seed of the files, layout and noise  (default 20240607)
#   BENCH_FORMAT            raw, or vhdx: qsalvage then reads a VHDX made of
#                           the raw disk, PhotoRec still the raw (default raw)
#   BENCH_PHOTOREC_FAMILIES ours: PhotoRec's families for the types of the
#                           default FileSetting.txt; image: only those the
#                           disk holds; default: PhotoRec's own default set;
#                           or a comma list of its family names  (default ours)
#   BENCH_RUNS              timed runs per tool                  (default 3)
#   BENCH_CACHE_DIR         where built disks are kept   (default build/bench-cache)
#   BENCH_REBUILD=1         build the disk again even if it is cached
#   BENCH_OUTPUT_DIR        where the carved files go      (default: the temp folder)
#   BENCH_STRICT=1          also exit 3 when a target is missed
#
# Exit status: 0 both tools ran (targets may still be missed, see the
# summary), 1 a tool failed, 2 setup problem, 3 strict mode and a target
# missed, 4 this qsalvage has no carve command (PhotoRec is still timed).
# shellcheck disable=SC2317  # most functions run through alternate or the exit trap
set -euo pipefail
# Decimal points in awk and printf must not depend on the user's locale.
export LC_ALL=C

readonly RATIO_TARGET=0.50
readonly DISK_MIB=${BENCH_DISK_MIB:-512}
readonly FILES=${BENCH_FILES:-3000}
readonly FRAGMENTED=${BENCH_FRAGMENTED:-2}
readonly SEED=${BENCH_SEED:-20240607}
readonly FORMAT=${BENCH_FORMAT:-raw}
readonly FAMILIES=${BENCH_PHOTOREC_FAMILIES:-ours}
readonly RUNS=${BENCH_RUNS:-3}
# PhotoRec's names for the families of what the disk holds (riff is its
# WAV and AVI, mov its MP4 and QuickTime), and for the types the default
# FileSetting.txt knows: those and DOCX and ODT (zip), RAR, 7z, MPEG (mpg),
# ELF and PE (exe).
readonly IMAGE_FAMILIES=jpg,png,gif,bmp,tif,pdf,zip,gz,sqlite,riff,mp3,mov,ogg
readonly OUR_FAMILIES=$IMAGE_FAMILIES,rar,7z,mpg,elf,exe

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd "$script_dir/.." && pwd)
bench_name=carve.sh
# shellcheck source=bench/lib.sh
source "$repo_root/bench/lib.sh"

# ---------------------------------------------------------------- tools ----

need photorec testdisk
need convert imagemagick
need exiftool libimage-exiftool-perl
need gs ghostscript
need zip zip
need gzip gzip
need sqlite3 sqlite3
need sox sox
need ffmpeg ffmpeg
need openssl openssl
need python3 python3
need sha256sum coreutils
[[ $FORMAT == raw ]] || need qemu-img qemu-utils
need_gnu_time

whole_numbers BENCH_DISK_MIB BENCH_FILES BENCH_FRAGMENTED BENCH_SEED BENCH_RUNS
(( RUNS >= 1 )) || die "BENCH_RUNS must be at least 1"
(( FILES >= 13 )) || die "BENCH_FILES must be at least 13, one of each type"
(( FRAGMENTED <= 50 )) || die "BENCH_FRAGMENTED is a percentage of the files, at most 50"
(( DISK_MIB >= 16 )) || die "BENCH_DISK_MIB must be at least 16"
case $FORMAT in raw | vhdx) ;; *) die "BENCH_FORMAT must be raw or vhdx, not '$FORMAT'" ;; esac
[[ $FAMILIES =~ ^[a-z0-9_,]+$ ]] || die "BENCH_PHOTOREC_FAMILIES must be ours, image, default or a comma list of PhotoRec family names"

# ------------------------------------------------------------- qsalvage ----

resolve_qsalvage "${1:-}"

# ------------------------------------------------------------ work area ----

make_work_area carve
on_exit remove_work_area
note_load

# -------------------------------------------------------------- the disk ----

# Makes the files in STAGE, then lays them out on the raw disk RAW and
# writes the list of them to LIST, one line per file: byte offset, length,
# SHA-256, kind (its type, jpg+exif for a JPEG with an EXIF thumbnail),
# pieces (2 for a file split in two), and its name in STAGE. Prints the
# number of files and of bytes in them.
#
# Pictures are cut from a few large plasma fractals with one ImageMagick
# process per batch, so thousands of them take seconds, not minutes; the
# rest are made one file per process, two processes at a time. Everything
# comes from the seed. The tools may still write their version or the date
# into a file, which is why the list, not the seed, says what the disk
# holds.
#
# The layout: the first MiB stays zero, where a partition table would be;
# then every file, in a shuffled order, after a gap of pseudo-random bytes,
# zeros, or both (none for about one file in seven), sized so the files
# spread over the whole disk; the rest of a file's last sector is random or
# zero. A few files larger than 64 KiB are split in two at a sector
# boundary with random bytes in between, as on a disk filled over time;
# neither tool is expected to get those back whole. The noise is AES-CTR
# keystream from `openssl enc` with the seed as key, so it holds no
# signature more often than chance.
cat >"$work/make_disk.py" <<'EOF'
import hashlib, math, os, random, subprocess, sys, time
from concurrent.futures import ThreadPoolExecutor

stage, raw, listing = map(os.path.abspath, sys.argv[1:4])
disk_mib, nfiles, frag_pct, seed = map(int, sys.argv[4:8])
rng = random.Random(seed)
jobs = max(1, os.cpu_count() or 1)
started = time.time()
SECTOR = 512

def note(text):
    print("   %s (%.0f s)" % (text, time.time() - started), file=sys.stderr)

def run(args, stdin=None, out=None):
    with open(out, "wb") if out else open(os.devnull, "wb") as sink:
        done = subprocess.run(args, stdout=sink, stderr=subprocess.PIPE, input=stdin,
                              stdin=None if stdin is not None else subprocess.DEVNULL)
    if done.returncode != 0:
        sys.exit("%s failed (status %d): %s" % (" ".join(args[:8]), done.returncode,
                                               done.stderr.decode(errors="replace").strip()[-600:]))

def parallel(calls):                     # each call: (args, stdin, out)
    with ThreadPoolExecutor(jobs) as pool:
        for f in [pool.submit(run, *c) for c in calls]:
            f.result()

def folder(name):
    path = os.path.join(stage, name)
    os.makedirs(path, exist_ok=True)
    return path

shares = [("jpg", 34), ("png", 14), ("gif", 6), ("bmp", 6), ("tif", 4), ("pdf", 7), ("zip", 6),
          ("gz", 5), ("sqlite", 3), ("wav", 5), ("mp3", 4), ("mp4", 3), ("ogg", 3)]
count = {t: max(1, nfiles * s // 100) for t, s in shares}
count["jpg"] += nfiles - sum(count.values())
made = []                                # (kind, path)

words = ("the of and to in is report total invoice date amount customer page summary "
         "quarter budget meeting project draft final review table figure section note "
         "Summe Betrag Kunde montant donnees 12.50 2019 04 01 alpha beta gamma delta").split()
def text(size):
    out, n = [], 0
    while n < size:
        line = " ".join(rng.choice(words) for _ in range(rng.randint(4, 14)))
        out.append(line)
        n += len(line) + 1
    return ("\n".join(out) + "\n").encode()[:size]

def log_uniform(lo, hi):
    return int(math.exp(rng.uniform(math.log(lo), math.log(hi))))

# ---- pictures
BASE_W, BASE_H = 2048, 1536
bases = []
for i, kind in enumerate(["plasma:fractal", "plasma:fractal", "plasma:", "plasma:gold-navy"]):
    path = os.path.join(folder("bases"), "%d.mpc" % i)
    bases.append(path)
    run(["convert", "-seed", str(seed + i), "-size", "%dx%d" % (BASE_W, BASE_H), kind, path])
note("picture sources made")

def cut(lo, hi):
    w = log_uniform(lo, hi)
    h = w * 3 // 4 if rng.random() < 0.7 else w * 4 // 3
    w, h = min(w, BASE_W), min(h, BASE_H)
    return "%dx%d+%d+%d" % (w, h, rng.randrange(BASE_W - w + 1), rng.randrange(BASE_H - h + 1)), w

def pictures(ext, n, lo, hi, options):
    """Cuts n pictures of widths lo to hi; options(i, width) gives the
    ImageMagick options and the output prefix of picture i."""
    calls, pieces = [], []
    for i in range(n):
        geometry, w = cut(lo, hi)
        opts, prefix, kind, extra = options(i, w)
        path = os.path.join(folder(ext), "%05d.%s" % (i, ext))
        pieces.append(["(", "-clone", str(rng.randrange(len(bases))), "-crop", geometry, "+repage"]
                      + opts + ["-write", prefix + path] + extra + ["+delete", ")"])
        made.append((kind, path))
        if len(pieces) == 150 or i == n - 1:
            calls.append((["convert"] + bases + [a for p in pieces for a in p] + ["null:"], None, None))
            pieces = []
    parallel(calls)

thumbs = []                              # (picture, its thumbnail)
def jpeg_options(i, w):
    opts = ["-strip", "-quality", str(rng.randint(60, 95)),
            "-sampling-factor", rng.choice(["4:2:0", "4:2:0", "4:2:2", "4:4:4"])]
    if rng.random() < 0.15:
        opts += ["-interlace", "JPEG"]
    if w >= 320 and rng.random() < 0.4:
        thumb = os.path.join(folder("thumbs"), "%05d.jpg" % i)
        thumbs.append((os.path.join(stage, "jpg", "%05d.jpg" % i), thumb))
        return opts, "", "jpg+exif", ["-thumbnail", "160x120", "-quality", "75", "-write", thumb]
    return opts, "", "jpg", []

pictures("jpg", count["jpg"], 96, 1600, jpeg_options)
# The EXIF block with its thumbnail, as a camera writes it, holds a second
# JPEG (start and end marker) inside the picture.
exif_args = []
for k, (picture, thumb) in enumerate(thumbs):
    t = 1420070400 + rng.randrange(8 * 365 * 86400)
    exif_args += ["-overwrite_original", "-Make=QSBench", "-Model=Camera %d" % (k % 7),
                  "-DateTimeOriginal=" + time.strftime("%Y:%m:%d %H:%M:%S", time.gmtime(t)),
                  "-ThumbnailImage<=" + thumb, picture, "-execute"]
if exif_args:
    with open(os.path.join(stage, "exif.args"), "w") as f:
        f.write("\n".join(exif_args) + "\n")
    run(["exiftool", "-q", "-@", os.path.join(stage, "exif.args")])
kinds = dict((p, k) for k, p in made)
bad = [p for p, _ in thumbs if kinds.get(p) == "jpg+exif" and
       open(p, "rb").read().count(b"\xff\xd8\xff") < 2]
if bad:
    sys.exit("exiftool did not write the thumbnail into %s" % bad[0])
note("%d JPEGs, %d of them with an EXIF thumbnail" % (count["jpg"], len(thumbs)))

png_date = ["-define", "png:exclude-chunks=date,time"]
pictures("png", count["png"], 48, 420, lambda i, w:
         (["-strip"] + png_date + (["-colors", "256"] if i % 3 == 0 else []),
          "PNG8:" if i % 3 == 0 else "PNG24:", "png", []))
pictures("gif", count["gif"], 48, 480, lambda i, w:
         (["-colors", str(rng.choice([16, 64, 128, 256]))], "", "gif", []))
pictures("bmp", count["bmp"], 32, 360, lambda i, w:
         (["-type", "Palette"] if i % 3 == 0 else [], "BMP3:", "bmp", []))
pictures("tif", count["tif"], 48, 400, lambda i, w:
         (["-strip", "-compress", rng.choice(["None", "LZW", "Zip"])], "", "tif", []))
note("PNG, GIF, BMP and TIFF pictures made")

# ---- documents: PostScript text pages, made into PDFs by Ghostscript
docs = []
for i in range(count["pdf"]):
    size = rng.choice([9, 10, 11, 12, 14])
    font = "/Helvetica findfont %d scalefont setfont" % size
    page, y = [font], 770
    for _ in range(log_uniform(5, 400)):
        if y < 40:                       # the next page
            page += ["showpage", font]
            y = 770
        page.append("40 %d moveto (%s) show" % (y, " ".join(rng.choice(words) for _ in range(rng.randint(3, 12)))))
        y -= size + 2
    if rng.random() < 0.3:
        page.append("newpath 300 300 moveto %d %d rlineto 4 setlinewidth stroke" % (rng.randint(50, 200), rng.randint(50, 200)))
    docs.append(page + ["showpage"])
calls = []
for i, doc in enumerate(docs):
    path = os.path.join(folder("pdf"), "%05d.pdf" % i)
    calls.append((["gs", "-q", "-dSAFER", "-dNOPAUSE", "-dBATCH", "-sDEVICE=pdfwrite",
                   "-sOutputFile=" + path, "-"], ("%!PS\n" + "\n".join(doc) + "\n").encode(), None))
    made.append(("pdf", path))
parallel(calls)
note("%d PDFs made" % count["pdf"])

# ---- archives
pool_pictures = [p for k, p in made if k in ("png", "gif", "jpg")]
calls = []
for i in range(count["zip"]):
    src = folder("zipsrc/%05d" % i)
    members = []
    for j in range(rng.randint(1, 8)):
        name = "%s %d.txt" % (rng.choice(words), j)
        with open(os.path.join(src, name), "wb") as f:
            f.write(text(log_uniform(200, 200000)))
        members.append(name)
    if rng.random() < 0.4:
        pic = rng.choice(pool_pictures)
        name = "picture%s" % os.path.splitext(pic)[1]
        with open(os.path.join(src, name), "wb") as f:
            f.write(open(pic, "rb").read())
        members.append(name)
    path = os.path.join(folder("zip"), "%05d.zip" % i)
    level = rng.choice(["-0", "-6", "-9"])
    calls.append((["sh", "-c", 'cd "$1" && shift && exec zip -q -X "$@"', "sh", src, level, path] + members, None, None))
    made.append(("zip", path))
for i in range(count["gz"]):
    src = os.path.join(folder("gzsrc"), "notes %05d.txt" % i)
    with open(src, "wb") as f:
        f.write(text(log_uniform(2000, 800000)))
    os.utime(src, (1420070400 + i, 1420070400 + i))
    path = os.path.join(folder("gz"), "%05d.gz" % i)
    calls.append((["gzip", "-c", rng.choice(["-9", "-6", "-1"]), rng.choice(["-n", "-N"]), src], None, path))
    made.append(("gz", path))
parallel(calls)
note("%d ZIP archives and %d gzip files made" % (count["zip"], count["gz"]))

# ---- databases: rows made by SQL from the row number, so no random()
calls = []
for i in range(count["sqlite"]):
    path = os.path.join(folder("sqlite"), "%05d.sqlite" % i)
    rows = log_uniform(50, 20000)
    sql = """pragma page_size=%d;
create table items(id integer primary key, name text, amount real, note text);
with recursive c(x) as (select 1 union all select x + 1 from c limit %d)
insert into items select x, printf('item %%d of file %d', x), x * 1.25 + %d,
  substr('%s', 1 + (x * 7) %% 200, 10 + x %% 90) from c;
%s
vacuum;
""" % (rng.choice([1024, 4096, 4096, 8192]), rows, i, i, " ".join(rng.choice(words) for _ in range(80)),
       "create index items_name on items(name);" if rng.random() < 0.5 else "")
    calls.append((["sqlite3", path], sql.encode(), None))
    made.append(("sqlite", path))
parallel(calls)
note("%d SQLite databases made" % count["sqlite"])

# ---- sound and video
calls = []
for i in range(count["wav"]):
    path = os.path.join(folder("wav"), "%05d.wav" % i)
    calls.append((["sox", "-n", "-r", str(rng.choice([8000, 11025, 22050, 44100])), "-b", "16",
                   "-c", str(rng.choice([1, 1, 2])), path, "synth", "%.2f" % rng.uniform(0.2, 4),
                   rng.choice(["sine", "square", "triangle", "sawtooth", "pluck"]), str(rng.randint(110, 1760))], None, None))
    made.append(("wav", path))
ff = ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-threads", "1"]
for i in range(count["mp3"]):
    path = os.path.join(folder("mp3"), "%05d.mp3" % i)
    tags = ["-metadata", "title=Track %d" % i, "-metadata", "artist=QSBench"] if i % 2 else []
    calls.append((ff + ["-f", "lavfi", "-i", "sine=frequency=%d:duration=%.1f:sample_rate=%d"
                        % (rng.randint(110, 1760), rng.uniform(1, 12), rng.choice([22050, 44100])),
                        "-c:a", "libmp3lame", "-b:a", "%dk" % rng.choice([32, 64, 96, 128])] + tags + [path], None, None))
    made.append(("mp3", path))
for i in range(count["ogg"]):
    path = os.path.join(folder("ogg"), "%05d.ogg" % i)
    calls.append((ff + ["-f", "lavfi", "-i", "sine=frequency=%d:duration=%.1f" % (rng.randint(110, 1760), rng.uniform(1, 10)),
                        "-c:a", "libvorbis", "-q:a", str(rng.randint(1, 5)), path], None, None))
    made.append(("ogg", path))
for i in range(count["mp4"]):
    path = os.path.join(folder("mp4"), "%05d.mp4" % i)
    w = rng.choice([160, 240, 320])
    calls.append((ff + ["-f", "lavfi", "-i", "testsrc2=size=%dx%d:rate=%d:duration=%.1f"
                        % (w, w * 3 // 4, rng.choice([10, 15, 25]), rng.uniform(0.5, 3)),
                        "-f", "lavfi", "-i", "sine=frequency=%d" % rng.randint(200, 900), "-shortest",
                        "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac"]
                  + (["-movflags", "+faststart"] if rng.random() < 0.4 else []) + [path], None, None))
    made.append(("mp4", path))
parallel(calls)
note("%d WAV, %d MP3, %d Ogg and %d MP4 files made" % (count["wav"], count["mp3"], count["ogg"], count["mp4"]))

# ---- the layout
files, seen = [], set()
for kind, path in made:
    data = open(path, "rb").read()
    digest = hashlib.sha256(data).hexdigest()
    if digest in seen or not data:       # a match by hash must name one file
        continue
    seen.add(digest)
    files.append((kind, path, len(data), digest))
rng.shuffle(files)
disk = disk_mib << 20
start = 1 << 20
def sectors(n):
    return (n + SECTOR - 1) // SECTOR * SECTOR
data_bytes = sum(sectors(f[2]) for f in files)
big = [i for i, f in enumerate(files) if f[2] >= 65536]
split = set(rng.sample(big, min(len(big), len(files) * frag_pct // 100)))
split_gap = 72 * SECTOR                 # mean of 16 to 128 sectors
room = disk - start - (1 << 20) - data_bytes - len(split) * 2 * split_gap
if room < data_bytes // 10:
    sys.exit("the %d files take %d MiB, too much for a %d MiB disk; give a larger BENCH_DISK_MIB or fewer BENCH_FILES"
             % (len(files), data_bytes >> 20, disk_mib))
mean_gap = room * 0.95 / len(files) / (6 / 7)

noise = subprocess.Popen(["openssl", "enc", "-aes-128-ctr", "-nosalt", "-K", "%032x" % seed, "-iv", "0" * 32,
                          "-in", "/dev/zero"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
with open(raw, "wb") as out:
    out.truncate(disk)
    out.seek(start)
    pos = start
    def gap(n, style):
        global pos
        if style == "noise":
            out.write(noise.stdout.read(n))
        elif style == "zeros":
            out.seek(n, 1)
        else:
            half = n // 2 // SECTOR * SECTOR
            out.write(noise.stdout.read(half))
            out.seek(n - half, 1)
        pos += n
    with open(listing, "w") as lst:
        for i, (kind, path, size, digest) in enumerate(files):
            n = 0 if rng.random() < 1 / 7 else int(rng.uniform(0, 2 * mean_gap)) // SECTOR * SECTOR
            left = disk - (1 << 20) - pos - sectors(size) - 2 * split_gap * (len(split) + 1)
            gap(max(0, min(n, left)), rng.choice(["noise", "noise", "zeros", "both"]))
            data = open(path, "rb").read()
            offset, pieces = pos, 1
            if i in split:
                cut_at = rng.randint(size // 4 // SECTOR, 3 * size // 4 // SECTOR) * SECTOR
                out.write(data[:cut_at])
                pos += cut_at
                gap(rng.randint(16, 128) * SECTOR, "noise")
                data, pieces = data[cut_at:], 2
            out.write(data)
            pos += len(data)
            slack = sectors(pos) - pos
            gap(slack, "noise" if rng.random() < 0.6 else "zeros")
            if pos > disk - (1 << 20):
                sys.exit("the layout ran past the end of the disk")
            lst.write("%d\t%d\t%s\t%s\t%d\t%s\n" % (offset, size, digest, kind, pieces, os.path.relpath(path, stage)))
noise.kill()
noise.wait()
print(len(files), sum(f[2] for f in files))
EOF

# Everything here goes into the cache key through `declare -f`, so a change
# to how the disk is made can never reuse a disk made the old way.
build_disk() { # RAW LIST : sets made_files and made_bytes
    mkdir "$work/stage"
    read -r made_files made_bytes < <(
        python3 "$work/make_disk.py" "$work/stage" "$1" "$2" "$DISK_MIB" "$FILES" "$FRAGMENTED" "$SEED")
    rm -rf -- "$work/stage"
}

# The versions of the tools that made the files, for image.txt.
describe_tools() {
    echo "$(convert -version | head -n 1), ExifTool $(exiftool -ver), Ghostscript $(gs --version)," \
        "$(zip -v | sed -n 2p | sed 's/^ *//'), $(gzip --version | head -n 1), SQLite $(sqlite3 --version | cut -d' ' -f1)," \
        "$(sox --version 2>&1 | head -n 1 | sed 's/.*: *//'), $(ffmpeg -version | head -n 1 | cut -d' ' -f1-3)"
}

# As lib.sh's cached_disk, but the raw disk itself is kept: PhotoRec reads
# raw images only, and the disk holds no file system, so there is nothing
# a VHDX would add but the container (made from the raw disk on demand for
# BENCH_FORMAT=vhdx). Next to disk.raw, files.tsv is the list of the
# files on it and image.txt the knobs, the counts and the tools' versions.
# Sets cached, raw, list, made_files, made_bytes and build_seconds.
cached_image() { # KEY
    local key=$1 cache_dir=${BENCH_CACHE_DIR:-$repo_root/build/bench-cache} build_t0 free
    cached=$cache_dir/carve-$key
    raw=$cached/disk.raw
    list=$cached/files.tsv
    if [[ ${BENCH_REBUILD:-0} == 1 || ! -f $cached/image.txt ]]; then
        mkdir -p "$cache_dir"
        free=$(mib_free "$cache_dir")
        (( free >= DISK_MIB * 2 + 256 )) ||
            die "$cache_dir has $free MiB free, about $(( DISK_MIB * 2 + 256 )) MiB are needed to build the disk"
        stage "building a $DISK_MIB MiB disk image holding $FILES files, $FRAGMENTED % of them in two pieces"
        build_t0=$EPOCHREALTIME
        cache_tmp=$(mktemp -d "$cache_dir/.carve-$key.XXXXXX")
        build_disk "$cache_tmp/disk.raw" "$cache_tmp/files.tsv"
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
        log "   built in ${build_seconds}s; kept as $raw ($(du -m "$raw" | cut -f1) MiB allocated)"
    else
        stage "using the cached disk $raw (BENCH_REBUILD=1 builds it again)"
    fi
    read -r made_files made_bytes build_seconds < <(sed -n 2p "$cached/image.txt" | tr -s ' =' '  ' | awk '{ print $2, $4, $6 }')
    log "   $made_files files, $(( made_bytes >> 20 )) MiB in all (built in ${build_seconds}s)"
}

params="disk_mib=$DISK_MIB files=$FILES fragmented=$FRAGMENTED seed=$SEED"
key=$( { echo "$params"; declare -f build_disk; cat "$work/make_disk.py"; } | sha256sum | cut -c1-16)
cached_image "$key"
log "   by kind: $(cut -f4 "$list" | sort | uniq -c | awk '{ printf "%s%s %d", (NR > 1 ? ", " : ""), $2, $1 }');" \
    "$(awk -F'\t' '$5 > 1' "$list" | wc -l) of them in two pieces"

image=$raw
if [[ $FORMAT == vhdx ]]; then
    image=$cached/disk.vhdx
    if [[ ! -f $image ]]; then
        log "   making $image with qemu-img"
        qemu-img convert -f raw -O vhdx "$raw" "$image.tmp"
        mv -- "$image.tmp" "$image"
    fi
fi

# A carver writes at least as much as the files on the disk, and more for
# every file whose end it cannot tell (such a file gets the type's whole
# approximate size); the warm-up outputs stay until recall has been counted.
mkdir -p "$outputs"
need_space 64 $(( DISK_MIB * 6 ))

# -------------------------------------------------------- the two tools ----

# PhotoRec gets the disk as "no partition table" (partition_none), which
# makes the one entry it offers the whole disk, and then either its own
# default families or just the ones given; its other options stay as they
# come. It draws its screen on stdout even when driven by /cmd, into a
# file here; TERM=dumb keeps that drawing the same wherever the script
# runs. /log writes photorec.log into the folder it runs in, one per run.
case $FAMILIES in
    default) pr_opts=partition_none,search ;;
    ours) pr_opts=partition_none,fileopt,everything,disable,${OUR_FAMILIES//,/,enable,},enable,search ;;
    image) pr_opts=partition_none,fileopt,everything,disable,${IMAGE_FAMILIES//,/,enable,},enable,search ;;
    *) pr_opts=partition_none,fileopt,everything,disable,${FAMILIES//,/,enable,},enable,search ;;
esac
pr_into() { # FOLDER
    mkdir -p "$1"
    run_timed "$work/photorec.out" env -C "$1" TERM=dumb photorec /log /d "$1/recup" /cmd "$raw" "$pr_opts"
}

# qsalvage scans the whole disk with --disk; a carve without it is given
# the disk as a custom RAW volume of the disk's size instead, which is the
# same bytes.
qs_args=(--disk)
qs_into() { # FOLDER
    mkdir -p "$1"
    run_timed "$2" "$qsalvage" carve "$image" "${qs_args[@]}" --output "$1" --json
}

# Counts, from the list and the output folders, the files each tool wrote
# out byte for byte, by kind (the split ones on a line of their own). For
# the ones it missed, a file it wrote at the same offset (taken from the
# output names, "OFFSET .ext" for qsalvage and fSECTOR.ext for PhotoRec)
# tells whether it found the start but got the length wrong. Prints the
# table, then a last line: N, qsalvage's count, PhotoRec's, and the files
# and MiB each one wrote in all.
recall() { # LIST QS_FOLDER PR_FOLDER
    python3 - "$@" <<'EOF'
import hashlib, os, re, sys
listing, folders = sys.argv[1], sys.argv[2:]
known = []
for line in open(listing):
    offset, length, digest, kind, pieces, name = line.rstrip("\n").split("\t")
    known.append((int(offset), int(length), digest, "split in two" if pieces != "1" else kind))
written = [[0, 0], [0, 0]]                # files and bytes each tool wrote
def scan(top, tool):
    hashes, at = set(), {}
    if not top or not os.path.isdir(top):
        return None
    for d, _, names in os.walk(top):
        for n in names:
            if n in ("report.xml", "photorec.log"):
                continue
            p = os.path.join(d, n)
            h = hashlib.sha256()
            with open(p, "rb") as f:
                for block in iter(lambda: f.read(1 << 20), b""):
                    h.update(block)
            hashes.add(h.hexdigest())
            written[tool == "pr"][0] += 1
            written[tool == "pr"][1] += os.path.getsize(p)
            m = re.match(r"(\d+) \." if tool == "qs" else r"f(\d+)", n)
            if m:
                at[int(m.group(1)) * (1 if tool == "qs" else 512)] = os.path.getsize(p)
    return hashes, at
results = [scan(folders[0], "qs"), scan(folders[1], "pr")]
kinds = sorted({k for *_, k in known}, key=lambda k: (k == "split in two", k))
print("%-14s %6s  %-30s  %-30s" % ("kind", "files", "qsalvage: same (other length)", "photorec: same (other length)"))
totals = [0, 0]
for k in kinds:
    mine = [f for f in known if f[3] == k]
    cells = []
    for t, r in enumerate(results):
        if r is None:
            cells.append("-")
            continue
        hashes, at = r
        same = sum(f[2] in hashes for f in mine)
        longer = sum(f[2] not in hashes and at.get(f[0], -1) > f[1] for f in mine)
        shorter = sum(f[2] not in hashes and 0 <= at.get(f[0], -1) < f[1] for f in mine)
        totals[t] += same
        cells.append("%d (%d longer, %d shorter)" % (same, longer, shorter))
    print("%-14s %6d  %-30s  %-30s" % (k, len(mine), cells[0], cells[1]))
print(len(known), totals[0] if results[0] else -1, totals[1],
      written[0][0], written[0][1] >> 20, written[1][0], written[1][1] >> 20)
EOF
}

# --------------------------------------------------------------- timing ----

stage "carving $(basename "$image") ($DISK_MIB MiB): qsalvage carve vs PhotoRec $(photorec /version | awk '/^Version/ { print $2 }'), best of $RUNS, into $outputs"
log "   photorec /log /d DIR/recup /cmd $raw $pr_opts"

# Warm-up: one run each, so both then read the disk from the page cache;
# their outputs are kept for the recall.
pr_into "$outputs/pr-0"
log "   warm-up photorec     ${run_seconds}s  (user ${run_user}s sys ${run_sys}s, rss $(( run_rss_kib / 1024 )) MiB)"
pr_log=$outputs/pr-0/photorec.log
# A family name PhotoRec does not know ends its reading of /cmd before the
# search, with nothing carved and status 0.
grep -qE 'signatures? enabled' "$pr_log" ||
    die "PhotoRec searched nothing; is every name in BENCH_PHOTOREC_FAMILIES=$FAMILIES one of its families? (see its photorec.log)"
log "   photorec: $(grep -m1 -E 'signatures? enabled' "$pr_log" || true); $(grep -m1 -E '^blocksize=' "$pr_log" || true);" \
    "$(grep -m1 -E '^Total: ' "$pr_log" || echo 'no total in photorec.log')"

qs_missing=
qs_fallback() {
    qs_args=(--start-sector 0 --fs RAW --size-mb "$DISK_MIB")
    log "   this carve takes no --disk: $(head -n 1 "$work/err.txt"); giving it the disk as a custom volume instead"
}
run_may_fail=1
qs_into "$outputs/qs-0" "$work/carve.json"
if (( run_failed )) && head -n 1 "$work/err.txt" | grep -qi -- 'unknown option --disk'; then
    qs_fallback
    rm -rf -- "$outputs/qs-0"
    qs_into "$outputs/qs-0" "$work/carve.json"
fi
run_may_fail=0
if (( run_failed )); then
    if head -n 1 "$work/err.txt" | grep -qiE 'unknown command|not available yet'; then
        qs_missing=$(head -n 1 "$work/err.txt")
        qs_missing=${qs_missing#qsalvage: }
        log "   this qsalvage cannot carve: $qs_missing"
        rm -rf -- "$outputs/qs-0"
    else
        log "FAILED: $qsalvage carve $image ${qs_args[*]} --output DIR --json"
        tail -n "$run_err_lines" "$work/err.txt" | sed 's/^/  | /' >&2 || true
        exit 1
    fi
else
    log "   warm-up qsalvage     ${run_seconds}s  (user ${run_user}s sys ${run_sys}s, rss $(( run_rss_kib / 1024 )) MiB)"
    log "   qsalvage: $(python3 - "$work/carve.json" <<'EOF'
import collections, json, sys
try:
    files = json.load(open(sys.argv[1], encoding="utf-8"))["files"]
except (ValueError, KeyError, TypeError) as e:
    print("its --json output holds no file list (%s)" % e)
    sys.exit()
by = collections.Counter(f.get("category", "?") for f in files)
print("%d files carved: %s" % (len(files), ", ".join("%s %d" % kv for kv in sorted(by.items()))))
EOF
)"
fi

# The table goes into the summary; the log gets the totals.
recall "$list" "$outputs/qs-0" "$outputs/pr-0" >"$work/recall.txt"
read -r known_n qs_same pr_same qs_written qs_written_mib pr_written pr_written_mib < <(tail -n 1 "$work/recall.txt")
log "   written out byte for byte: qsalvage $( (( qs_same >= 0 )) && echo "$qs_same" || echo -), photorec $pr_same, of $known_n"
log "   written in all: qsalvage $qs_written files, $qs_written_mib MiB; photorec $pr_written files, $pr_written_mib MiB"
rm -rf -- "$outputs/qs-0" "$outputs/pr-0"

# Each output goes right after its run, so every run starts alike: the
# disk cached, the previous output's memory just freed.
t_qs=() t_pr=()
time_pr() {
    pr_into "$outputs/pr-$r"; rm -rf -- "$outputs/pr-$r"
    t_pr+=("$run_seconds"); detail "$r" photorec
}
time_qs() {
    qs_into "$outputs/qs-$r" /dev/null; rm -rf -- "$outputs/qs-$r"
    t_qs+=("$run_seconds"); detail "$r" qsalvage
}
if [[ -z $qs_missing ]]; then
    alternate time_qs time_pr
    spread 8 qsalvage "${t_qs[@]}"
else
    for (( r = 1; r <= RUNS; r++ )); do time_pr; done
fi
spread 8 photorec "${t_pr[@]}"

# -------------------------------------------------------------- summary ----

printf '\nqsalvage carve vs PhotoRec %s, %d MiB %s disk image holding %d known files (%d MiB), best of %d runs\n' \
    "$(photorec /version | awk '/^Version/ { print $2 }')" "$DISK_MIB" "$FORMAT" "$known_n" "$(( made_bytes >> 20 ))" "$RUNS"
printf 'qsalvage: qsalvage carve %s %s --output DIR --json\n' "$(basename "$image")" "${qs_args[*]}"
printf 'photorec: photorec /log /d DIR/recup /cmd %s %s\n' "$(basename "$raw")" "$pr_opts"
sed '$d' "$work/recall.txt"
if [[ -z $qs_missing ]]; then
    printf 'written in all: qsalvage %d files, %d MiB; photorec %d files, %d MiB\n' \
        "$qs_written" "$qs_written_mib" "$pr_written" "$pr_written_mib"
fi
if [[ -n $qs_missing ]]; then
    printf 'time: qsalvage has no carve command (%s); photorec %.3f s; no ratio\n' "$qs_missing" "$(min_of "${t_pr[@]}")"
    printf 'recall: qsalvage -, photorec %d of %d\n' "$pr_same" "$known_n"
    log ""
    log "$bench_name: this qsalvage cannot carve; the disk is cached for when it can: $raw"
    exit 4
fi
read -r ratio time_verdict < <(verdict_ratio "$(min_of "${t_qs[@]}")" "$(min_of "${t_pr[@]}")" "$RATIO_TARGET")
recall_verdict=$( (( qs_same >= pr_same )) && echo PASS || echo FAIL)
printf 'time: qsalvage %.3f s, photorec %.3f s, ratio %s (target <= %s) %s\n' \
    "$(min_of "${t_qs[@]}")" "$(min_of "${t_pr[@]}")" "$ratio" "$RATIO_TARGET" "$time_verdict"
printf 'recall: qsalvage %d of %d, photorec %d of %d (target: qsalvage >= photorec) %s\n' \
    "$qs_same" "$known_n" "$pr_same" "$known_n" "$recall_verdict"
exit_by_verdicts "$time_verdict" "$recall_verdict"
