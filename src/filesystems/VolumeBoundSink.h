#pragma once

#include "util/DataSink.h"

#include <algorithm>
#include <cstdint>

namespace qis {

// A file's recorded size is a field like any other and may be damaged: no
// file holds more than the volume it is on. This passes at most the
// volume's size on to the output and refuses the rest, so a size of a TiB
// on a small volume neither becomes a TiB output (sparse or not) nor passes
// for a whole file.
class VolumeBoundSink : public DataSink {
public:
    // A volumeBytes of 0 (size unknown) bounds nothing.
    VolumeBoundSink(DataSink& out, std::uint64_t volumeBytes)
        : out_(out), left_(volumeBytes == 0 ? UINT64_MAX : volumeBytes)
    {
    }
    bool write(std::span<const std::uint8_t> data) override
    {
        const std::uint64_t n = std::min<std::uint64_t>(data.size(), left_);
        left_ -= n;
        bool ok = n == 0 || out_.write(data.first(static_cast<std::size_t>(n)));
        if (n < data.size())
            cut_ = true;
        return ok && !cut_;
    }
    bool skip(std::uint64_t bytes) override
    {
        const std::uint64_t n = std::min(bytes, left_);
        left_ -= n;
        bool ok = n == 0 || out_.skip(n);
        if (n < bytes)
            cut_ = true;
        return ok && !cut_;
    }
    // True when the file claimed more than the volume holds.
    [[nodiscard]] bool cut() const { return cut_; }

private:
    DataSink& out_;
    std::uint64_t left_;
    bool cut_ = false;
};

// Saves one file through `save(sink)` with the volume's size as its bound;
// true only when it was read whole and did not claim more than the volume.
template <typename Save>
bool saveWithinVolume(DataSink& out, std::uint64_t volumeBytes, Save&& save)
{
    VolumeBoundSink bounded(out, volumeBytes);
    const bool whole = save(static_cast<DataSink&>(bounded));
    return whole && !bounded.cut();
}

} // namespace qis
