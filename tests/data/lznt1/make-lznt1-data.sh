#!/usr/bin/env bash
# Remakes the LZNT1 test units in this folder: files are written through an
# ntfs-3g mount into a folder marked compressed, then the raw clusters of
# each file's first compression unit are cut out of the volume with the
# cluster list Sleuth Kit's istat gives. Needs root (FUSE mount), mkntfs,
# ntfs-3g, sleuthkit, python3 and xz. Usage: make-lznt1-data.sh [OUTPUT_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here}
mkdir -p "$out"
work=$(mktemp -d)
trap 'mountpoint -q "$work/mnt" && umount "$work/mnt"; rm -rf "$work"' EXIT
cd "$work"

# The plain data: English text (compresses), and the same text with two
# 4096-byte runs of seeded random bytes at chunks 0 and 7 (those chunks do
# not compress, so NTFS stores them raw inside an otherwise compressed unit),
# and a 6000-byte file whose unit ends in a short chunk.
python3 - <<'PY'
import random
lic = '/usr/share/common-licenses/'
text = b''.join(open(lic + n, 'rb').read() for n in ['GPL-3', 'GPL-2', 'Apache-2.0', 'LGPL-2.1'])
rnd = random.Random(1).randbytes
open('text.plain', 'wb').write(text[:65536])
open('mixed.plain', 'wb').write(rnd(4096) + text[:4096 * 6] + rnd(4096) + text[4096 * 6:4096 * 14])
open('tail.plain', 'wb').write(text[:6000])
PY

truncate -s 16M vol.img
mkntfs -F -q -Q -c 4096 -L lznt1 vol.img 2>/dev/null
mkdir mnt
ntfs-3g -o compression vol.img mnt
mkdir mnt/c
setfattr -h -v 0x00000800 -n system.ntfs_attrib_be mnt/c # FILE_ATTRIBUTE_COMPRESSED: new files inherit it
cp text.plain mixed.plain tail.plain mnt/c/
umount mnt

for name in text mixed tail; do
    inode=$(ifind -n "c/$name.plain" vol.img)
    # istat lists the $DATA clusters in order, 0 for a sparse one; the unit's
    # compressed data is its allocated clusters, which come first.
    clusters=$(istat vol.img "$inode" | sed -n '/^Type: \$DATA/,$p' | tail -n +2 | tr -s ' \n' '\n' | grep -v '^$' | head -16)
    first=$(echo "$clusters" | head -1)
    count=$(echo "$clusters" | grep -vc '^0$')
    echo "$name: inode $inode, clusters $first..$((first + count - 1)) of 16"
    dd if=vol.img of="$name.lznt1" bs=4096 skip="$first" count="$count" status=none
    xz -9e -T1 -c "$name.lznt1" > "$out/$name.lznt1.xz"
    xz -9e -T1 -c "$name.plain" > "$out/$name.plain.xz"
done
