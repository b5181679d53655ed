#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qis {

inline constexpr std::uint32_t kSectorSize = 512;

enum class ImageFormat { Vhdx, Vhd, Vdi, Vmdk, Raw, Qcow2 };

// One image of a chain of differencing images, as it is shown.
struct ImageLayer {
    std::filesystem::path path;
    ImageFormat format = ImageFormat::Raw;
    std::uint64_t virtualBytes = 0;
    std::uint64_t fileBytes = 0;
};

// The one view every layer above has of a virtual disk: a flat sequence of
// 512-byte sectors, positioned with seek and taken with read. The image file
// is never written.
class readWriteInterface {
public:
    virtual ~readWriteInterface();

    virtual bool open(std::filesystem::path path) = 0;

    // Delivers length bytes from the current position: whole sectors first,
    // each advancing currentOffset by 512, then a partial sector that does not.
    // Unallocated blocks read as zeros. False when a sector could not be read
    // from the image or lies outside the virtual disk; such sectors are zeros.
    virtual bool read(void* buffer, std::uint32_t length);

    // Positions at the sector holding baseOffset + offset (rounded down to a
    // sector). False when that sector lies outside the disk.
    virtual bool seek(std::int64_t offset, std::int32_t origin);

    // Reads out.size() bytes at baseOffset + offset, wherever in a sector it
    // falls, as read would (zeros where it could not read). Readers whose
    // readsConcurrently() is true serve it from several threads at once and
    // leave the position alone; the others seek and read.
    virtual bool readAt(std::uint64_t offset, std::span<std::uint8_t> out);
    [[nodiscard]] virtual bool readsConcurrently() const { return false; }

    // Where the bytes at baseOffset + offset are kept as they are in the
    // image file: its descriptor, with the file offset and how many bytes
    // (at most `length`, at least 1) follow there in one run; -1 where they
    // are not (an unallocated block, a reader of another kind). A copy can
    // then go from file to file inside the system. Safe from several
    // threads where readsConcurrently() is.
    virtual int storedAt(std::uint64_t offset, std::uint64_t length, std::uint64_t& fileOffset, std::uint64_t& run);

    virtual bool reserved(std::uint32_t value);

    // How the bytes from baseOffset + offset on are stored: sets `allocated`
    // and returns the length (at most maxBytes, at least one sector or
    // maxBytes) of the run that is all allocated or all unallocated. Bulk
    // copies use it to leave holes without reading or testing zeros. Readers
    // that cannot tell report everything as allocated.
    virtual std::uint64_t allocationRun(std::int64_t offset, std::uint64_t maxBytes, bool& allocated);

    // Where failures are shown; the message is also kept in lastMessage().
    void setMessageHandler(std::function<void(std::string_view)> handler) { messageHandler_ = std::move(handler); }
    [[nodiscard]] const std::string& lastMessage() const { return lastMessage_; }

    // errno of the last failed read from the image file, 0 when none.
    [[nodiscard]] int lastError() const { return lastError_; }

    std::uint64_t tableEntryCount = 0;
    std::vector<std::uint64_t> blockTable;
    std::int64_t baseOffset = 0;
    std::uint64_t imageLength = 0;
    bool blockPresent = true;

    // Size of the virtual disk in sectors, from the format's virtual-size field.
    std::uint64_t diskSectorCount = 0;

    // Bytes of the virtual disk that the image says are there but that
    // cannot be read (a damaged block table entry); they read as zeros. Set
    // by open, so a whole-disk copy knows it is not whole before it starts.
    std::uint64_t unreadableBytes = 0;
    // Damage open found and read past, one sentence each ("Both VHDX headers
    // are damaged ..."), for the command line to show; empty when none.
    std::vector<std::string> damage;

    // Set before open: the files to take as this image's parent, its
    // parent's parent and so on, ahead of those the image names itself.
    std::vector<std::filesystem::path> parentPaths;
    // Filled by open for a differencing image: itself first, then each image
    // its reads fall through to; empty for an image that stands alone.
    std::vector<ImageLayer> layers;
    // The files (device, inode) of the chain in front of this image, set by
    // the image it is opened as the parent of: loops are refused with them.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> chainFiles;

protected:
    void showMessage(std::string_view text);
    int lastError_ = 0;

private:
    std::function<void(std::string_view)> messageHandler_;
    std::string lastMessage_;
};

// True when the path's last characters equal suffix, without regard to case
// (the readers' extension tests).
bool pathEndsWith(const std::filesystem::path& path, std::string_view suffix);

} // namespace qis
