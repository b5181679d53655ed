#pragma once

#include "filesystems/VolumeScan.h"

#include <utility>

namespace qis {

// A scan over one parser and its view: the parser is told where the volume
// starts and how large the list says it is, and its stop flag is the scan's.
template <typename Parser, typename View, typename Base = VolumeScan>
class ParserScan : public Base {
public:
    template <typename... BaseArguments>
    ParserScan(readWriteInterface& reader, const VolumeRecord& volume, BaseArguments&&... base)
        : Base(std::forward<BaseArguments>(base)...), parser_(reader), view_(parser_)
    {
        parser_.volumeStartSector = static_cast<std::uint64_t>(volume.startSector);
        parser_.volumeSizeText = sizeFigure(volume.sizeText);
    }
    std::atomic<bool>& stopRequested() override { return parser_.stopRequested; }
    VolumeParser& view() override { return view_; }
    [[nodiscard]] const ScanProblems& problems() const override { return parser_.problems; }

protected:
    Parser parser_;
    View view_;
};

} // namespace qis
