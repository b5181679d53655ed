#include "images/qcow2/Qcow2Structures.h"

#include "util/ByteReader.h"

#include <algorithm>

namespace qis::qcow2 {

Header Header::parse(std::span<const std::uint8_t> bytes)
{
    ByteReader r(bytes);
    Header h;
    h.magic = r.u32be(0);
    h.version = r.u32be(4);
    h.backingFileOffset = r.u64be(8);
    h.backingFileSize = r.u32be(16);
    h.clusterBits = r.u32be(20);
    h.size = r.u64be(24);
    h.cryptMethod = r.u32be(32);
    h.l1Size = r.u32be(36);
    h.l1TableOffset = r.u64be(40);
    h.snapshotCount = r.u32be(60);
    if (h.version >= 3) {
        h.incompatibleFeatures = r.u64be(72);
        h.headerLength = r.u32be(100);
        if (h.headerLength > kVersion3HeaderSize)
            h.compressionType = r.u8(104);
    }
    return h;
}

ClusterEntry decodeL2Entry(std::uint64_t entry, std::uint32_t clusterBits, std::uint32_t version)
{
    ClusterEntry c;
    if (entry & kCompressedFlag) {
        // The offset takes the low bits; above it, the count of 512-byte
        // sectors the data reaches beyond the one its offset falls in.
        const std::uint32_t offsetBits = 62 - (clusterBits - 8);
        c.kind = ClusterKind::Compressed;
        c.hostOffset = entry & ((1ull << offsetBits) - 1);
        const std::uint64_t moreSectors = (entry >> offsetBits) & ((1ull << (62 - offsetBits)) - 1);
        c.compressedBytes = (moreSectors + 1) * 512 - (c.hostOffset & 511);
        // Compressed data is kept only when it is smaller than a cluster.
        c.compressedBytes = std::min<std::uint64_t>(c.compressedBytes, (1ull << clusterBits) + 512);
        return c;
    }
    if (version >= 3 && (entry & kZeroFlag)) {
        c.kind = ClusterKind::Zero;
        return c;
    }
    c.hostOffset = entry & kOffsetMask;
    c.kind = c.hostOffset == 0 ? ClusterKind::Unallocated : ClusterKind::Stored;
    return c;
}

} // namespace qis::qcow2
