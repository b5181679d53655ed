#pragma once

#include "filesystems/ext/ExtStructures.h"
#include "images/readWriteInterface.h"

#include <vector>

namespace qis {

// Where an inode's data lies: its extent tree (index nodes followed, at
// most five levels) or its direct and indirect block pointers, as runs in
// logical order. Blocks past the file's end, pointers outside the volume
// and a tree that names a node twice are left out, and `complete` is
// cleared where something could not be read or made no sense.
std::vector<extdisk::BlockRun> collectBlocks(readWriteInterface& reader, const extdisk::Superblock& superblock,
                                             const extdisk::Inode& inode, bool* complete = nullptr);

} // namespace qis
