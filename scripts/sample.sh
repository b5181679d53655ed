#!/usr/bin/env bash
# Sets up, builds and runs the main job on the bundled sample disk: shows
# its information, lists its volumes, recovers its NTFS, FAT32, exFAT and
# ext4 volumes into folders, and saves the whole virtual disk as a raw image.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQIS_BUILD_TESTS=OFF >/dev/null
cmake --build build-release --target qsalvage default_signatures
mkdir -p out
rm -f out/sample.vhdx out/sample.vhdx.img
xz -dc tests/data/sample.vhdx.xz > out/sample.vhdx
build-release/qsalvage info out/sample.vhdx
echo
build-release/qsalvage volumes out/sample.vhdx --gpt
echo
# Volume 0 is the NTFS volume: its tree, deleted files included, then all of
# it saved with the files' times.
build-release/qsalvage list out/sample.vhdx --gpt --volume 0
rm -rf out/sample-ntfs
build-release/qsalvage save out/sample.vhdx --gpt --volume 0 --output out/sample-ntfs
echo "The NTFS volume's files are in out/sample-ntfs:"
find out/sample-ntfs -type f -not -name '$*' | sort
echo
# Volumes 1, 2 and 3 are FAT32, exFAT and ext4, holding the same tree.
for volume in 1:fat32 2:exfat 3:ext4; do
    index=${volume%%:*} name=${volume#*:}
    build-release/qsalvage list out/sample.vhdx --gpt --volume "$index"
    rm -rf "out/sample-$name"
    build-release/qsalvage save out/sample.vhdx --gpt --volume "$index" --output "out/sample-$name"
    echo "The $name volume's files are in out/sample-$name:"
    find "out/sample-$name" -type f | sort
    echo
done
# Raw recovery: the whole disk searched for files by their signatures, as
# when no file system is left.
rm -rf out/sample-carved
build-release/qsalvage carve out/sample.vhdx --disk --output out/sample-carved
echo "The files found by their signatures are in out/sample-carved:"
find out/sample-carved -type f | sort | head -40
echo
image=$(build-release/qsalvage export out/sample.vhdx --output out)
echo "The raw image of the sample disk is at $image"
