#include "images/readWriteInterface.h"

#include "images/VolumeBytes.h"

#include <cctype>

namespace qis {

readWriteInterface::~readWriteInterface() = default;

bool readWriteInterface::read(void*, std::uint32_t) { return true; }

bool readWriteInterface::seek(std::int64_t, std::int32_t) { return true; }

int readWriteInterface::storedAt(std::uint64_t, std::uint64_t, std::uint64_t&, std::uint64_t&) { return -1; }

bool readWriteInterface::readAt(std::uint64_t offset, std::span<std::uint8_t> out)
{
    return readVolumeBytes(*this, offset, out);
}

bool readWriteInterface::reserved(std::uint32_t) { return true; }

std::uint64_t readWriteInterface::allocationRun(std::int64_t, std::uint64_t maxBytes, bool& allocated)
{
    allocated = true;
    return maxBytes;
}

void readWriteInterface::showMessage(std::string_view text)
{
    lastMessage_ = text;
    if (messageHandler_)
        messageHandler_(text);
}

bool pathEndsWith(const std::filesystem::path& path, std::string_view suffix)
{
    const std::string& s = path.native();
    if (s.size() < suffix.size())
        return false;
    std::string_view tail(s.data() + s.size() - suffix.size(), suffix.size());
    for (std::size_t i = 0; i < suffix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(tail[i])) != std::tolower(static_cast<unsigned char>(suffix[i])))
            return false;
    return true;
}

} // namespace qis
