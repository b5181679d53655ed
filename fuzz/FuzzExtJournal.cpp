// A jbd2 journal as the input, block 0 its superblock: the walk of every
// block for descriptor, commit and revoke blocks, the tags and revoke
// records, the commit chains, and reading back every copy found.

#include "filesystems/ext/ExtJournal.h"

#include <algorithm>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace qis::extjournal;
    auto sb = JournalSuperblock::parse(std::span<const std::uint8_t>(data, std::min<std::size_t>(size, 1024)));
    if (!sb)
        return 0;
    // As on a volume: the journal reaches no further than the file it is in.
    const std::size_t blocks = size / sb->blockSize;
    if (blocks < 2)
        return 0;
    sb->maxLen = static_cast<std::uint32_t>(std::min<std::size_t>(sb->maxLen, blocks));
    if (sb->first >= sb->maxLen)
        return 0;
    auto read = [&](std::uint32_t n, std::span<std::uint8_t> out) {
        if (n >= blocks || out.size() != sb->blockSize)
            return false;
        std::memcpy(out.data(), data + std::size_t{n} * sb->blockSize, out.size());
        return true;
    };
    JournalIndex index = indexJournal(*sb, read);
    std::vector<std::uint8_t> block(sb->blockSize);
    for (const JournalCopy& c : index.all()) {
        if (index.copiesOf(c.fsBlock).empty() || !read(c.journalBlock, block))
            std::abort(); // every copy lies in the journal and is found by its block
        if (c.escaped)
            restoreEscapedMagic(block);
    }
    return 0;
}
