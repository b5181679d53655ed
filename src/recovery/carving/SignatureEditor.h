#pragma once

#include "recovery/carving/SignatureRecord.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qis {

// The fields of the signature editor, as typed.
struct SignatureFields {
    std::string extension;      // "jpg", without the dot
    std::string startSignature; // "0xFF,0xD8,0xFF"
    std::string startOffset;    // decimal digits, empty for 0
    std::string endSignature;   // optional
    std::string offsetToSize;   // optional
    std::string bytesInSize;    // optional
    bool sizeIncludesHeader = false;
    std::string headerSize;     // optional
    std::string skipSize;       // optional
    std::string approxSize;     // optional
    std::string category;
};

// "0x89, 0x50,0x4E,,0x47": pieces split at commas (empty ones skipped), each
// read as a hexadecimal number (an optional 0x, leading blanks; reading
// stops at the first other character), its low 8 bits kept.
std::vector<std::uint8_t> parseSignatureBytes(std::string_view text);

// A decimal field: empty is 0; nullopt for anything but digits or a value
// above 32 bits.
std::optional<std::uint32_t> parseDecimalField(std::string_view text);

struct BuiltRecord {
    std::optional<SignatureRecord> record;
    std::string message; // why not, when there is no record
};

// The record the editor's Save appends to a file already holding
// `fileLength` bytes.
BuiltRecord buildSignatureRecord(const SignatureFields& fields, std::uint64_t fileLength);

// Save: appends the record made of the fields to the settings file (which
// must exist, as the editor's "..." makes it) and returns the message
// shown: "everything initialized well....." when it was written.
std::string appendSignatureRecord(const std::filesystem::path& file, const SignatureFields& fields);

} // namespace qis
