#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace qis {

// An image file opened read-only: the image is evidence and is never
// written, so it also opens from read-only media and without write permission.
class ImageFile {
public:
    ImageFile() = default;
    ~ImageFile();
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;
    ImageFile(ImageFile&& other) noexcept;
    ImageFile& operator=(ImageFile&& other) noexcept;

    // Opens an existing regular file or block device without waiting; false
    // (and lastError()) on failure, and for anything else (FIFO, socket,
    // character device, folder).
    [[nodiscard]] bool open(const std::filesystem::path& path);
    void close();
    [[nodiscard]] bool isOpen() const { return fd_ >= 0; }
    [[nodiscard]] std::uint64_t size() const { return size_; }

    // Reads up to buffer.size() bytes at offset. Returns the count read: less
    // than asked only at the end of the file or on an I/O error (lastError()).
    std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> buffer);
    // The same, safe from several threads at once: the errno of a failure
    // goes to `error` (0 when none) and lastError() is left alone.
    std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> buffer, int& error) const;

    // The open file, for copies the system makes from it (-1 when closed).
    [[nodiscard]] int descriptor() const { return fd_; }

    // errno of the last failure, 0 when none.
    [[nodiscard]] int lastError() const { return lastError_; }

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
    int lastError_ = 0;
};

// Why `path` could not be opened as an image, for the user: what it is when
// it is not a regular file or a block device, else the system's text for
// `error` (an errno).
std::string openFailureReason(const std::filesystem::path& path, int error);

// Why the file at `path` cannot be read, found by looking at it again
// (what it is, or the system's text for a failed open); empty when it can.
std::string readFailureReason(const std::filesystem::path& path);

// Length of a file in bytes, 0 when it cannot be read.
std::uint64_t fileLength(const std::filesystem::path& path);

} // namespace qis
