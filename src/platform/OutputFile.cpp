#include "platform/OutputFile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace qis {

OutputFile::~OutputFile() { close(); }

bool OutputFile::createNew(const std::filesystem::path& path)
{
    close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd_ < 0) {
        lastError_ = errno;
        return false;
    }
    return true;
}

bool OutputFile::writeAt(std::uint64_t offset, std::span<const std::uint8_t> data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::pwrite(fd_, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            lastError_ = errno;
            return false;
        }
        if (n == 0) {
            lastError_ = ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool OutputFile::setLength(std::uint64_t length)
{
    if (::ftruncate(fd_, static_cast<off_t>(length)) != 0) {
        lastError_ = errno;
        return false;
    }
    return true;
}

bool OutputFile::close()
{
    if (fd_ < 0)
        return true;
    int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0) {
        lastError_ = errno;
        return false;
    }
    return true;
}

int renameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without RENAME_NOREPLACE: a hard link fails when the
    // name exists, and the old name goes only once the new one is in place.
    if (::link(from.c_str(), to.c_str()) != 0)
        return errno;
    ::unlink(from.c_str());
    return 0;
}

std::optional<std::uint64_t> freeSpace(const std::filesystem::path& folder)
{
    struct statvfs st {};
    if (::statvfs(folder.c_str(), &st) != 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
}

} // namespace qis
