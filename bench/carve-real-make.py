# Builds the disk of bench/carve-real.sh; run by it, not by hand.
#
#   python3 carve-real-make.py STAGE RAW LIST VOLUME_MIB SEED
#
# Makes files of every kind with the programs that make them in real life,
# puts them on four volumes made by the file systems' own tools (ext2 and
# ext4: mke2fs and debugfs; FAT32: mkfs.fat and mtools; NTFS: mkntfs and the
# ntfs-3g driver on the volume file, through FUSE, no loop device), deletes
# some of them, fragments a few, and lays the volumes out behind an MBR on
# RAW. Writes LIST, one line per file placed: SHA-256, length, kind,
# volume, live or deleted, contiguous or fragmented (read back from the
# finished disk, not assumed: a file whose bytes do not follow each other
# on the disk is fragmented, which on ext2 is every file with an indirect
# block), its byte offset on the disk (where its first bytes are, -1 if
# nowhere), and its path on the volume. Prints the number of files and of
# bytes in them. Kinds no installed program writes are left out and named
# on stderr.
import hashlib, math, os, random, shutil, struct, subprocess, sys, time
from concurrent.futures import ThreadPoolExecutor

stage, raw, listing = map(os.path.abspath, sys.argv[1:4])
volume_mib, seed = int(sys.argv[4]), int(sys.argv[5])
rng = random.Random(seed)
started = time.time()
SECTOR, MIB = 512, 1 << 20
jobs = max(1, os.cpu_count() or 1)


def note(text):
    print("   %s (%.0f s)" % (text, time.time() - started), file=sys.stderr)


def run(args, stdin=None, out=None, cwd=None, may_fail=False):
    with open(out, "wb") if out else open(os.devnull, "wb") as sink:
        done = subprocess.run(args, stdout=sink, stderr=subprocess.PIPE, input=stdin, cwd=cwd,
                              stdin=None if stdin is not None else subprocess.DEVNULL)
    if done.returncode != 0:
        if may_fail:
            return False
        sys.exit("%s failed (status %d): %s" % (" ".join(args[:10]), done.returncode,
                                               done.stderr.decode(errors="replace").strip()[-600:]))
    return True


def parallel(calls):  # each call: a function of no arguments
    with ThreadPoolExecutor(jobs) as pool:
        for f in [pool.submit(c) for c in calls]:
            f.result()


def folder(name):
    path = os.path.join(stage, name)
    os.makedirs(path, exist_ok=True)
    return path


def log_uniform(lo, hi):
    return int(math.exp(rng.uniform(math.log(lo), math.log(hi))))


words = ("the of and to in is report total invoice date amount customer page summary "
         "quarter budget meeting project draft final review table figure section note "
         "Summe Betrag Kunde montant donnees 12.50 2019 04 01 alpha beta gamma delta").split()


def sentence(lo=4, hi=14):
    return " ".join(rng.choice(words) for _ in range(rng.randint(lo, hi)))


def text(size):
    out, n = [], 0
    while n < size:
        line = sentence()
        out.append(line)
        n += len(line) + 1
    return "\n".join(out)[:size] + "\n"


made = []      # (kind, path)
skipped = []   # kinds no installed program writes


def add(kind, path):
    if not os.path.isfile(path) or os.path.getsize(path) == 0:
        sys.exit("%s was not made" % path)
    made.append((kind, path))


def target(kind, i):
    return os.path.join(folder("files/" + kind), "%s%02d.%s" % (kind, i, kind))


# ---- pictures: cut from a plasma fractal, as a camera's or an editor's
W, H = 2400, 1800
base = os.path.join(folder("src"), "base.mpc")
# The grain is a sensor's: without it a photo compresses to a tenth of a
# camera's sizes.
run(["convert", "-seed", str(seed), "-size", "%dx%d" % (W, H), "plasma:fractal", "-blur", "0x1",
     "-attenuate", "0.5", "+noise", "Gaussian", base])


def crop(lo, hi):
    w = min(W, log_uniform(lo, hi))
    h = min(H, w * 3 // 4)
    return ["-crop", "%dx%d+%d+%d" % (w, h, rng.randrange(W - w + 1), rng.randrange(H - h + 1)), "+repage"]


def picture(kind, i, lo, hi, options, prefix=""):
    path = target(kind, i)
    args = ["convert", base] + crop(lo, hi) + options + [prefix + path]
    return path, lambda: run(args)


calls, thumbs = [], []
for i in range(10):
    path, call = picture("jpg", i, 640, 2400, ["-quality", str(rng.randint(80, 95)), "-sampling-factor", "2x2"])
    thumb = os.path.join(folder("src/thumbs"), "%02d.jpg" % i)
    calls.append(lambda call=call, path=path, thumb=thumb: (call(), run(["convert", path, "-thumbnail", "160x120", thumb])))
    thumbs.append((path, thumb))
    made.append(("jpg", path))
for kind, n, lo, hi, opts, prefix in [
        ("png", 6, 200, 1200, ["-define", "png:exclude-chunks=date,time"], "PNG24:"),
        ("gif", 4, 120, 800, ["-colors", "128"], ""),
        ("bmp", 4, 100, 600, [], "BMP3:"),
        ("tif", 4, 150, 900, ["-compress", "LZW"], ""),
        ("ppm", 2, 100, 500, [], ""),
        ("pgm", 2, 100, 600, ["-colorspace", "Gray"], ""),
        ("psd", 2, 150, 600, [], ""),
        ("webp", 3, 300, 1600, ["-quality", "80"], ""),
        ("ico", 2, 256, 257, ["-define", "icon:auto-resize=256,64,48,32,16"], "")]:
    for i in range(n):
        path, call = picture(kind, i, lo, hi, opts, prefix)
        calls.append(call)
        made.append((kind, path))
parallel(calls)
# The EXIF block a camera writes: its make, model, date and a thumbnail,
# which is a second JPEG inside the picture.
args = []
for k, (path, thumb) in enumerate(thumbs):
    t = 1420070400 + rng.randrange(8 * 365 * 86400)
    args += ["-overwrite_original", "-Make=QSBench", "-Model=Phone %d" % (k % 3),
             "-DateTimeOriginal=" + time.strftime("%Y:%m:%d %H:%M:%S", time.gmtime(t)),
             "-ThumbnailImage<=" + thumb, path, "-execute"]
with open(os.path.join(stage, "src/exif.args"), "w") as f:
    f.write("\n".join(args) + "\n")
run(["exiftool", "-q", "-@", os.path.join(stage, "src/exif.args")])
for i in range(2):
    path = target("heic", i)
    if run(["convert", base] + crop(400, 1600) + [path], may_fail=True) and os.path.getsize(path) > 0:
        made.append(("heic", path))
    else:
        skipped.append("heic")
        break
note("pictures made")

# ---- documents: pandoc writes DOCX, ODT and EPUB from Markdown with a
# picture in it; Ghostscript writes PDF from PostScript pages.
pics = [p for k, p in made if k == "png"]
jpgs_for_pdf = [p for k, p in made if k == "jpg"]
calls = []
for kind in ("docx", "odt", "epub"):
    for i in range(3):
        md = os.path.join(folder("src/md"), "%s%d.md" % (kind, i))
        body = ["# " + sentence(2, 5).title(), ""]
        for s in range(log_uniform(3, 40)):
            body += ["## " + sentence(2, 4).title(), "", text(log_uniform(300, 3000)).replace("\n", " "), ""]
            if s % 5 == 1:
                body += ["| item | amount |", "|---|---|"] + ["| %s | %d.%02d |" % (rng.choice(words), rng.randrange(999), rng.randrange(100)) for _ in range(6)] + [""]
        if i % 3 != 2:
            body += ["![figure](%s)" % pics[(i + len(kind)) % len(pics)], ""]
        with open(md, "w") as f:
            f.write("\n".join(body))
        path = target(kind, i)
        calls.append(lambda md=md, path=path: run(["pandoc", "--resource-path", stage, "-o", path, md]))
        made.append((kind, path))
for i in range(4):
    if i % 2:   # a scan: a photo on a page (Ghostscript's own viewjpeg.ps)
        path = target("pdf", i)
        calls.append(lambda src=jpgs_for_pdf[i], path=path: run(
            ["gs", "-q", "-dSAFER", "-dNOPAUSE", "-dBATCH", "-sDEVICE=pdfwrite", "-sOutputFile=" + path,
             "--permit-file-read=" + src, "viewjpeg.ps", "-c", "(%s) viewJPEG showpage" % src]))
        made.append(("pdf", path))
        continue
    size = rng.choice([10, 11, 12])
    font = "/Times-Roman findfont %d scalefont setfont" % size
    page, y = [font], 770
    for _ in range(log_uniform(200, 3000)):
        if y < 40:
            page += ["showpage", font]
            y = 770
        page.append("40 %d moveto (%s) show" % (y, sentence(3, 12)))
        y -= size + 2
    ps = ("%!PS\n" + "\n".join(page + ["showpage"]) + "\n").encode()
    path = target("pdf", i)
    calls.append(lambda ps=ps, path=path: run(["gs", "-q", "-dSAFER", "-dNOPAUSE", "-dBATCH", "-sDEVICE=pdfwrite",
                                              "-sOutputFile=" + path, "-"], stdin=ps))
    made.append(("pdf", path))
# XLSX by openpyxl, Debian's spreadsheet writer for Python, in whichever
# interpreter has it.
XLSX = """import sys, openpyxl
wb = openpyxl.Workbook()
rows, seed = int(sys.argv[2]), int(sys.argv[3])
for n, ws in enumerate([wb.active, wb.create_sheet("Summary")]):
    ws.title = ws.title if n else "Invoices"
    ws.append(["id", "customer", "amount", "paid", "total"])
    for i in range(1, (rows if n == 0 else rows // 20) + 1):
        ws.append([i, "customer %d" % (i * 7919 % 1000), (i * seed % 100000) / 100.0, i % 3 == 0, "=C%d*1.19" % (i + 1)])
wb.save(sys.argv[1])
"""
with_openpyxl = [p for p in (sys.executable, "/usr/bin/python3")
                 if subprocess.run([p, "-c", "import openpyxl"], capture_output=True).returncode == 0]
for i in range(3 if with_openpyxl else 0):
    path = target("xlsx", i)
    calls.append(lambda path=path, rows=log_uniform(500, 20000): run(
        [with_openpyxl[0], "-c", XLSX, path, str(rows), str(seed % 9973)]))
    made.append(("xlsx", path))
if not with_openpyxl:
    skipped.append("xlsx")
parallel(calls)
note("documents made")

# ---- audio and video: ffmpeg, from noise and a test picture with grain,
# so that they are as large as recordings of their length.
FF = ["ffmpeg", "-nostdin", "-loglevel", "error", "-y"]
calls = []
audio = {"wav": ["-c:a", "pcm_s16le"], "mp3": ["-c:a", "libmp3lame", "-b:a", "128k"],
         "ogg": ["-c:a", "libvorbis", "-q:a", "4"], "flac": ["-c:a", "flac"],
         "m4a": ["-c:a", "aac", "-b:a", "128k"]}
for kind, codec in audio.items():
    for i in range(3):
        secs = log_uniform(4, 40 if kind != "wav" else 12)
        src = "anoisesrc=d=%d:c=pink:r=44100:a=0.2:s=%d" % (secs, seed + i)
        path = target(kind, i)
        calls.append(lambda src=src, codec=codec, path=path: run(
            FF + ["-f", "lavfi", "-i", src, "-ac", "2"] + codec + [path]))
        made.append((kind, path))
video = {"avi": ["-c:v", "mpeg4", "-q:v", "5", "-c:a", "libmp3lame"],
         "mp4": ["-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-c:a", "aac"],
         "mov": ["-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-c:a", "aac"],
         "mkv": ["-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-c:a", "libvorbis"],
         "webm": ["-c:v", "libvpx", "-deadline", "realtime", "-cpu-used", "8", "-b:v", "1M", "-c:a", "libvorbis"],
         "mpg": ["-c:v", "mpeg2video", "-q:v", "5", "-c:a", "mp2", "-f", "vob"]}
for kind, codec in video.items():
    for i in range(3 if kind != "mp4" else 4):
        secs = log_uniform(2, 8) if i < 3 else 15   # one longer clip, as phones make
        v = "testsrc2=size=%s:rate=25:d=%d" % (rng.choice(["640x360", "854x480"]), secs)
        a = "anoisesrc=d=%d:c=pink:r=44100:a=0.1:s=%d" % (secs, seed + i)
        path = target(kind, i)
        calls.append(lambda v=v, a=a, codec=codec, path=path: run(
            FF + ["-f", "lavfi", "-i", v, "-f", "lavfi", "-i", a, "-vf", "noise=alls=12:allf=t"] + codec + [path]))
        made.append((kind, path))
parallel(calls)
note("audio and video made")

# ---- databases, archives, programs
calls = []
for i in range(3):
    path = target("sqlite", i)
    rows = log_uniform(500, 20000)
    sql = ("CREATE TABLE invoice(id INTEGER PRIMARY KEY, customer TEXT, amount REAL, note TEXT);\n"
           "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %d)\n"
           "INSERT INTO invoice SELECT i, 'customer ' || (i * 7919 %% 1000), (i * 31 %% 10000) / 100.0,"
           " substr('%s', 1 + i %% 200, 40 + i %% 60) FROM n;\n"
           "CREATE INDEX by_customer ON invoice(customer);\n") % (rows, text(400).replace("\n", " ").replace("'", ""))
    calls.append(lambda sql=sql, path=path: run(["sqlite3", path], stdin=sql.encode()))
    made.append(("sqlite", path))
texts = []
for i in range(8):
    p = os.path.join(folder("src/text"), "notes %d.txt" % i)
    with open(p, "w") as f:
        f.write(text(log_uniform(4000, 600000)))
    texts.append(p)
jpgs = [p for k, p in made if k == "jpg"]
for i in range(3):
    members = [texts[(i + j) % len(texts)] for j in range(3)] + ([jpgs[i], pics[i]] if i != 1 else [])
    path = target("zip", i)
    calls.append(lambda members=members, path=path: run(["zip", "-q", "-j", "-X", path] + members))
    made.append(("zip", path))
for i in range(2):
    path = target("7z", i)
    members = [texts[(i * 3 + j) % len(texts)] for j in range(2)] + [jpgs[3 + i]]
    calls.append(lambda members=members, path=path: run(["7z", "a", "-bd", "-y", path] + members))
    made.append(("7z", path))
for kind, tool in (("xz", ["xz", "-c"]), ("bz2", ["bzip2", "-c"]), ("gz", ["gzip", "-c", "-9"])):
    for i in range(2):
        path = target(kind, i)
        src = texts[(i * 2 + len(kind)) % len(texts)]
        calls.append(lambda tool=tool, src=src, path=path: run(tool + [src], out=path))
        made.append((kind, path))
skipped.append("rar")
for i in range(3):
    c = os.path.join(folder("src/c"), "prog%d.c" % i)
    table = ",".join(str(rng.randrange(1 << 31)) for _ in range(log_uniform(100, 40000)))
    with open(c, "w") as f:
        f.write('#include <stdio.h>\nstatic const unsigned t[] = {%s};\n'
                'int main(int c, char **v) { unsigned s = 0; for (unsigned i = 0; i < sizeof t / sizeof *t; ++i)'
                ' s += t[i] ^ (unsigned)c; printf("%%u %%s\\n", s, v[0]); return 0; }\n' % table)
    path = target("elf", i)
    calls.append(lambda c=c, path=path, i=i: run(["gcc", "-O1"] + (["-static"] if i == 2 else []) + ["-o", path, c]))
    made.append(("elf", path))
    if i < 2:
        if shutil.which("x86_64-w64-mingw32-gcc"):
            path = target("exe", i)
            calls.append(lambda c=c, path=path: run(["x86_64-w64-mingw32-gcc", "-O1", "-o", path, c]))
            made.append(("exe", path))
        elif "exe" not in skipped:
            skipped.append("exe")
parallel(calls)
note("databases, archives and programs made")


# ---- text: scripts, markup, data, mail
def write_text(kind, i, content):
    path = target(kind, i)
    with open(path, "w") as f:
        f.write(content)
    made.append((kind, path))


for i in range(3):
    lines = ["#!/bin/sh", "# " + sentence(), "set -e"]
    while sum(map(len, lines)) < log_uniform(2000, 60000):
        lines += ['if [ -f "$%d" ]; then' % rng.randrange(1, 9), '    echo "%s"' % sentence(), "fi",
                  "cp -- \"%s.txt\" \"/tmp/%s\"" % (rng.choice(words), rng.choice(words))]
    write_text("sh", i, "\n".join(lines) + "\n")
    lines = ["#!/usr/bin/env python3", '"""%s"""' % sentence(), "import os, sys", ""]
    while sum(map(len, lines)) < log_uniform(2000, 60000):
        lines += ["def %s_%d(x):" % (rng.choice(words).replace(".", ""), len(lines)),
                  "    return x * %d + len(%r)" % (rng.randrange(100), sentence()), ""]
    write_text("py", i, "\n".join(lines) + "\n")
for i in range(2):
    items = "".join('  <item id="%d"><name>%s</name><amount>%d.%02d</amount></item>\n' %
                    (k, sentence(1, 4), rng.randrange(999), rng.randrange(100)) for k in range(log_uniform(50, 4000)))
    write_text("xml", i, '<?xml version="1.0" encoding="UTF-8"?>\n<items>\n%s</items>\n' % items)
    paras = "".join("<p>%s</p>\n" % text(log_uniform(100, 1500)).replace("\n", " ") for _ in range(log_uniform(10, 200)))
    write_text("html", i, "<!DOCTYPE html>\n<html>\n<head><meta charset=\"utf-8\"><title>%s</title></head>\n"
               "<body>\n%s</body>\n</html>\n" % (sentence(2, 5), paras))
    rows = ",\n".join('  {"id": %d, "customer": "%s", "amount": %d.%02d, "paid": %s}' %
                      (k, sentence(1, 3), rng.randrange(999), rng.randrange(100), rng.choice(["true", "false"]))
                      for k in range(log_uniform(50, 4000)))
    write_text("json", i, "{\"invoices\": [\n%s\n]}\n" % rows)
    mails = []
    for k in range(log_uniform(5, 120)):
        t = time.gmtime(1420070400 + rng.randrange(8 * 365 * 86400))
        mails.append("From someone%d@example.org %s\nFrom: Someone <someone%d@example.org>\nTo: me@example.org\n"
                     "Subject: %s\nDate: %s\nMessage-ID: <%d.%d@example.org>\n\n%s\n"
                     % (k, time.strftime("%a %b %d %H:%M:%S %Y", t), k, sentence(2, 6),
                        time.strftime("%a, %d %b %Y %H:%M:%S +0000", t), i, k, text(log_uniform(200, 5000))))
    write_text("mbox", i, "".join(mails))
note("%d files of %d kinds made%s" % (len(made), len({k for k, _ in made}),
                                     "; no program here writes " + ", ".join(skipped) if skipped else ""))

# ---- the volumes
FS = ["ext2", "ext4", "fat32", "ntfs"]
FOLDERS = {"jpg": "DCIM", "png": "Pictures", "gif": "Pictures", "bmp": "Pictures", "tif": "Pictures",
           "ppm": "Pictures", "pgm": "Pictures", "psd": "Pictures", "webp": "Pictures", "ico": "Pictures",
           "heic": "DCIM", "docx": "Documents", "xlsx": "Documents", "odt": "Documents", "epub": "Documents",
           "pdf": "Documents",
           "wav": "Music", "mp3": "Music", "ogg": "Music", "flac": "Music", "m4a": "Music",
           "avi": "Videos", "mp4": "Videos", "mov": "Videos", "mkv": "Videos", "webm": "Videos", "mpg": "Videos",
           "sqlite": "Data", "zip": "Archives", "7z": "Archives", "xz": "Archives", "bz2": "Archives",
           "gz": "Archives", "elf": "Programs", "exe": "Programs", "sh": "Scripts", "py": "Scripts",
           "xml": "Data", "html": "Data", "json": "Data", "mbox": "Mail"}
plan = [[] for _ in FS]   # per volume: (kind, source, path on the volume)
by_kind = {}
for kind, path in made:
    by_kind.setdefault(kind, []).append(path)
for n, (kind, paths) in enumerate(sorted(by_kind.items())):
    for i, p in enumerate(paths):
        plan[(i + n) % len(FS)].append((kind, p, "%s/%s" % (FOLDERS[kind], os.path.basename(p))))
deleted = set()
fragment = [set() for _ in FS]   # the files written into a hole left by a deleted filler
for v, files in enumerate(plan):
    rng.shuffle(files)
    for i, (_, _, rel) in enumerate(files):
        if i % 3 == 1:
            deleted.add((v, rel))
    big = sorted((f for f in files if os.path.getsize(f[1]) > 128 * 1024),
                 key=lambda f: (f[0] not in ("jpg", "zip", "pdf", "mp4", "docx", "png"), -os.path.getsize(f[1])))
    fragment[v] = {f[2] for f in big[:3]}
    # Those go first, while the volume is empty and its allocator takes
    # the lowest free blocks: the hole of the filler, then after it.
    files.sort(key=lambda f: f[2] not in fragment[v])
vol_bytes = volume_mib * MIB


def filler(name, size):
    path = os.path.join(folder("src/fill"), name)
    with open(path, "wb") as f:
        f.write(rng.randbytes(size))
    return path


def ext_volume(v, fs, img):
    run(["mke2fs", "-q", "-F", "-t", fs, "-b", "4096", "-L", fs, "-E", "root_owner=0:0", img, "%dk" % (vol_bytes // 1024)])
    cmds = []
    for d in sorted({os.path.dirname(rel) for _, _, rel in plan[v]}):
        cmds.append("mkdir /" + d)
    for kind, src, rel in plan[v]:
        if rel in fragment[v]:
            size = os.path.getsize(src)
            hole = filler("%d-%s.hole" % (v, kind), max(4096, size // 3 // 4096 * 4096))
            wedge = filler("%d-%s.wedge" % (v, kind), 16384)
            cmds += ['write %s /hole.tmp' % hole, 'write %s /%s.wedge' % (wedge, rel), "rm /hole.tmp"]
        cmds.append('write %s /%s' % (src, rel))
    cmds += ['rm /%s' % rel for _, _, rel in plan[v] if (v, rel) in deleted]
    with open(img + ".cmds", "w") as f:
        f.write("\n".join(cmds) + "\n")
    run(["debugfs", "-w", "-f", img + ".cmds", img])


def fat_volume(v, start, img):
    run(["mkfs.fat", "-F", "32", "-h", str(start), "-n", "FAT32", "-C", img, str(vol_bytes // 1024)])
    for d in sorted({os.path.dirname(rel) for _, _, rel in plan[v]}):
        run(["mmd", "-i", img, "::/" + d])
    for kind, src, rel in plan[v]:
        if rel in fragment[v]:
            size = os.path.getsize(src)
            run(["mcopy", "-i", img, filler("%d-%s.hole" % (v, kind), max(4096, size // 3 // 4096 * 4096)), "::/hole.tmp"])
            run(["mcopy", "-i", img, filler("%d-%s.wedge" % (v, kind), 16384), "::/%s.wdg" % rel])
            run(["mdel", "-i", img, "::/hole.tmp"])
            # mtools takes the next free cluster from the FSInfo sector's
            # hint, which points past the wedge; an unknown hint makes it
            # search from the start, as after a check of the volume, and
            # the hole is the first free run it finds.
            with open(img, "r+b") as f:
                f.seek(48)
                fsinfo = struct.unpack("<H", f.read(2))[0]
                f.seek(fsinfo * SECTOR + 492)
                f.write(b"\xff\xff\xff\xff")
        run(["mcopy", "-i", img, src, "::/" + rel])
    for _, _, rel in plan[v]:
        if (v, rel) in deleted:
            run(["mdel", "-i", img, "::/" + rel])


def ntfs_volume(v, start, img):
    with open(img, "wb") as f:
        f.truncate(vol_bytes)
    run(["mkntfs", "-F", "-f", "-q", "-L", "NTFS", "-s", "512", "-p", str(start), "-H", "255", "-S", "63", img])
    mnt = folder("mnt")
    run(["ntfs-3g", "-o", "noatime", img, mnt])
    try:
        def put(src, rel):
            os.makedirs(os.path.dirname(os.path.join(mnt, rel)), exist_ok=True)
            with open(src, "rb") as i, open(os.path.join(mnt, rel), "wb") as o:
                shutil.copyfileobj(i, o, MIB)
                o.flush()
                os.fsync(o.fileno())
        for kind, src, rel in plan[v]:
            if rel in fragment[v]:
                size = os.path.getsize(src)
                put(filler("%d-%s.hole" % (v, kind), max(4096, size // 3 // 4096 * 4096)), "hole.tmp")
                put(filler("%d-%s.wedge" % (v, kind), 16384), rel + ".wedge")
                os.remove(os.path.join(mnt, "hole.tmp"))
                os.sync()
            put(src, rel)
        for _, _, rel in plan[v]:
            if (v, rel) in deleted:
                os.remove(os.path.join(mnt, rel))
        os.sync()
    finally:
        run(["umount", mnt])


# The disk: an MBR, then the four volumes, each starting on a MiB.
starts = [(1 + v * (volume_mib + 1)) * MIB for v in range(len(FS))]
disk_bytes = starts[-1] + vol_bytes + MIB
with open(raw, "wb") as f:
    f.truncate(disk_bytes)
types = {"ext2": "83", "ext4": "83", "fat32": "c", "ntfs": "7"}
table = "label: dos\nunit: sectors\n" + "".join(
    "start=%d, size=%d, type=%s\n" % (s // SECTOR, vol_bytes // SECTOR, types[fs]) for s, fs in zip(starts, FS))
run(["sfdisk", "-q", raw], stdin=table.encode())
for v, fs in enumerate(FS):
    img = os.path.join(folder("volumes"), fs + ".img")
    if fs.startswith("ext"):
        ext_volume(v, fs, img)
    elif fs == "fat32":
        fat_volume(v, starts[v] // SECTOR, img)
    else:
        ntfs_volume(v, starts[v] // SECTOR, img)
    run(["dd", "if=" + img, "of=" + raw, "bs=1M", "seek=%d" % (starts[v] // MIB), "conv=notrunc,sparse"])
    os.remove(img)
    note("%s volume written: %d files, %d deleted" % (fs, len(plan[v]), sum((v, r) in deleted for _, _, r in plan[v])))

# Where each file ended up: at a sector where its first bytes are and all
# of it follows (contiguous), or only its first bytes (fragmented).
with open(raw, "rb") as f:
    disk = f.read()
total = 0
with open(listing, "w") as out:
    for v, files in enumerate(plan):
        lo, hi = starts[v], starts[v] + vol_bytes
        for kind, src, rel in files:
            data = open(src, "rb").read()
            head = data[:4096]
            layout, offset, at = "fragmented", -1, disk.find(head, lo, hi)
            while at >= 0:
                if at % SECTOR == 0:
                    if offset < 0:
                        offset = at
                    if disk[at:at + len(data)] == data:
                        layout, offset = "contiguous", at
                        break
                at = disk.find(head, at + 1, hi)
            if offset < 0:
                layout = "overwritten"
            total += len(data)
            out.write("%s\t%d\t%s\t%s\t%s\t%s\t%d\t%s\n" % (
                hashlib.sha256(data).hexdigest(), len(data), kind, FS[v],
                "deleted" if (v, rel) in deleted else "live", layout, offset, rel))
print(sum(map(len, plan)), total)
