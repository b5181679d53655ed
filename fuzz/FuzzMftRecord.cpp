// One MFT record as the parser meets it on a damaged volume: fixups, the
// attribute walk, resident values, names and run lists.

#include "filesystems/ntfs/NtfsStructures.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace qis::ntfsdisk;
    std::vector<std::uint8_t> record(data, data + std::min<std::size_t>(size, 4096));
    record.resize(std::max<std::size_t>(record.size(), kRecordSize), 0);
    applyFixups(record);
    RecordHeader::parse(record);
    for (const AttributeHeader& a : walkAttributes(record)) {
        auto value = residentValue(record, a);
        (void)attributeName(record, a);
        if (a.type == kAttrFileName)
            (void)FileNameValue::parse(value);
        if (a.type == kAttrStandardInformation)
            (void)StandardInformation::parse(value);
        (void)decodeRunList(record, a);
    }
    // The same bytes as a bare run list.
    (void)decodeRunList(std::span<const std::uint8_t>(data, size), ~0ull);
    return 0;
}
