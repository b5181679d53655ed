#!/usr/bin/env bash
# Builds the seed corpora from the test fixtures: the start of each image,
# enough to hold its headers, tables and a first data block, so the fuzzer
# mutates real structures without megabytes of payload.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
data="$here/../tests/data"
out=${1:?usage: make-seeds.sh OUTPUT_DIR}
mkdir -p "$out"/{vhdx,vhd,vdi,vmdk,qcow2,raw,partition,lznt1,mftrecord,carve,extjournal,ntfs,fat16,fat32,exfat,ext,hfsplus}
seed() { # fixture, folder, bytes
    xz -dc "$data/$1.xz" | head -c "$3" > "$out/$2/$1" || true
}
seed numbered-1m.vhdx vhdx $((4 * 1024 * 1024 + 64 * 1024))
seed numbered-default.vhdx vhdx $((3 * 1024 * 1024 + 64 * 1024))
# A log never applied: headers, the log (1-2 MiB), the BAT and the metadata.
seed vhdx-log.vhdx vhdx $((4 * 1024 * 1024))
# A checkpoint: its parent locator (metadata at 3 MiB), the BAT with its
# partially present block and sector-bitmap entry, and that block's start.
seed diff-child.avhdx vhdx $((4 * 1024 * 1024 + 64 * 1024))
seed numbered-dynamic.vhd vhd $((64 * 1024))
# A differencing child: its parent locators and first block's sector bitmap.
seed diff-child.vhd vhd $((64 * 1024))
# Damaged block tables: block 0's entry given a state the format does not
# define, and marked present at file offset 0.
python3 - "$out/vhdx/numbered-1m.vhdx" <<'PY'
import struct, sys
path = sys.argv[1]
data = bytearray(open(path, 'rb').read())
table = 192 * 1024
count = struct.unpack_from('<I', data, table + 8)[0]
bat = next(struct.unpack_from('<Q', data, table + 16 + 32 * i + 16)[0] for i in range(min(count, 2047))
           if data[table + 16 + 32 * i:table + 20 + 32 * i] == bytes.fromhex('6677c22d'))
for name, entry in (('bat-undefined-state', (8 << 20) | 4), ('bat-zero-offset', 6)):
    damaged = bytearray(data)
    struct.pack_into('<Q', damaged, bat, entry)
    open(path.replace('numbered-1m', name), 'wb').write(damaged)
PY
seed numbered.vdi vdi $((1024 * 1024 + 4096))
# A snapshot: its header names a parent by UUID, its map marks blocks zero.
seed diff-child.vdi vdi $((64 * 1024))
seed numbered.vmdk vmdk $((256 * 1024))
# qcow2: header, L1 and the first L2 table and clusters; compressed clusters;
# 512-byte clusters (many L2 tables); a child whose backing file is absent.
seed numbered.qcow2 qcow2 $((512 * 1024))
seed numbered-compressed.qcow2 qcow2 $((400 * 1024))
seed numbered-v2.qcow2 qcow2 $((256 * 1024))
seed chain-child.qcow2 qcow2 $((512 * 1024))
# Stream-optimized (deflated grains behind markers), a snapshot's sparse
# extent with its parent hint, and a descriptor file naming its extents.
seed vmdk-streamOptimized.vmdk vmdk $((256 * 1024))
seed vmdk-snapshot.vmdk vmdk $((256 * 1024))
seed vmdk-twoGbMaxExtentFlat.vmdk vmdk 4096
# A fixed VHD keeps its footer at the end: take the footer alone and with a sector.
xz -dc "$data/numbered-fixed.vhd.xz" | tail -c 1024 > "$out/vhd/numbered-fixed-tail.vhd"
seed numbered-default.vhdx raw $((64 * 1024))
# Partition tables and boot records: the sample disk's protective MBR and
# GPT, then (for the search) the first sectors of each of its volumes.
mkdir -p "$out/partition"
raw="$out/sample.raw.tmp"
xz -dc "$data/sample.vhdx.xz" > "$out/sample.vhdx.tmp"
qemu-img convert -f vhdx -O raw "$out/sample.vhdx.tmp" "$raw"
dd if="$raw" of="$out/partition/sample-gpt" bs=512 count=34 status=none
cp "$out/partition/sample-gpt" "$out/partition/sample-gpt-volumes"
for start in 2048 67584 149504 215040; do
    dd if="$raw" bs=512 skip=$start count=4 status=none >> "$out/partition/sample-gpt-volumes"
done
# The sample's FAT32 and exFAT volumes up to their first files: boot
# region, FATs and the first clusters of the data.
dd if="$raw" of="$out/fat32/sample-fat32" bs=512 skip=67584 count=2048 status=none
dd if="$raw" of="$out/exfat/sample-exfat" bs=512 skip=149504 count=4608 status=none
# The same with their boot sectors zeroed, for the searches of the advanced mode.
for fs in fat32 exfat; do
    cp "$out/$fs/sample-$fs" "$out/$fs/sample-$fs-noboot"
    dd if=/dev/zero of="$out/$fs/sample-$fs-noboot" bs=512 count=24 conv=notrunc status=none
done
# The sample's ext4 volume (1 KiB blocks): superblock, descriptors, bitmaps,
# inode tables and the first directories and files.
dd if="$raw" of="$out/ext/sample-ext4" bs=512 skip=215040 count=4096 status=none
rm -f "$raw" "$out/sample.vhdx.tmp"
# The ext2 and ext4 volumes of the undelete fixture (block maps, extents):
# deleted inodes that keep their maps, names in directory slack, a deleted
# folder, an orphan, blocks taken again. The first MiB holds them all.
xz -dc "$data/undelete-ext.img.xz" > "$out/undelete-ext.tmp"
dd if="$out/undelete-ext.tmp" of="$out/ext/undelete-ext2" bs=512 skip=2048 count=2048 status=none
dd if="$out/undelete-ext.tmp" of="$out/ext/undelete-ext4" bs=512 skip=30720 count=2048 status=none
rm -f "$out/undelete-ext.tmp"
# The journals of the journal-undelete fixture's ext3 (1 KiB blocks, 8-byte
# tags) and ext4 (4 KiB blocks, 16-byte tags) volumes, as debugfs reads the
# journal file out, cut to their first 256 blocks: superblock and the first
# transactions.
if [[ -f "$data/undelete-journal.img.xz" ]]; then
    xz -dc "$data/undelete-journal.img.xz" > "$out/journal.img.tmp"
    for v in "3 2048 16384" "4 18432 32768"; do
        read -r ext start sectors <<<"$v"
        dd if="$out/journal.img.tmp" of="$out/journal.vol.tmp" bs=512 skip="$start" count="$sectors" status=none
        debugfs -R "dump <8> $out/journal.tmp" "$out/journal.vol.tmp" >/dev/null 2>&1 || true
        if [[ -f "$out/journal.tmp" ]]; then
            bs=$(( ext == 3 ? 1024 : 4096 ))
            head -c $((256 * bs)) "$out/journal.tmp" > "$out/extjournal/ext$ext-journal"
        fi
        rm -f "$out/journal.vol.tmp" "$out/journal.tmp"
    done
    rm -f "$out/journal.img.tmp"
fi
# The HFS+ volume behind the Apple partition map of hfsplus.img (sector 128).
xz -dc "$data/hfsplus.img.xz" | tail -c +$((128 * 512 + 1)) | head -c $((1024 * 1024)) > "$out/hfsplus/hfsplus" || true
# The HFS+ volume with deleted catalog records: its first MiB holds the
# whole catalog, deleted records in the leaf nodes included.
if [[ -f "$data/undelete-hfsplus.img.xz" ]]; then
    xz -dc "$data/undelete-hfsplus.img.xz" | tail -c +$((688 * 512 + 1)) | head -c $((1024 * 1024)) \
        > "$out/hfsplus/undelete-hfsplus" || true
fi
# The NTFS volume ntfs-3g deleted from: MFT (with a deleted file's freed
# extension records), $Bitmap and the first files' clusters.
if [[ -f "$data/undelete-ntfs.img.xz" ]]; then
    xz -dc "$data/undelete-ntfs.img.xz" | tail -c +$((2048 * 512 + 1)) | head -c $((2 * 1024 * 1024)) \
        > "$out/ntfs/undelete-ntfs" || true
fi
# The FAT16 fixture's volume up to its first files (2 KiB clusters; the
# FATs and the root region take the first 200 KiB or so).
xz -dc "$data/fat16.vhdx.xz" > "$out/fat16.vhdx.tmp"
qemu-img convert -f vhdx -O raw "$out/fat16.vhdx.tmp" "$out/fat16.raw.tmp"
dd if="$out/fat16.raw.tmp" of="$out/fat16/fat16" bs=512 skip=2048 count=2048 status=none
rm -f "$out/fat16.vhdx.tmp" "$out/fat16.raw.tmp"
# Volumes known only by their backups: the MBR, the wiped exFAT volume's
# backup boot region and its FAT (table scan and search both place it by
# them); and a disk with no partition table, ext4 from sector 0.
xz -dc "$data/backup-volumes.img.xz" | head -c $((4100 * 512)) > "$out/partition/backup-volumes-head" || true
xz -dc "$data/nopart-ext4.vhdx.xz" > "$out/nopart.vhdx.tmp"
qemu-img convert -f vhdx -O raw "$out/nopart.vhdx.tmp" "$out/nopart.raw.tmp"
dd if="$out/nopart.raw.tmp" of="$out/partition/nopart-ext4-head" bs=512 count=8 status=none
rm -f "$out/nopart.vhdx.tmp" "$out/nopart.raw.tmp"
for disk in mbr-mixed mbr-gap gpt-mixed; do
    xz -dc "$data/$disk.img.xz" | head -c $((34 * 512)) > "$out/partition/$disk" || true
done
# Compression units cut from files an ntfs-3g mount compressed.
for unit in "$data"/lznt1/*.lznt1.xz; do
    xz -dc "$unit" > "$out/lznt1/$(basename "$unit" .xz)"
done
# MFT records of the NTFS fixture: the volume's own files, folders, a file
# with many runs and one with an attribute list (records 0-127).
xz -dc "$data/ntfs-features.vhdx.xz" > "$out/ntfs.vhdx.tmp"
qemu-img convert -f vhdx -O raw "$out/ntfs.vhdx.tmp" "$out/ntfs.raw.tmp"
python3 - "$out/ntfs.raw.tmp" "$out/mftrecord" <<'PY'
import struct, sys
disk = open(sys.argv[1], "rb")
volume = 2048 * 512
disk.seek(volume)
boot = disk.read(512)
cluster = struct.unpack_from("<H", boot, 11)[0] * boot[13]
mft = struct.unpack_from("<Q", boot, 48)[0] * cluster
for record in range(128):
    disk.seek(volume + mft + record * 1024)
    data = disk.read(1024)
    if data[:4] == b"FILE":
        open("%s/record-%03d" % (sys.argv[2], record), "wb").write(data)
PY
# The NTFS volume's start (boot sector, MFT at 16 KiB, the first clusters),
# as it is and with the boot sector zeroed for the MFT searches.
dd if="$out/ntfs.raw.tmp" of="$out/ntfs/ntfs-features" bs=512 skip=2048 count=4096 status=none
cp "$out/ntfs/ntfs-features" "$out/ntfs/ntfs-features-noboot"
dd if=/dev/zero of="$out/ntfs/ntfs-features-noboot" bs=512 count=1 conv=notrunc status=none
rm -f "$out/ntfs.vhdx.tmp" "$out/ntfs.raw.tmp"
# Raw recovery: no settings records (first byte 0), then the start of the
# carving fixture's volume, where files of every default type lie.
if [[ -f "$data/carve.img.xz" ]]; then
    { printf '\0'; xz -dc "$data/carve.img.xz" | head -c $((1024 * 1024)) || true; } > "$out/carve/carve-start"
fi
# A sector holding a small PNG, for a quick first find.
printf '\0\211PNG\r\n\032\n\0\0\0\rIHDR\0\0\0\1\0\0\0\1\010\002\0\0\0\0\0\0\0\0\0\0\0IEND\256B`\202' > "$out/carve/tiny-png"
# Text kinds, each followed by the zeros of its block: a script, an SVG,
# JSON, a mailbox message.
printf '\0#!/usr/bin/env python3\nprint("hi")\n' > "$out/carve/text-script"
printf '\0<?xml version="1.0"?>\n<!-- c -->\n<svg xmlns="http://www.w3.org/2000/svg"/>\n' > "$out/carve/text-svg"
printf '\0{"a": [1, -2.5e3, true, null, {"b": "\\u00e9"}]}\n' > "$out/carve/text-json"
printf '\0From a@b.c Thu Dec 10 15:35:04 2026\nFrom: a@b.c\nSubject: s\n\nbody\n' > "$out/carve/text-mbox"
for f in "$out"/carve/text-*; do truncate -s 1025 "$f"; done
# The same volumes with one field damaged as tests/hostile damages them:
# a zeroed MFT, folders that are each other's parent, sizes far beyond the
# volume, an inode table past the end, an absurd reserved-sector count,
# catalog record offsets outside their node. Cut back to the seed's size
# where the damage lies beyond it.
damage() { # seed folder, seed, new name, damage...
    local from="$out/$1/$2" to="$out/$1/$3"
    [[ -f "$from" ]] || return 0
    cp "$from" "$to"
    python3 "$here/../tests/fixtures/damage-volume.py" "$to" 0 "${@:4}" >/dev/null 2>&1 || { rm -f "$to"; return 0; }
    truncate -s "$(stat -c %s "$from")" "$to"
}
damage ntfs undelete-ntfs undelete-ntfs-zero-mft ntfs-zero-mft
damage ntfs undelete-ntfs undelete-ntfs-loop ntfs-loop Docs Frag
damage ntfs undelete-ntfs undelete-ntfs-oversize ntfs-size report.txt
damage ext undelete-ext2 undelete-ext2-inode-table ext-inode-table
damage ext undelete-ext2 undelete-ext2-oversize ext-size 24
damage ext undelete-ext2 undelete-ext2-dotdot ext-dotdot
damage fat16 fat16 fat16-reserved fat-reserved
damage hfsplus hfsplus hfsplus-offsets hfs-offsets
damage hfsplus hfsplus hfsplus-loop hfs-loop Documents notes
