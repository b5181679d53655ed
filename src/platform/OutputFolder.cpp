#include "platform/OutputFolder.h"

#include "platform/OutputNames.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace qis {
namespace {

constexpr unsigned kMaxNumberedNames = 10000;

} // namespace

OutputFolder::~OutputFolder()
{
    if (fd_ >= 0)
        ::close(fd_);
}

OutputFolder::OutputFolder(OutputFolder&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

OutputFolder& OutputFolder::operator=(OutputFolder&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

std::optional<OutputFolder> OutputFolder::open(const std::filesystem::path& path, int* error)
{
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    OutputFolder folder;
    folder.fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder.fd_ < 0) {
        // The reason the folder could not be made says more than "not there".
        if (error)
            *error = errno == ENOENT && ec ? ec.value() : errno;
        return std::nullopt;
    }
    // A folder that cannot take files is refused now, not after a long scan.
    if (::faccessat(folder.fd_, ".", W_OK | X_OK, AT_EACCESS) != 0) {
        if (error)
            *error = errno;
        return std::nullopt;
    }
    return folder;
}

std::optional<OutputFolder> OutputFolder::subfolder(const std::string& name, std::string* madeName, int* error) const
{
    int why = EBADF;
    for (unsigned n = 0; fd_ >= 0 && n <= kMaxNumberedNames; ++n) {
        std::string candidate = n == 0 ? name : numberedName(name, n);
        if (::mkdirat(fd_, candidate.c_str(), 0755) != 0 && errno != EEXIST) {
            why = errno;
            break;
        }
        OutputFolder sub;
        sub.fd_ = ::openat(fd_, candidate.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub.fd_ >= 0) {
            if (madeName)
                *madeName = candidate;
            return sub;
        }
        why = errno;
        // A file of that name (ENOTDIR) or a symbolic link (ELOOP, or
        // ENOTDIR for a link to a file): the folder goes beside it.
        if (why != ENOTDIR && why != ELOOP)
            break;
    }
    if (error)
        *error = why;
    return std::nullopt;
}

SavedFile::~SavedFile() { close(); }

bool SavedFile::create(const OutputFolder& folder, const std::string& name)
{
    close();
    lastError_ = 0;
    for (unsigned n = 0; n <= kMaxNumberedNames; ++n) {
        std::string candidate = n == 0 ? name : numberedName(name, n);
        fd_ = ::openat(folder.fd_, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd_ >= 0) {
            name_ = candidate;
            folderFd_ = folder.fd_;
            offset_ = 0;
            lastError_ = 0;
            return true;
        }
        if (errno != EEXIST)
            return fail(errno);
    }
    return fail(EEXIST);
}

bool SavedFile::fail(int error)
{
    if (lastError_ == 0)
        lastError_ = error;
    return false;
}

bool SavedFile::write(std::span<const std::uint8_t> data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::pwrite(fd_, data.data() + done, data.size() - done, static_cast<off_t>(offset_));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno);
        }
        if (n == 0)
            return fail(ENOSPC);
        done += static_cast<std::size_t>(n);
        offset_ += static_cast<std::uint64_t>(n);
    }
    return true;
}

bool SavedFile::skip(std::uint64_t bytes)
{
    offset_ += bytes;
    // The length covers the hole even when nothing is written after it.
    return ::ftruncate(fd_, static_cast<off_t>(offset_)) == 0 || fail(errno);
}

std::optional<std::uint64_t> OutputFolder::fileSize(const std::string& name) const
{
    struct stat st {};
    if (fd_ < 0 || ::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

int OutputFolder::openToRead(const std::string& name) const
{
    if (fd_ < 0)
        return -1;
    const int fd = ::openat(fd_, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool SavedFile::copyFrom(int fd, std::uint64_t offset, std::uint64_t length, std::uint64_t& copied)
{
    copied = 0;
    if (fd_ < 0 || lastError_ != 0 || offset > static_cast<std::uint64_t>(INT64_MAX) - length ||
        offset_ > static_cast<std::uint64_t>(INT64_MAX) - length)
        return true;
    // sendfile writes at the file's position; write() goes by offset_.
    if (::lseek(fd_, static_cast<off_t>(offset_), SEEK_SET) < 0)
        return true;
    off_t from = static_cast<off_t>(offset);
    while (copied < length) {
        const ssize_t n = ::sendfile(fd_, fd, &from, static_cast<std::size_t>(std::min<std::uint64_t>(length - copied, 1u << 30)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        copied += static_cast<std::uint64_t>(n);
    }
    offset_ += copied;
    return true;
}

void SavedFile::setTimes(const std::optional<UnixTime>& access, const std::optional<UnixTime>& modification)
{
    if (fd_ < 0)
        return;
    struct timespec times[2];
    times[0].tv_sec = access ? static_cast<time_t>(access->seconds) : 0;
    times[0].tv_nsec = access ? static_cast<long>(access->nanoseconds) : UTIME_OMIT;
    times[1].tv_sec = modification ? static_cast<time_t>(modification->seconds) : 0;
    times[1].tv_nsec = modification ? static_cast<long>(modification->nanoseconds) : UTIME_OMIT;
    ::futimens(fd_, times);
}

bool SavedFile::close()
{
    if (fd_ < 0)
        return true;
    int rc = ::close(fd_);
    fd_ = -1;
    // Some file systems report a full disk only when the file is closed.
    return rc == 0 || fail(errno);
}

void SavedFile::discard()
{
    if (name_.empty() || folderFd_ < 0)
        return;
    close();
    ::unlinkat(folderFd_, name_.c_str(), 0);
    folderFd_ = -1;
}

} // namespace qis
