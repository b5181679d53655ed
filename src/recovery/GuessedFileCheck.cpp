#include "recovery/GuessedFileCheck.h"

#include "images/readWriteInterface.h"
#include "recovery/carving/CarveValidation.h"

#include <algorithm>
#include <cstring>
#include <optional>

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

// A reading kept to be checked; one past the limit is given up.
struct KeptBytes : DataSink {
    bool write(std::span<const std::uint8_t> data) override
    {
        if (!room(data.size()))
            return false;
        bytes.insert(bytes.end(), data.begin(), data.end());
        return true;
    }
    bool skip(std::uint64_t n) override
    {
        if (!room(n))
            return false;
        bytes.resize(bytes.size() + static_cast<std::size_t>(n), 0);
        return true;
    }
    bool room(std::uint64_t n)
    {
        overflowed = overflowed || n > kMaxChecked - bytes.size();
        return !overflowed;
    }
    std::vector<std::uint8_t> bytes;
    bool overflowed = false;
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

GuessedSave saveGuessed(VolumeParser& parser, EntryHandle file, DataSink& out)
{
    const std::u16string name = parser.outputName(file);
    if (!carve::hasValidator(extensionOf(name)))
        return {parser.saveEntry(file, out), GuessVerdict::Unchecked, 0};
    GuessVerdict first = GuessVerdict::Unchecked;
    for (std::size_t reading = 0;; ++reading) {
        KeptBytes bytes;
        auto complete = parser.saveGuess(file, reading, bytes);
        if (!complete)
            break;
        // A reading too large to keep is not checked: the file is saved as
        // the parser reads it first.
        const GuessVerdict verdict = bytes.overflowed ? GuessVerdict::Unchecked : checkGuessedBytes(name, bytes.bytes);
        if (verdict == GuessVerdict::Holds) {
            const bool written = out.write(bytes.bytes);
            return {*complete && written, GuessVerdict::Holds, reading};
        }
        if (reading == 0)
            first = verdict;
        if (first == GuessVerdict::Unchecked)
            break;
    }
    // No other reading holds: the first is the likeliest still.
    return {parser.saveEntry(file, out), first, 0};
}

} // namespace qis
