#pragma once

#include "util/DataSink.h"

#include <algorithm>
#include <cstdint>

namespace qis {

// A file's recorded size is a field like any other and may be damaged: a
// size of a TiB on a small volume must neither become a TiB output (sparse
// or not) nor pass for a whole file. What bounds it is what the volume can
// hold: no more data than the volume's size, and no hole running past the
// volume's size unless data of the file comes after it (a sparse file's
// far block proves its size; a size beyond its last data and beyond the
// volume proves nothing). The end of such a file is written up to the
// volume's size and the file counts as cut.
class VolumeBoundSink : public DataSink {
public:
    // A volumeBytes of 0 (size unknown) bounds nothing.
    VolumeBoundSink(DataSink& out, std::uint64_t volumeBytes)
        : out_(out), limit_(volumeBytes == 0 ? UINT64_MAX : volumeBytes)
    {
    }
    bool write(std::span<const std::uint8_t> data) override
    {
        if (!flushHole())
            return false;
        const std::uint64_t n = std::min<std::uint64_t>(data.size(), limit_ - std::min(limit_, data_));
        data_ += n;
        position_ += n;
        if (n != 0 && !out_.write(data.first(static_cast<std::size_t>(n))))
            return false;
        if (n < data.size())
            cut_ = true;
        return !cut_;
    }
    bool skip(std::uint64_t bytes) override
    {
        // Held back until data follows it: only then is a hole past the
        // volume's size part of the file.
        pendingHole_ = bytes > UINT64_MAX - pendingHole_ ? UINT64_MAX : pendingHole_ + bytes;
        return pendingHole_ <= limit_ - std::min(limit_, position_) ? flushHole() : true;
    }
    // Ends the file: a hole still held back runs at most to the volume's size.
    bool finish()
    {
        if (pendingHole_ == 0)
            return true;
        const std::uint64_t reach = position_ < limit_ ? limit_ - position_ : 0;
        const std::uint64_t n = std::min(pendingHole_, reach);
        cut_ = cut_ || n < pendingHole_;
        pendingHole_ = 0;
        position_ += n;
        return n == 0 || out_.skip(n);
    }
    // True when the file claimed more than the volume holds.
    [[nodiscard]] bool cut() const { return cut_; }

private:
    bool flushHole()
    {
        if (pendingHole_ == 0)
            return true;
        const std::uint64_t n = pendingHole_;
        pendingHole_ = 0;
        position_ += n;
        return out_.skip(n);
    }

    DataSink& out_;
    std::uint64_t limit_;
    std::uint64_t position_ = 0; // bytes passed on, data and holes
    std::uint64_t data_ = 0;     // of which data
    std::uint64_t pendingHole_ = 0;
    bool cut_ = false;
};

// Saves one file through `save(sink)` with the volume's size as its bound;
// true only when it was read whole and did not claim more than the volume.
template <typename Save>
bool saveWithinVolume(DataSink& out, std::uint64_t volumeBytes, Save&& save)
{
    VolumeBoundSink bounded(out, volumeBytes);
    const bool whole = save(static_cast<DataSink&>(bounded));
    const bool ended = bounded.finish();
    return whole && ended && !bounded.cut();
}

} // namespace qis
