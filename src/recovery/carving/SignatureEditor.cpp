#include "recovery/carving/SignatureEditor.h"

#include "util/Utf.h"

#include <cctype>
#include <fstream>

namespace qis {

std::vector<std::uint8_t> parseSignatureBytes(std::string_view text)
{
    std::vector<std::uint8_t> bytes;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t comma = text.find(',', at);
        std::string_view piece = text.substr(at, comma == std::string_view::npos ? std::string_view::npos : comma - at);
        at = comma == std::string_view::npos ? text.size() + 1 : comma + 1;
        std::size_t i = 0;
        while (i < piece.size() && std::isspace(static_cast<unsigned char>(piece[i])))
            ++i;
        if (i == piece.size())
            continue; // an empty piece
        if (i + 1 < piece.size() && piece[i] == '0' && (piece[i + 1] == 'x' || piece[i + 1] == 'X'))
            i += 2;
        unsigned value = 0;
        for (; i < piece.size() && std::isxdigit(static_cast<unsigned char>(piece[i])); ++i) {
            char c = static_cast<char>(std::tolower(static_cast<unsigned char>(piece[i])));
            value = (value << 4 | static_cast<unsigned>(c <= '9' ? c - '0' : c - 'a' + 10)) & 0xFFFF;
        }
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

std::optional<std::uint32_t> parseDecimalField(std::string_view text)
{
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > UINT32_MAX)
            return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

BuiltRecord buildSignatureRecord(const SignatureFields& f, std::uint64_t fileLength)
{
    BuiltRecord out;
    SignatureRecord r;
    // The record index is 8 bits, and a file's last index says how many
    // records to read: a 257th record would make the file unreadable.
    if (fileLength / SignatureRecord::kBytes >= 256) {
        out.message = "A settings file holds at most 256 signatures; start a new file for more.";
        return out;
    }
    r.recordIndex = static_cast<std::uint8_t>(fileLength / SignatureRecord::kBytes);
    if (f.extension.empty()) {
        out.message = "extention length is zero..";
        return out;
    }
    std::u16string extension = utf8ToUtf16(f.extension).value_or(std::u16string(f.extension.begin(), f.extension.end()));
    r.extension = extension.substr(0, SignatureRecord::kMaxExtensionChars);
    r.extensionLength = static_cast<std::uint8_t>(std::min<std::size_t>(extension.size(), 255));
    auto start = parseSignatureBytes(f.startSignature);
    auto end = parseSignatureBytes(f.endSignature);
    if (start.empty()) {
        out.message = "signature length is zero..";
        return out;
    }
    if (start.size() > SignatureRecord::kMaxSignatureBytes || end.size() > SignatureRecord::kMaxSignatureBytes) {
        out.message = "A signature has at most 10 bytes.";
        return out;
    }
    std::copy(start.begin(), start.end(), r.startSignature.begin());
    std::copy(end.begin(), end.end(), r.endSignature.begin());
    r.startLength = static_cast<std::uint8_t>(start.size());
    r.endLength = static_cast<std::uint8_t>(end.size());

    struct Number {
        const std::string& text;
        const char* caption;
        std::uint32_t value = 0;
    };
    Number numbers[] = {{f.startOffset, "Starting Signature Offset"}, {f.offsetToSize, "Offset to Size Byte"},
                        {f.bytesInSize, "Number Of Bytes In Size"},  {f.headerSize, "Header size"},
                        {f.skipSize, "Size_to_skip_WhileParsing"},   {f.approxSize, "Approx file size"}};
    for (Number& n : numbers) {
        auto value = parseDecimalField(n.text);
        if (!value) {
            out.message = std::string(n.caption) + " must be a whole number of bytes (digits only, below 4294967296).";
            return out;
        }
        n.value = *value;
    }
    // The start signature is compared inside the file's first sector.
    if (numbers[0].value + start.size() > 512) {
        out.message = "The starting signature must lie within the first 512 bytes: its offset plus its length "
                      "may be at most 512.";
        return out;
    }
    r.startOffset = static_cast<std::uint16_t>(numbers[0].value);
    if (numbers[1].value != 0)
        r.offsetToSize = static_cast<std::int32_t>(numbers[1].value);
    r.bytesInSize = static_cast<std::int32_t>(numbers[2].value);
    r.sizeIncludesHeader = f.sizeIncludesHeader ? 1 : 0;
    r.headerSize = static_cast<std::int32_t>(numbers[3].value);
    r.skipSize = numbers[4].value;
    r.approxSize = numbers[5].value;
    if (!f.category.empty()) {
        std::u16string category = utf8ToUtf16(f.category).value_or(std::u16string(f.category.begin(), f.category.end()));
        r.category = category.substr(0, SignatureRecord::kMaxCategoryChars);
    }
    out.record = r;
    return out;
}

std::string appendSignatureRecord(const std::filesystem::path& file, const SignatureFields& fields)
{
    std::error_code ec;
    std::uint64_t length = std::filesystem::file_size(file, ec);
    if (ec)
        return "Select valid file to save the entries.";
    BuiltRecord built = buildSignatureRecord(fields, length);
    if (!built.record)
        return built.message;
    std::ofstream out(file, std::ios::binary | std::ios::app);
    auto bytes = built.record->encode();
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        return "Select valid file to save the entries.";
    return "everything initialized well.....";
}

} // namespace qis
