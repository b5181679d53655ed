#include "recovery/GuessedFileCheck.h"

#include "images/readWriteInterface.h"
#include "recovery/carving/CarveValidation.h"

#include <algorithm>
#include <cstring>

namespace qis {
namespace {

// Large enough for the photos and documents people lose; a larger guess is
// saved all the same, only not checked.
constexpr std::size_t kMaxChecked = 64u << 20;

std::u16string extensionOf(const std::u16string& name)
{
    const std::size_t dot = name.rfind(u'.');
    return dot == std::u16string::npos ? std::u16string() : name.substr(dot + 1);
}

// The saved bytes seen as a disk, so the carver's validators can walk them.
class BytesDisk : public readWriteInterface {
public:
    explicit BytesDisk(std::span<const std::uint8_t> bytes) : bytes_(bytes)
    {
        diskSectorCount = (bytes.size() + kSectorSize - 1) / kSectorSize;
    }
    bool open(std::filesystem::path) override { return true; }
    bool seek(std::int64_t offset, std::int32_t) override
    {
        if (offset < 0 || static_cast<std::uint64_t>(offset) / kSectorSize >= diskSectorCount)
            return false;
        at_ = static_cast<std::uint64_t>(offset) / kSectorSize * kSectorSize;
        return true;
    }
    bool read(void* buffer, std::uint32_t length) override
    {
        auto* out = static_cast<std::uint8_t*>(buffer);
        const std::uint64_t have = at_ < bytes_.size() ? std::min<std::uint64_t>(length, bytes_.size() - at_) : 0;
        std::memcpy(out, bytes_.data() + at_, static_cast<std::size_t>(have));
        std::memset(out + have, 0, static_cast<std::size_t>(length - have));
        at_ += length / kSectorSize * kSectorSize;
        return have == length;
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::uint64_t at_ = 0;
};

} // namespace

GuessVerdict checkGuessedBytes(const std::u16string& name, std::span<const std::uint8_t> bytes)
{
    const std::u16string extension = extensionOf(name);
    if (!carve::hasValidator(extension) || bytes.empty())
        return GuessVerdict::Unchecked;
    BytesDisk disk(bytes);
    auto length = carve::validatedLength(extension, disk, 0, bytes.size());
    // A file may carry bytes past its structure's end (a camera's trailer);
    // what matters is that the structure closes inside what was saved.
    return length && *length <= bytes.size() ? GuessVerdict::Holds : GuessVerdict::Broken;
}

GuessedFileCheck::GuessedFileCheck(DataSink& out, const std::u16string& name)
    : out_(out), extension_(extensionOf(name)), checked_(carve::hasValidator(extension_))
{
}

void GuessedFileCheck::keep(std::span<const std::uint8_t> data, std::uint64_t zeros)
{
    if (!checked_)
        return;
    if (zeros > kMaxChecked || data.size() + zeros > kMaxChecked - bytes_.size()) {
        checked_ = false;
        bytes_ = {};
        return;
    }
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    bytes_.resize(bytes_.size() + static_cast<std::size_t>(zeros), 0);
}

bool GuessedFileCheck::write(std::span<const std::uint8_t> data)
{
    keep(data, 0);
    return out_.write(data);
}

bool GuessedFileCheck::skip(std::uint64_t bytes)
{
    keep({}, bytes);
    return out_.skip(bytes);
}

GuessVerdict GuessedFileCheck::verdict() const
{
    if (!checked_)
        return GuessVerdict::Unchecked;
    return checkGuessedBytes(u"." + extension_, bytes_);
}

} // namespace qis
