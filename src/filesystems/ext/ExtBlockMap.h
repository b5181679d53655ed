#pragma once

#include "filesystems/ext/ExtStructures.h"
#include "images/readWriteInterface.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace qis {

// Where an inode's data lies: its extent tree (index nodes followed, at
// most five levels) or its direct and indirect block pointers, as runs in
// logical order. Blocks past the file's end, pointers outside the volume
// and a tree that names a node twice are left out, and `complete` is
// cleared where something could not be read or made no sense.
// A deleted file's indirect blocks and index nodes may since have been given
// to another file, and what they hold then points anywhere: `mapBlockTaken`,
// when given, is asked about each before it is read, and one it answers true
// for is not followed (and `complete` is cleared).
using BlockTest = std::function<bool(std::uint64_t block)>;
std::vector<extdisk::BlockRun> collectBlocks(readWriteInterface& reader, const extdisk::Superblock& superblock,
                                             const extdisk::Inode& inode, bool* complete = nullptr,
                                             const BlockTest& mapBlockTaken = {});

} // namespace qis
