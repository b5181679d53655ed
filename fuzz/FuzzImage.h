#pragma once

// Shared body of the reader fuzz targets: the input is the image file. It is
// kept in a memory file reached through a symlink whose name carries the
// extension the reader tests for.

#include "images/readWriteInterface.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace qis::fuzz {

inline std::string& linkPath()
{
    static std::string path;
    return path;
}

inline std::string imagePath(const char* extension)
{
    int fd = ::memfd_create("qis-fuzz-image", 0);
    if (fd < 0)
        std::abort();
    std::string pid = std::to_string(::getpid());
    linkPath() = "/tmp/qis-fuzz-" + pid + extension;
    ::unlink(linkPath().c_str());
    if (::symlink(("/proc/" + pid + "/fd/" + std::to_string(fd)).c_str(), linkPath().c_str()) != 0)
        std::abort();
    std::atexit([] { ::unlink(linkPath().c_str()); });
    return linkPath();
}

inline void setImage(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    std::FILE* f = std::fopen(path.c_str(), "r+b");
    if (!f)
        std::abort();
    if (::ftruncate(::fileno(f), 0) != 0)
        std::abort();
    if (size && std::fwrite(data, 1, size, f) != size)
        std::abort();
    std::fclose(f);
}

// Opens the image and reads it the ways the layers above do: the start, a
// few positions taken from the input, and the end of the disk.
template <typename Reader>
void exerciseReader(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    Reader reader;
    if (!reader.open(path))
        return;
    std::vector<std::uint8_t> buffer(256 * 1024);
    reader.seek(0, 0);
    reader.read(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
    std::uint64_t sectors = reader.diskSectorCount;
    for (std::size_t i = 0; i + 8 <= size && i < 64; i += 8) {
        std::uint64_t v = 0;
        for (int k = 0; k < 8; ++k)
            v = (v << 8) | data[i + k];
        std::uint64_t sector = sectors ? v % (sectors + 16) : v % 4096;
        reader.seek(static_cast<std::int64_t>(sector * 512 + (v >> 60)), 0);
        reader.read(buffer.data(), static_cast<std::uint32_t>(512 * (1 + (v & 7)) + (v >> 61)));
    }
    if (sectors > 0) {
        reader.seek(static_cast<std::int64_t>((sectors - 1) * 512), 0);
        reader.read(buffer.data(), 4096);
    }
}

} // namespace qis::fuzz
