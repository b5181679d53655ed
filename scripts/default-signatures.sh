#!/usr/bin/env bash
# Writes the default signature settings file (FileSetting.txt) with
# `qsalvage signatures add`, one record per file type. The carver takes the
# first type whose start signature matches a sector, so the more specific
# signatures come before the ones they would otherwise lose to: MOV before
# MP4, the office formats (a ZIP with a known first entry) before ZIP.
# Approximate sizes bound a file whose end cannot be worked out; the carver
# finds the real length of most of these types from their own structure.
#   usage: default-signatures.sh OUTPUT QSALVAGE
set -euo pipefail
out=${1:?usage: default-signatures.sh OUTPUT QSALVAGE}
qsalvage=${2:?usage: default-signatures.sh OUTPUT QSALVAGE}
partial="$out.part$$"
rm -f "$partial"
trap 'rm -f "$partial"' EXIT

MiB=1048576
add() { # extension category start [options...]
    local ext=$1 category=$2 start=$3
    shift 3
    "$qsalvage" signatures add "$partial" --extension "$ext" --category "$category" --start "$start" "$@" >/dev/null
}

# Pictures
add jpg Pictures 0xFF,0xD8,0xFF --end 0xFF,0xD9 --approx-size $((20 * MiB))
add png Pictures 0x89,0x50,0x4E,0x47,0x0D,0x0A,0x1A,0x0A --end 0x49,0x45,0x4E,0x44,0xAE,0x42,0x60,0x82 \
    --approx-size $((50 * MiB))
add gif Pictures 0x47,0x49,0x46,0x38,0x39,0x61 --end 0x00,0x3B --approx-size $((20 * MiB))
add gif Pictures 0x47,0x49,0x46,0x38,0x37,0x61 --end 0x00,0x3B --approx-size $((20 * MiB))
# "BM", any file size, then the four reserved bytes, which are zero.
add bmp Pictures 0x42,0x4D,0x2A,0x2A,0x2A,0x2A,0x00,0x00,0x00,0x00 --size-offset 2 --size-bytes 4 \
    --size-includes-header --approx-size $((100 * MiB))
# TIFF's 42 is the wildcard byte: "II", any byte, 0 (and "MM", 0, any).
add tif Pictures 0x49,0x49,0x2A,0x00 --approx-size $((20 * MiB))
add tif Pictures 0x4D,0x4D,0x00,0x2A --approx-size $((20 * MiB))

# Documents: OOXML packages begin with "[Content_Types].xml", OpenDocument
# ones with their "mimetype" entry, both named at byte 30 of the first entry.
add pdf Documents 0x25,0x50,0x44,0x46,0x2D --end 0x25,0x25,0x45,0x4F,0x46 --approx-size $((100 * MiB))
add docx Documents 0x5B,0x43,0x6F,0x6E,0x74,0x65,0x6E,0x74,0x5F,0x54 --start-offset 30 --approx-size $((100 * MiB))
add odt Documents 0x6D,0x69,0x6D,0x65,0x74,0x79,0x70,0x65,0x61,0x70 --start-offset 30 --approx-size $((100 * MiB))
# A package is named by what it holds (a ZIP of "xl/" parts is a
# spreadsheet) and counted under the type of that name; these types share
# the signatures above, which come first, so they are there for the names.
add xlsx Documents 0x5B,0x43,0x6F,0x6E,0x74,0x65,0x6E,0x74,0x5F,0x54 --start-offset 30 --approx-size $((100 * MiB))
add pptx Documents 0x5B,0x43,0x6F,0x6E,0x74,0x65,0x6E,0x74,0x5F,0x54 --start-offset 30 --approx-size $((100 * MiB))
add ods Documents 0x6D,0x69,0x6D,0x65,0x74,0x79,0x70,0x65,0x61,0x70 --start-offset 30 --approx-size $((100 * MiB))
add odp Documents 0x6D,0x69,0x6D,0x65,0x74,0x79,0x70,0x65,0x61,0x70 --start-offset 30 --approx-size $((100 * MiB))

# Databases
add db Databases 0x53,0x51,0x4C,0x69,0x74,0x65,0x20,0x66,0x6F,0x72 --approx-size $((1024 * MiB))

# Archives
add zip Archives 0x50,0x4B,0x03,0x04 --end 0x50,0x4B,0x05,0x06 --approx-size $((100 * MiB))
add rar Archives 0x52,0x61,0x72,0x21,0x1A,0x07 --approx-size $((100 * MiB))
add 7z Archives 0x37,0x7A,0xBC,0xAF,0x27,0x1C --approx-size $((500 * MiB))
add gz Archives 0x1F,0x8B,0x08 --approx-size $((10 * MiB))

# Audio: RIFF files are told by their form type at byte 8.
add mp3 Audio 0x49,0x44,0x33 --approx-size $((50 * MiB))
add ogg Audio 0x4F,0x67,0x67,0x53,0x00,0x02 --approx-size $((50 * MiB))
add wav Audio 0x57,0x41,0x56,0x45,0x66,0x6D,0x74,0x20 --start-offset 8 --size-offset 4 --size-bytes 4 \
    --header-size 8 --approx-size $((500 * MiB))

# Video: the ISO media box "ftyp" stands at byte 4.
add avi Video 0x41,0x56,0x49,0x20,0x4C,0x49,0x53,0x54 --start-offset 8 --size-offset 4 --size-bytes 4 \
    --header-size 8 --approx-size $((2048 * MiB))
add mov Video 0x66,0x74,0x79,0x70,0x71,0x74,0x20,0x20 --start-offset 4 --approx-size $((2048 * MiB))
add mp4 Video 0x66,0x74,0x79,0x70 --start-offset 4 --approx-size $((2048 * MiB))
add mpg Video 0x00,0x00,0x01,0xBA --end 0x00,0x00,0x01,0xB9 --approx-size $((1024 * MiB))

# Programs: the DOS header every PE linker writes.
add elf Programs 0x7F,0x45,0x4C,0x46 --approx-size $((100 * MiB))
add exe Programs 0x4D,0x5A,0x90,0x00,0x03,0x00,0x00,0x00,0x04,0x00 --approx-size $((100 * MiB))

mv "$partial" "$out"
trap - EXIT
