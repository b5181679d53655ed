#pragma once

#include "images/BlockMappedReader.h"
#include "images/vdi/VdiHeader.h"

namespace qis {

// VDI images: a block map gives each virtual block's index in the data area.
// A snapshot (differencing image) reads the blocks it does not hold from the
// image it was taken of, found by that image's UUID.
class FileReadSeekVdi : public BlockMappedReader {
public:
    bool open(std::filesystem::path path) override;

    std::uint32_t sectorsPerBlock = 0;
    std::uint64_t blockCount = 0;
    [[nodiscard]] const vdi::VdiHeader& header() const { return header_; }

protected:
    std::optional<SectorRun> mapSector(std::uint64_t sector) override;

private:
    bool openParentImage(const std::filesystem::path& path);
    void noteParentIdentity();

    vdi::VdiHeader header_;
};

} // namespace qis
