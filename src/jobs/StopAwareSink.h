#pragma once

#include "jobs/JobRunner.h"
#include "util/DataSink.h"

#include <atomic>

namespace qis {

// Passes a file's contents on until the job is told to stop: from then on
// every write fails, so the parser copying the file gives up at its next
// piece instead of finishing a file of any size. A paused job waits here.
class StopAwareSink : public DataSink {
public:
    StopAwareSink(DataSink& inner, JobContext& job, const std::atomic<bool>& stop)
        : inner_(inner), job_(job), stop_(stop)
    {
    }

    bool write(std::span<const std::uint8_t> data) override { return go() && inner_.write(data); }
    bool skip(std::uint64_t bytes) override { return go() && inner_.skip(bytes); }
    bool copyFrom(int fd, std::uint64_t offset, std::uint64_t length, std::uint64_t& copied) override
    {
        copied = 0;
        return go() && inner_.copyFrom(fd, offset, length, copied);
    }
    // Stop was seen while the file was being copied.
    [[nodiscard]] bool stopped() const { return stopped_; }

private:
    bool go()
    {
        if (!stopped_ && job_.stopSeen(stop_))
            stopped_ = true;
        return !stopped_;
    }

    DataSink& inner_;
    JobContext& job_;
    const std::atomic<bool>& stop_;
    bool stopped_ = false;
};

} // namespace qis
