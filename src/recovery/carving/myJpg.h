#pragma once

#include "images/readWriteInterface.h"
#include "jobs/JobRunner.h"
#include "recovery/carving/Bifragment.h"
#include "recovery/carving/CandidateLayouts.h"
#include "recovery/carving/FileLayout.h"
#include "recovery/carving/SignatureRecord.h"
#include "util/ByteRun.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qis {

// A file type as the carver uses it, one per loaded signature record.
struct SignatureType {
    std::uint8_t startLength = 0;
    std::uint8_t endLength = 0;
    std::u16string extension;
    std::int32_t sizeOffset = -1; // -1: no size field
    std::int32_t sizeByteCount = 0;
    std::int32_t headerSize = 0;
    bool sizeIncludesHeader = false;
    std::uint64_t approxSize = 0;
    std::uint64_t skipSize = 0;
    std::u16string category;
    std::optional<std::uint64_t> categoryItem; // the category's tree item, once the scan started
};

// The signatures of one type: where its files begin and how they end.
struct SignatureEntry {
    std::uint8_t typeId = 0;
    std::array<std::uint8_t, SignatureRecord::kMaxSignatureBytes> start{};
    std::uint8_t startLength = 0;
    std::array<std::uint8_t, SignatureRecord::kMaxSignatureBytes> end{};
    std::uint8_t endLength = 0;
    std::uint16_t startOffset = 0;
    std::u16string extension;
};

struct CarvedFile {
    std::uint64_t start = 0; // byte offset in the scanned range
    std::int64_t length = 0;
    std::uint8_t typeId = 0;
    // The length was worked out from the file's own structure (JPEG markers,
    // PNG chunks, ...), not from its signatures or the approximate size.
    bool validated = false;
    // The extension the contents showed, when it is not the type's (a ZIP
    // that is a spreadsheet: "xlsx"); empty otherwise.
    std::u16string extension;
    // Where the bytes lie when they are not one run from `start` (the
    // pieces' lengths add up to `length`); empty for a file in one piece.
    carve::FileLayout pieces;

    // The file's bytes as pieces, whichever way it is stored.
    [[nodiscard]] carve::FileLayout layout() const
    {
        return pieces.empty() ? carve::FileLayout{{start, static_cast<std::uint64_t>(std::max<std::int64_t>(length, 0))}}
                              : pieces;
    }
    // The path of the deleted entry whose data began where this file
    // starts (folders, then its name), when the volume's file system still
    // says so; empty otherwise. It is saved under that name.
    std::vector<std::u16string> knownPath = {};
};

// Where the carver shows what it finds: the GUI's tree, or nothing.
class CarveTree {
public:
    using ItemId = std::uint64_t;
    virtual ~CarveTree() = default;
    virtual ItemId addFolder(std::optional<ItemId> parent, const std::u16string& text) = 0;
    virtual ItemId addFile(ItemId parent, const std::u16string& text, std::size_t fileIndex) = 0;
    virtual void setText(ItemId item, const std::u16string& text) = 0;
    virtual void expand(ItemId item) = 0;
};

// Raw recovery: finds files by the signatures loaded into it, sector by
// sector over a range of the disk, without any file system.
class myJpg {
public:
    static constexpr std::size_t kMaxTypes = 128;
    static constexpr std::uint64_t kWindowBytes = 1048576;

    std::vector<SignatureType> signatureTypes;
    std::vector<SignatureEntry> signatureEntries;

    // Two slots per entry: every start slot in load order, then every end slot.
    struct MatchSlot {
        std::uint8_t length = 0;
        std::uint8_t typeId = 0;
        std::uint16_t offset = 0;
        std::array<std::uint8_t, SignatureRecord::kMaxSignatureBytes> bytes{};
    };
    std::vector<MatchSlot> matchTable;
    // The slots matchSector tries on a sector, keyed by their first byte
    // that is not a wildcard: for each place in the sector where such a
    // byte stands, the slots by that byte, in table order. A sector is
    // then tried only against the few slots its bytes at those places
    // allow (an ISO box type at 4 as much as a JPEG's marker at 0).
    struct KeyedSlots {
        std::uint16_t at = 0;
        std::array<std::vector<std::uint16_t>, 256> byByte;
    };
    std::vector<KeyedSlots> slotsByKey;
    // Slots that are all wildcards: tried on every sector.
    std::vector<std::uint16_t> slotsAlwaysTried;
    std::vector<std::vector<std::uint64_t>> pendingStarts; // per type ID
    std::vector<CarvedFile> carvedFiles;
    std::map<std::u16string, std::uint64_t> categoryCounts;

    readWriteInterface* reader = nullptr;
    std::uint64_t scanSize = 0; // bytes from the reader's offset 0
    // Where files may start: byte runs from the reader's offset 0 (a
    // volume's free space); nullopt looks everywhere in [0, scanSize). A
    // file found is read on as the volume lays it out, inside the runs or
    // not. Blocks the container never allocated are passed over either way.
    std::optional<std::vector<ByteRun>> scanRuns;
    std::atomic<bool> rawStopRequested{false};
    // How the last scan ended: Stop cut it short after `scannedBytes` of
    // `scanSize` (the files found up to there are kept all the same).
    bool scanStopped = false;
    std::uint64_t scannedBytes = 0;
    // Work out lengths from the files' own structure where the extension is
    // one the carver knows; off, the signatures alone decide.
    bool validateLengths = true;
    // A start of a kind whose structure can be checked, where no whole file
    // of that kind stands, is usually not a file at all (those bytes inside
    // another file) or one overwritten past saving; it is left out and
    // counted in `brokenStarts`, unless kept: then the signatures, size
    // field or approximate size bound it, as for kinds without a check.
    bool keepBroken = false;
    std::uint64_t brokenStarts = 0;
    // A scan of at least this many bytes, with no tree to show it, runs in
    // parts on all the processors (0: never). The files found are the same
    // as one thread finds, but for where a part's own budget for files in
    // pieces runs out.
    std::uint64_t threadsFrom = 128ull << 20;
    // How long the parts are (there are at least two), the last ones down
    // to a quarter of it: where a file lies across a part's end it is read
    // by both parts' scans.
    std::uint64_t partBytes = 32ull << 20;
    // Where the last part of the last scan whose files were used began to
    // be used (0: one thread did it all).
    std::uint64_t handedOverAt = 0;
    // How the carver looks for a file written around another (JPEG, ZIP):
    // the volume's cluster size goes first in its block sizes when known.
    carve::FragmentSearch fragmentSearch;

    // Adds a loaded record as the next type; false (nothing added) when
    // kMaxTypes types are loaded already.
    bool addSignature(const SignatureRecord& record);

    bool prepareMatcher();
    struct Match {
        char kind = 0; // 'S' start, 'E' end, 0 none
        std::uint8_t typeId = 0;
    };
    [[nodiscard]] Match matchSector(std::span<const std::uint8_t> sector) const;

    // The whole scan as a job; the tree may be null.
    bool carveVolume(JobContext& job, CarveTree* tree);

    // "2097152 .jpg" for a JPEG found at byte 2097152.
    [[nodiscard]] std::u16string fileName(std::size_t index) const;
    [[nodiscard]] const std::u16string& categoryOf(std::size_t index) const;

private:
    // The scan from `from` to the end. `atJump` (when set) is told each
    // place the scan comes to other than by one sector, the first
    // included, and each whole 4 MiB it steps onto, and ends the scan there
    // by answering true: then the answer is true. Progress and Stop go through `job` when given.
    bool scanFrom(std::uint64_t from, CarveTree* tree, const carve::ScannedVolume& scannedVolume, JobContext* job,
                  const std::function<bool(std::uint64_t)>& atJump);
    // The scan in parts on several threads, put together as one thread
    // would have found the files.
    void scanInParts(JobContext& job, const carve::ScannedVolume& scannedVolume);
    // Whether few enough starts wait for their end signature to compare
    // them at each jump.
    [[nodiscard]] bool fewPending() const;
    // What Stop sets: the engine's own flag, or the one of the engine it
    // scans a part of the disk for.
    const std::atomic<bool>* stopFlag_ = &rawStopRequested;
    void addFile(std::uint64_t start, std::int64_t length, std::uint8_t type, bool validated, CarveTree* tree,
                 std::u16string extension = {});
    // Where the end signature of `type` first lies in bytes[from, to), or npos.
    std::size_t findEnd(std::uint8_t type, std::span<const std::uint8_t> bytes, std::size_t from, std::size_t to) const;
    void addLeftOverStarts(CarveTree* tree);
    // The file at `start` in two pieces, when one run does not hold it whole.
    std::optional<carve::Bifragment> secondFragment(const std::u16string& extension, std::uint64_t start,
                                                    std::uint64_t limit, const std::optional<carve::Validated>& whole,
                                                    std::span<const std::uint8_t> head);
    std::uint64_t fragmentBudget_ = 0;
    // The types with starts waiting for their end, in type order: every
    // sector without a start is searched for their ends only.
    std::vector<std::uint8_t> pendingTypes_;
    bool pendingChanged_ = true;
    // Closes the pending files whose end signature zeros match, one per
    // sector from `at`, as a scan through the `length` bytes of zeros
    // there would; returns where that scan would have gone on.
    std::uint64_t endInZeros(std::uint64_t at, std::uint64_t length, CarveTree* tree);
    std::optional<CarveTree::ItemId> root_;
};

} // namespace qis
