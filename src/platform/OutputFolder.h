#pragma once

#include "util/DataSink.h"
#include "util/FileTime.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace qis {

// A folder the program saves into, held open so that every file and folder
// is made relative to it (openat): nothing below it is reached through a
// symbolic link, and nothing that exists is overwritten.
class OutputFolder {
public:
    OutputFolder() = default;
    ~OutputFolder();
    OutputFolder(OutputFolder&& other) noexcept;
    OutputFolder& operator=(OutputFolder&& other) noexcept;
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

    // Opens an existing folder (made if missing); on failure `error`, when
    // given, gets the errno that says why.
    static std::optional<OutputFolder> open(const std::filesystem::path& path, int* error = nullptr);

    // The sub-folder `name` (one safe component), made if missing; an
    // existing real folder is reused. Where a file or a symbolic link has
    // the name, the folder is made beside it as "name (1)", "name (2)", ...
    // (never through the link). `madeName` gets the name used; on failure
    // `error` gets the errno.
    std::optional<OutputFolder> subfolder(const std::string& name, std::string* madeName = nullptr,
                                          int* error = nullptr) const;

    [[nodiscard]] bool isOpen() const { return fd_ >= 0; }

    // The length of the regular file `name` in this folder (a link is not
    // followed); nullopt when there is none.
    [[nodiscard]] std::optional<std::uint64_t> fileSize(const std::string& name) const;
    // The regular file `name` in this folder opened for reading (a link is
    // not followed), to compare it with what would be written; -1 when
    // there is none. The caller closes it.
    [[nodiscard]] int openToRead(const std::string& name) const;

private:
    friend class SavedFile;
    int fd_ = -1;
};

// A new file in an output folder, named `name` or, when that exists,
// "name (1)", "name (2)", ...
class SavedFile : public DataSink {
public:
    SavedFile() = default;
    ~SavedFile() override;
    SavedFile(const SavedFile&) = delete;
    SavedFile& operator=(const SavedFile&) = delete;

    [[nodiscard]] bool create(const OutputFolder& folder, const std::string& name);
    [[nodiscard]] const std::string& name() const { return name_; } // as created
    bool write(std::span<const std::uint8_t> data) override;
    // Leaves a hole of `bytes` zeros (sparse data).
    bool skip(std::uint64_t bytes) override;
    // By sendfile: one copy in the kernel instead of a read and a write. Any
    // failure leaves the rest to write, which tells the output's failures
    // from the source's.
    bool copyFrom(int fd, std::uint64_t offset, std::uint64_t length, std::uint64_t& copied) override;
    // Access and modification times; a missing time is left as it is, and a
    // time that cannot be set does not fail the file.
    void setTimes(const std::optional<UnixTime>& access, const std::optional<UnixTime>& modification);
    bool close();
    // Closes (if still open) and removes the file: a save that was stopped
    // or failed part-way must not leave a file that looks whole. The folder
    // it was made in must still be open.
    void discard();
    [[nodiscard]] std::uint64_t written() const { return offset_; }
    // errno of the first failure to create, write or close the file; 0
    // while none failed. A failure here is the output's, never the image's.
    [[nodiscard]] int lastError() const { return lastError_; }

private:
    bool fail(int error);

    int fd_ = -1;
    int lastError_ = 0;
    int folderFd_ = -1; // not owned
    std::uint64_t offset_ = 0;
    std::string name_;
};

} // namespace qis
