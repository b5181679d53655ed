#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qis::ntfsdisk {

inline constexpr std::size_t kRecordSize = 1024;
inline constexpr std::uint32_t kAttrStandardInformation = 0x10;
inline constexpr std::uint32_t kAttrAttributeList = 0x20;
inline constexpr std::uint32_t kAttrFileName = 0x30;
inline constexpr std::uint32_t kAttrData = 0x80;
inline constexpr std::uint32_t kAttrEnd = 0xFFFFFFFF;
inline constexpr std::uint16_t kRecordInUse = 0x0001;
inline constexpr std::uint16_t kRecordIsDirectory = 0x0002;
inline constexpr std::uint32_t kFileNameHasIndex = 0x10000000;
inline constexpr std::uint8_t kNamespaceDos = 2;
// Clusters above 2 MiB do not occur on real volumes; a larger value is damage.
inline constexpr std::uint64_t kMaxBytesPerCluster = 2u << 20;

struct BootSector {
    bool signatureOk = false;          // 0x03 OEM ID "NTFS"
    std::uint16_t bytesPerSector = 0;  // 0x0B
    std::uint8_t sectorsPerCluster = 0; // 0x0D
    std::uint64_t totalSectors = 0;    // 0x28
    std::uint64_t mftCluster = 0;      // 0x30 MFT LCN
    std::uint64_t mftMirrorCluster = 0; // 0x38 MFTMirr LCN
    static BootSector parse(std::span<const std::uint8_t> sector);

    // Bytes per sector × sectors per cluster (a byte above 0x80 encodes a
    // power of two); 0 when that is not a usable cluster size.
    [[nodiscard]] std::uint64_t bytesPerCluster() const;
};

struct RecordHeader {
    bool signatureOk = false;            // 0x00 "FILE"
    std::uint16_t updateSequenceOffset = 0; // 0x04
    std::uint16_t updateSequenceCount = 0;  // 0x06
    std::uint16_t firstAttributeOffset = 0; // 0x14
    std::uint16_t sequenceNumber = 0;       // 0x10 bumped each time the record is freed
    std::uint16_t flags = 0;                // 0x16
    std::uint64_t baseRecord = 0;           // 0x20 base record reference (0: this is a base record)
    std::uint16_t baseSequence = 0;         // 0x26 the base record's sequence number when this one was made
    // 0x2C: the record's own MFT number, kept by NTFS 3.1 records (whose
    // update sequence starts at 0x30 or later); absent in older ones.
    std::optional<std::uint32_t> recordNumber;
    static RecordHeader parse(std::span<const std::uint8_t> record);
};

// Whether a record whose sequence number is `now` is still the one a
// reference made when it was `then` names: the same number, or, once the
// record was freed (which moves the number on, past 0), the next one.
inline bool sameOrFreedSince(std::uint16_t then, std::uint16_t now, bool freed)
{
    if (now == then)
        return true;
    const std::uint16_t next = static_cast<std::uint16_t>(then + 1) == 0 ? 1 : static_cast<std::uint16_t>(then + 1);
    return freed && now == next;
}

// Puts each 512-byte stride's last two bytes back from the update sequence
// array. Entries that would fall outside the record or the array are left
// alone. Returns false when a stride's tail did not carry the check value
// (a torn write); the record is fixed up and used all the same.
bool applyFixups(std::span<std::uint8_t> record);

struct AttributeHeader {
    std::size_t offset = 0;     // in the record
    std::uint32_t type = 0;     // 0x00
    std::uint32_t length = 0;   // 0x04
    std::uint8_t nonResident = 0; // 0x08
    std::uint8_t nameLength = 0;  // 0x09
    std::uint16_t nameOffset = 0; // 0x0A
    std::uint16_t flags = 0;      // 0x0C
    std::uint16_t attributeId = 0; // 0x0E
    // Resident
    std::uint32_t valueLength = 0; // 0x10
    std::uint16_t valueOffset = 0; // 0x14
    // Non-resident
    std::uint64_t startingVcn = 0;   // 0x10
    std::uint64_t lastVcn = 0;       // 0x18
    std::uint16_t runListOffset = 0; // 0x20
    std::uint16_t compressionUnit = 0; // 0x22
    std::uint64_t allocatedSize = 0; // 0x28
    std::uint64_t dataSize = 0;      // 0x30
    std::uint64_t initializedSize = 0; // 0x38

    [[nodiscard]] bool isNamed() const { return nameLength != 0; }
};

// The attributes of a record, in order, each inside the record and of a
// length that moves the walk on; the end marker is not included.
std::vector<AttributeHeader> walkAttributes(std::span<const std::uint8_t> record);

// The value of a resident attribute, empty when it does not lie inside the record.
std::span<const std::uint8_t> residentValue(std::span<const std::uint8_t> record, const AttributeHeader& a);

// The attribute's name (named streams), empty for the unnamed one.
std::u16string attributeName(std::span<const std::uint8_t> record, const AttributeHeader& a);

struct DataRun {
    std::uint64_t lcn = 0;    // first cluster; 0 for a sparse run
    std::uint64_t length = 0; // clusters
    bool sparse = false;
    bool operator==(const DataRun&) const = default;
};

// Decodes a run list with 64-bit lengths and cluster numbers. Runs past
// clusterCount clusters (last VCN − starting VCN + 1) are dropped, as are
// runs whose cluster numbers overflow.
std::vector<DataRun> decodeRunList(std::span<const std::uint8_t> runList, std::uint64_t clusterCount);

// The run list of a non-resident attribute.
std::vector<DataRun> decodeRunList(std::span<const std::uint8_t> record, const AttributeHeader& a);

struct FileNameValue {
    std::uint64_t parentReference = 0; // 0x00
    std::uint64_t creationTime = 0;    // 0x08
    std::uint64_t modificationTime = 0; // 0x10
    std::uint64_t accessTime = 0;      // 0x20
    std::uint64_t allocatedSize = 0;   // 0x28
    std::uint64_t dataSize = 0;        // 0x30
    std::uint32_t flags = 0;           // 0x38
    std::uint8_t nameLength = 0;       // 0x40
    std::uint8_t nameSpace = 0;        // 0x41
    std::u16string name;               // 0x42
    [[nodiscard]] std::uint64_t parentRecord() const { return parentReference & 0xFFFFFFFFFFFFull; }
    static std::optional<FileNameValue> parse(std::span<const std::uint8_t> value);
};

// A $FILE_NAME taken out of a record after the record was freed: removing
// the last attribute moves the end marker onto its type and length, and the
// rest of it (the value included) stays behind the marker. Used only for
// records that are no longer in use; nullopt unless the bytes behind the
// marker are a whole resident $FILE_NAME.
std::optional<FileNameValue> removedFileName(std::span<const std::uint8_t> record);

// One entry of an $ATTRIBUTE_LIST: which record holds (part of) an attribute.
struct AttributeListEntry {
    std::uint32_t type = 0;          // 0x00
    std::uint16_t length = 0;        // 0x04
    std::uint8_t nameLength = 0;     // 0x06
    std::uint64_t startingVcn = 0;   // 0x08
    std::uint64_t recordNumber = 0;  // 0x10, low 48 bits
    std::uint16_t sequence = 0;      // 0x16
};

// The entries of a list, in order, up to `limit` of them; the walk ends at
// the end marker, an entry shorter than its fixed part, or one that runs
// past the bytes. With `sortedOnly` it also ends where the types stop
// rising (what lies behind a list that was cut short).
std::vector<AttributeListEntry> parseAttributeList(std::span<const std::uint8_t> list, std::size_t limit,
                                                   bool sortedOnly = false);

struct StandardInformation {
    std::uint64_t creationTime = 0;     // 0x00
    std::uint64_t modificationTime = 0; // 0x08
    std::uint64_t mftChangeTime = 0;    // 0x10
    std::uint64_t accessTime = 0;       // 0x18
    std::uint32_t fileAttributes = 0;   // 0x20
    static std::optional<StandardInformation> parse(std::span<const std::uint8_t> value);
};

} // namespace qis::ntfsdisk
