#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace qis {

// Where a file's recovered contents go: a saved file, or memory.
class DataSink {
public:
    virtual ~DataSink() = default;
    virtual bool write(std::span<const std::uint8_t> data) = 0;
    // `bytes` zeros (a hole where the output allows one).
    virtual bool skip(std::uint64_t bytes) = 0;
    // Copies up to `length` bytes from offset `offset` of the open file
    // `fd` straight into the output, inside the system, where the output
    // can: `copied` says how many. The rest is for write. False only when
    // the sink takes nothing more (a stopped job). Sinks that must see the
    // bytes copy none.
    virtual bool copyFrom(int fd, std::uint64_t offset, std::uint64_t length, std::uint64_t& copied)
    {
        (void)fd;
        (void)offset;
        (void)length;
        copied = 0;
        return true;
    }
};

// Takes everything and keeps nothing: for reading an entry's data only to
// look at it on the way (hashing it without saving it).
class NullSink : public DataSink {
public:
    bool write(std::span<const std::uint8_t>) override { return true; }
    bool skip(std::uint64_t) override { return true; }
};

// Keeps the contents in memory, up to a limit; past it, writes fail.
class MemorySink : public DataSink {
public:
    explicit MemorySink(std::size_t limit) : limit_(limit) {}
    bool write(std::span<const std::uint8_t> data) override
    {
        if (data.size() > limit_ - bytes.size())
            return false;
        bytes.insert(bytes.end(), data.begin(), data.end());
        return true;
    }
    bool skip(std::uint64_t n) override
    {
        if (n > limit_ - bytes.size())
            return false;
        bytes.resize(bytes.size() + static_cast<std::size_t>(n), 0);
        return true;
    }
    std::vector<std::uint8_t> bytes;

private:
    std::size_t limit_;
};

} // namespace qis
