#pragma once

#include "images/readWriteInterface.h"
#include "recovery/carving/FileLayout.h"

#include <cstdint>
#include <optional>

namespace qis::carve {

// What an ext2/ext3/ext4 superblock says about where a file's blocks lie.
struct ExtGeometry {
    std::uint64_t blockSize = 0;
    // The scanned range's offset of block 0 (the volume's start).
    std::uint64_t base = 0;
    // No extents (ext2, ext3): every file longer than twelve blocks is mapped
    // by indirect blocks, so the pattern is expected, not guessed.
    bool indirectMapped = false;
};

// The geometry of an ext volume that starts `base` bytes into the scanned
// range, when a superblock is there (s_magic 0xEF53, a sane
// s_log_block_size); nullopt otherwise.
std::optional<ExtGeometry> readExtGeometry(readWriteInterface& reader, std::uint64_t base);

struct IndirectLayout {
    // The file's pieces in file order: its first twelve blocks, then what
    // the indirect blocks point at, the last run extended as far as
    // `maxLength` allows (the file may go on where the pointers stop being
    // readable).
    FileLayout layout;
    // The bytes the pointers themselves account for (whole blocks).
    std::uint64_t covered = 0;
    // The pointers carry no doubt: the superblock says the volume maps files
    // by indirect blocks, or the first indirect block points at exactly the
    // blocks that follow it.
    bool unmistakable = false;
    std::uint64_t blockSize = 0;
};

// The pieces of a file that starts at `start` when its data is interrupted
// the way ext2/ext3 interrupt it: the block after its twelfth data block is
// an indirect block (little-endian u32 block numbers, the nonzero ones first,
// then only zeros), a double-indirect block follows the last block the first
// one points at, a triple-indirect one likewise. With `known` the block size
// and the base come from the volume's superblock; without (a whole disk),
// each usual block size is tried and the base is derived from the first
// pointer, which names the block after the indirect block itself. Pointers
// outside [0, scanEnd), and a pointer back into the layout, end the walk.
// nullopt when the pattern is not there.
std::optional<IndirectLayout> followIndirectBlocks(readWriteInterface& reader, std::uint64_t start,
                                                   std::uint64_t maxLength, std::uint64_t scanEnd,
                                                   const std::optional<ExtGeometry>& known);

} // namespace qis::carve
