#pragma once

#include "filesystems/VolumeParser.h"
#include "filesystems/fatfamily/FatTable.h"
#include "filesystems/fatfamily/FreeClusters.h"
#include "images/readWriteInterface.h"
#include "util/DataSink.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace qis {

// Where a file's clusters are and how one follows another.
struct ClusterSpan {
    std::uint64_t heapOffset = 0;   // byte offset of cluster 2
    std::uint64_t clusterBytes = 0;
    // The cluster after `from`: the FAT chain, or from + 1 for data stored
    // as one run.
    std::function<std::uint32_t(std::uint32_t from)> advance;
};

// How one of a live file's clusters follows another: one after the other
// when the data is one run (exFAT's no-chain files, or every file of a
// volume taken as formatted over its files), else through the FAT.
ClusterSpan fileClusters(FatTable& fat, std::uint64_t heapOffset, std::uint64_t clusterBytes, bool oneRun);

struct CopyResult {
    std::uint64_t written = 0; // bytes written, zeros for lost clusters included (less than asked when the clusters ran out)
    bool readable = true;      // every sector written could be read, and no cluster was lost
};

// Writes `bytes` bytes of data starting at cluster `first`, reading runs of
// consecutive clusters at once. Stops where the chain ends, leaves the
// volume's clusters, or comes back to a cluster it has passed.
CopyResult copyClusters(readWriteInterface& reader, const FatTable& fat, const ClusterSpan& span, std::uint32_t first,
                        std::uint64_t bytes, DataSink& out);

// A stretch of clusters in a row; a lost one holds another file's data now.
struct ClusterRun {
    std::uint64_t first = 0;
    std::uint64_t count = 0;
    bool lost = false;
};

// Where a deleted file's data lies, run by run, judged against the clusters
// that are free now.
class DeletedClusters {
public:
    enum class Layout {
        // The chain was cleared with the entry, so the clusters are guessed:
        // the first cluster, then the free clusters after it in order. A
        // cluster in use now is passed over, since a live file that holds it
        // most likely held it already when the deleted file was written, so
        // the deleted file's data went on after it. The first cluster is the
        // file's own whatever the FAT says; when it is in use it is lost.
        Guessed,
        // One run of clusters, as exFAT records it in the entry: every
        // cluster of it is the file's, and one in use now is lost.
        OneRun,
    };

    // `count` clusters from `first`, which must be a cluster of the volume.
    // A guess passes over the clusters of `passOver` (runs sorted by their
    // first cluster, lost ignored) as it passes over clusters in use: the
    // runs of other deleted files, when the first guess ran into them.
    DeletedClusters(const FreeClusters& free, Layout layout, std::uint64_t first, std::uint64_t count,
                    std::span<const ClusterRun> passOver = {});

    // The next run, or nullopt once `count` clusters are given or the
    // volume ends. Each call moves forward, so a file takes at most `count`
    // runs and a walk never passes the volume's last cluster.
    std::optional<ClusterRun> next();

    // What a save of such a file gets: Guessed when the first cluster is
    // free and enough free clusters follow it (never Whole: the clusters
    // are a guess); Whole when a run is free throughout; else
    // PartlyOverwritten. A few word tests of the free-cluster map.
    static Recoverability judge(const FreeClusters& free, Layout layout, std::uint64_t first, std::uint64_t count);

private:
    const FreeClusters& free_;
    Layout layout_;
    std::uint64_t first_;
    std::uint64_t at_;
    std::uint64_t left_;
    std::uint64_t end_; // OneRun: one past the run's last cluster
    std::span<const ClusterRun> passOver_;
};

// Writes `bytes` bytes of a deleted file from the runs `runs` gives, lost
// runs as zeros.
CopyResult copyRuns(readWriteInterface& reader, std::uint64_t heapOffset, std::uint64_t clusterBytes,
                    DeletedClusters& runs, std::uint64_t bytes, DataSink& out);

} // namespace qis
