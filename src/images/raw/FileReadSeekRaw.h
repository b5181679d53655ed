#pragma once

#include "images/BlockMappedReader.h"

namespace qis {

// Plain raw disk images (.img, .raw, .dd) and block devices: sector k at
// byte 512·k. A file whose length is not a whole number of sectors ends in a
// partial sector padded with zeros.
class FileReadSeekRaw : public BlockMappedReader {
public:
    FileReadSeekRaw() { padShortFinalSector_ = true; }
    bool open(std::filesystem::path path) override;
    // The holes of a sparse image file are unallocated: they read as zeros
    // and need not be read at all.
    std::uint64_t allocationRun(std::int64_t offset, std::uint64_t maxBytes, bool& allocated) override;

protected:
    std::optional<SectorRun> mapSector(std::uint64_t sector) override;
};

} // namespace qis
