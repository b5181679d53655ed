#pragma once

#include "filesystems/ext/ExtStructures.h"

#include <cstdint>
#include <string>

namespace qis {

// One named inode of an ext2/3/4 volume. Its key is its inode number
// minus 1 (a second name of the same inode gets a key past the inode
// count); key 2 is "ROOT", the root directory. The entry map is ordered by
// key, and the links name positions in it.
struct ExtEntry {
    std::int64_t key = -1;
    std::string name;          // bytes as the directory holds them
    bool named = false;
    bool deleted = false; // a name left in a folder's block for an inode no longer in use
    std::uint32_t inodeIndex = 0; // inode number − 1
    // A deleted entry's copy of its inode (an index into the parser's
    // store): what it is saved and judged by, wherever the copy came from.
    std::uint32_t inodeCopy = UINT32_MAX;
    std::int64_t parentKey = -1;
    std::uint16_t mode = 0;
    std::uint64_t size = 0;
    std::uint64_t inodeTableBlock = 0;
    std::uint32_t indexInGroup = 0;
    std::int64_t firstChild = -1;  // position of the first child in the entry map
    std::int64_t nextSibling = -1; // position of the next entry with the same parent
    // Kept from the inode so listing many entries needs no further reads.
    std::uint32_t atime = 0, ctime = 0, mtime = 0;
    std::uint32_t atimeNanos = 0, ctimeNanos = 0, mtimeNanos = 0;
    std::uint32_t crtime = 0, crtimeExtra = 0; // 0: the inode has no birth time
    std::uint32_t uid = 0, gid = 0;

    // Keeps what the list shows of the inode: mode, size, times and owner.
    void takeInode(const extdisk::Inode& inode)
    {
        mode = inode.mode;
        size = inode.size;
        atime = inode.atime;
        ctime = inode.ctime;
        mtime = inode.mtime;
        atimeNanos = inode.atimeExtra;
        ctimeNanos = inode.ctimeExtra;
        mtimeNanos = inode.mtimeExtra;
        crtime = inode.crtime;
        crtimeExtra = inode.crtimeExtra;
        uid = inode.uid;
        gid = inode.gid;
    }
};

} // namespace qis
