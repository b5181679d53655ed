#pragma once

#include "images/BlockMappedReader.h"
#include "images/qcow2/Qcow2Layout.h"

#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

namespace qis {

// qcow2 images, versions 2 and 3: L1 table → L2 table → cluster, where a
// cluster is stored as it is, deflate-compressed, known to be zeros, or not
// allocated (then read from the backing image, or zeros without one). Only
// stored clusters map to file offsets; read, readAt and allocationRun serve
// the other kinds themselves.
class FileReadSeekQcow2 : public BlockMappedReader {
public:
    bool open(std::filesystem::path path) override;
    bool read(void* buffer, std::uint32_t length) override;
    bool readAt(std::uint64_t offset, std::span<std::uint8_t> out) override;
    std::uint64_t allocationRun(std::int64_t offset, std::uint64_t maxBytes, bool& allocated) override;
    // L2 tables and the last decompressed cluster are cached as clusters are mapped.
    [[nodiscard]] bool readsConcurrently() const override { return false; }

    [[nodiscard]] const qcow2::Qcow2Layout& layout() const { return layout_; }
    // The image under this one, null when there is none.
    [[nodiscard]] const readWriteInterface* backing() const { return backing_.get(); }

protected:
    std::optional<SectorRun> mapSector(std::uint64_t sector) override;

private:
    // The cluster's L2 entry decoded; nullopt when its table cannot be read.
    std::optional<qcow2::ClusterEntry> mapCluster(std::uint64_t cluster);
    const std::vector<std::uint64_t>* l2Table(std::uint64_t offset);
    // The decompressed cluster, or null when its data does not inflate to one.
    const std::vector<std::uint8_t>* inflated(const qcow2::ClusterEntry& entry);
    bool readVirtual(std::uint64_t position, std::span<std::uint8_t> out);
    bool allocatedAt(std::uint64_t position);

    qcow2::Qcow2Layout layout_;
    std::unique_ptr<readWriteInterface> backing_;
    std::uint64_t backingBytes_ = 0;
    std::unordered_map<std::uint64_t, std::vector<std::uint64_t>> l2Cache_;
    std::size_t maxCachedTables_ = 0;
    std::uint64_t inflatedOffset_ = 0; // host offset of inflated_, 0 when empty
    std::vector<std::uint8_t> inflated_;
};

} // namespace qis
