#include "platform/ImageFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace qis {

ImageFile::~ImageFile() { close(); }

ImageFile::ImageFile(ImageFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), size_(other.size_), lastError_(other.lastError_)
{
}

ImageFile& ImageFile::operator=(ImageFile&& other) noexcept
{
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        size_ = other.size_;
        lastError_ = other.lastError_;
    }
    return *this;
}

bool ImageFile::open(const std::filesystem::path& path)
{
    close();
    // Only a regular file or a block device is an image. Anything else is
    // refused before it is opened, and the open does not wait: a FIFO would
    // block an open (and every read) until some writer came along.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        lastError_ = errno;
        return false;
    }
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
        lastError_ = S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
        return false;
    }
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        lastError_ = errno;
        return false;
    }
    // Checked again on what was opened: the path may have changed meanwhile.
    if (::fstat(fd, &st) != 0 || (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode))) {
        lastError_ = S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
        ::close(fd);
        return false;
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    fd_ = fd;
    if (S_ISBLK(st.st_mode)) {
        off_t end = ::lseek(fd, 0, SEEK_END);
        size_ = end > 0 ? static_cast<std::uint64_t>(end) : 0;
    } else {
        size_ = static_cast<std::uint64_t>(st.st_size);
    }
    lastError_ = 0;
    return true;
}

void ImageFile::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    size_ = 0;
}

std::size_t ImageFile::readAt(std::uint64_t offset, std::span<std::uint8_t> buffer)
{
    int error = 0;
    const std::size_t done = readAt(offset, buffer, error);
    if (error != 0)
        lastError_ = error;
    return done;
}

std::size_t ImageFile::readAt(std::uint64_t offset, std::span<std::uint8_t> buffer, int& error) const
{
    std::size_t done = 0;
    error = 0;
    if (fd_ < 0) {
        error = EBADF;
        return 0;
    }
    while (done < buffer.size()) {
        if (offset > static_cast<std::uint64_t>(INT64_MAX) - done)
            break;
        ssize_t n = ::pread(fd_, buffer.data() + done, buffer.size() - done,
                            static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            break;
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::string openFailureReason(const std::filesystem::path& path, int error)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        const char* kind = S_ISDIR(st.st_mode)    ? "a folder"
                           : S_ISFIFO(st.st_mode) ? "a FIFO (named pipe)"
                           : S_ISSOCK(st.st_mode) ? "a socket"
                           : S_ISCHR(st.st_mode)  ? "a character device"
                                                  : nullptr;
        if (kind)
            return std::string("it is ") + kind + ", not a regular file or a block device";
    }
    return std::strerror(error != 0 ? error : EIO);
}

std::string readFailureReason(const std::filesystem::path& path)
{
    // Opened as an image is: never waiting on a FIFO, the same reasons.
    ImageFile file;
    return file.open(path) ? std::string() : openFailureReason(path, file.lastError());
}

std::uint64_t fileLength(const std::filesystem::path& path)
{
    std::error_code ec;
    auto n = std::filesystem::file_size(path, ec);
    return ec ? 0 : static_cast<std::uint64_t>(n);
}

} // namespace qis
