#pragma once

#include "filesystems/fatfamily/FatTable.h"
#include "images/readWriteInterface.h"
#include "util/DataSink.h"

#include <cstdint>
#include <functional>

namespace qis {

// Where a file's clusters are and how one follows another.
struct ClusterSpan {
    std::uint64_t heapOffset = 0;   // byte offset of cluster 2
    std::uint64_t clusterBytes = 0;
    // The cluster after `from`: the FAT chain, or from + 1 for data stored
    // as one run.
    std::function<std::uint32_t(std::uint32_t from)> advance;
};

// How one of a file's clusters follows another: one after the other when
// the data is one run (exFAT's no-chain files, or a volume taken as
// formatted over the files); else through the FAT, except for a deleted
// file, whose chain was cleared with its entry so that whatever the FAT
// holds there now belongs to other files: its first cluster is its own.
ClusterSpan fileClusters(FatTable& fat, std::uint64_t heapOffset, std::uint64_t clusterBytes, bool oneRun,
                         bool deleted);

struct CopyResult {
    std::uint64_t written = 0; // bytes of data written (less than asked when the chain ended)
    bool readable = true;      // every sector written could be read
};

// Writes `bytes` bytes of data starting at cluster `first`, reading runs of
// consecutive clusters at once. Stops where the chain ends, leaves the
// volume's clusters, or comes back to a cluster it has passed.
CopyResult copyClusters(readWriteInterface& reader, const FatTable& fat, const ClusterSpan& span, std::uint32_t first,
                        std::uint64_t bytes, DataSink& out);

} // namespace qis
