#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

namespace qis {

// A file the program writes (never an image). It is always created new, so
// nothing that exists is ever overwritten.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    [[nodiscard]] bool createNew(const std::filesystem::path& path);
    [[nodiscard]] bool writeAt(std::uint64_t offset, std::span<const std::uint8_t> data);
    [[nodiscard]] bool setLength(std::uint64_t length);
    bool close();

    // errno of the last failure.
    [[nodiscard]] int lastError() const { return lastError_; }

private:
    int fd_ = -1;
    int lastError_ = 0;
};

// Gives `from` the name `to` unless something already has that name, in
// one step, so a file that appeared there meanwhile is never replaced.
// Returns 0 or the errno (EEXIST when `to` exists).
int renameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

// Bytes free for an unprivileged writer in the folder, nullopt when the
// folder cannot be examined.
std::optional<std::uint64_t> freeSpace(const std::filesystem::path& folder);

} // namespace qis
