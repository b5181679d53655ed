#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace qis {

// One MFT record slot as the tree sees it. Links are positions in the
// parser's entryList; 0 or a negative link means none (so record 0, $MFT,
// is never anybody's child), and -1 marks the end of the orphans' chain.
struct NtfsEntryRecord {
    std::array<std::uint8_t, 4> signatureBytes{}; // "FILE" for a record
    std::uint64_t recordOffset = 0;                // from the volume start
    std::optional<std::u16string> name;            // none without a usable $FILE_NAME
    std::uint64_t parentIndex = 0;
    std::uint64_t nameSize = 0; // allocated size from the $FILE_NAME taken
    std::uint16_t recordFlags = 0;
    std::uint16_t sequence = 0; // the record's own sequence number (bumped when it is freed)
    char typeMark = 0; // 'D' for a folder
    std::uint64_t selfIndex = 0;
    std::uint8_t isOrphan = 0;
    std::int64_t firstChild = 0;
    std::int64_t nextSibling = 0;

    [[nodiscard]] bool isFolder() const { return typeMark == 'D'; }
    [[nodiscard]] bool isDeleted() const { return (recordFlags & 0x0001) == 0; }
    [[nodiscard]] bool hasSignature() const
    {
        return signatureBytes[0] == 'F' && signatureBytes[1] == 'I' && signatureBytes[2] == 'L' &&
               signatureBytes[3] == 'E';
    }
};

} // namespace qis
