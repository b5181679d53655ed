#pragma once

#include "images/qcow2/Qcow2Structures.h"
#include "platform/ImageFile.h"
#include "util/Parsed.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qis::qcow2 {

struct Qcow2Layout {
    Header header;
    std::uint64_t diskBytes = 0;    // the virtual size in whole sectors
    std::uint64_t clusterSize = 0;
    std::uint64_t l2Entries = 0;    // entries per L2 table (one cluster of them)
    std::uint64_t l1Needed = 0;     // L1 entries the disk size calls for, at most l1Size
    std::vector<std::uint64_t> l1;  // those of them that are in the file
    std::string backingName;        // as the header gives it; empty when none
    std::uint64_t unreadableBytes = 0;
    std::vector<std::string> damage;

    // Virtual bytes one L1 entry (one L2 table) covers.
    [[nodiscard]] std::uint64_t bytesPerL2() const { return clusterSize * l2Entries; }
    // False when the L1 entry's L2 table cannot be in this file.
    [[nodiscard]] bool l2Readable(std::uint64_t l1Entry, std::uint64_t fileSize) const;
};

// Checks the header and loads the L1 table and the backing file's name.
// Variants that cannot be read as a plain chain of clusters (encryption,
// data in another file, subclusters, compression other than deflate) are
// Unsupported, with a message that names them.
Parsed<Qcow2Layout> readQcow2Layout(ImageFile& file);

} // namespace qis::qcow2
