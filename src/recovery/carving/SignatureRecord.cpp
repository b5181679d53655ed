#include "recovery/carving/SignatureRecord.h"

#include "util/ByteReader.h"

#include <algorithm>

namespace qis {
namespace {

// Record layout: byte offsets of the fields.
constexpr std::size_t kExtension = 0x00, kStartOffset = 0x0A, kExtensionLength = 0x0C, kStartSignature = 0x0D,
                      kEndSignature = 0x17, kStartLength = 0x21, kEndLength = 0x22, kRecordIndex = 0x23,
                      kOffsetToSize = 0x24, kBytesInSize = 0x28, kHeaderSize = 0x2C, kSizeIncludesHeader = 0x30,
                      kApproxSize = 0x35, kSkipSize = 0x3D, kCategory = 0x45;

void putLe(std::span<std::uint8_t> out, std::size_t at, std::uint64_t value, std::size_t bytes)
{
    for (std::size_t i = 0; i < bytes; ++i)
        out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void putText(std::span<std::uint8_t> out, std::size_t at, const std::u16string& text, std::size_t chars)
{
    for (std::size_t i = 0; i < std::min(text.size(), chars); ++i)
        putLe(out, at + 2 * i, text[i], 2);
}

std::u16string getText(ByteReader& r, std::size_t at, std::size_t chars)
{
    std::u16string text;
    for (std::size_t i = 0; i < chars; ++i) {
        char16_t c = r.u16le(at + 2 * i);
        if (c == 0)
            break;
        text += c;
    }
    return text;
}

} // namespace

std::array<std::uint8_t, SignatureRecord::kBytes> SignatureRecord::encode() const
{
    std::array<std::uint8_t, kBytes> out{};
    putText(out, kExtension, extension, kMaxExtensionChars);
    putLe(out, kStartOffset, startOffset, 2);
    out[kExtensionLength] = extensionLength;
    std::copy(startSignature.begin(), startSignature.end(), out.begin() + kStartSignature);
    std::copy(endSignature.begin(), endSignature.end(), out.begin() + kEndSignature);
    out[kStartLength] = startLength;
    out[kEndLength] = endLength;
    out[kRecordIndex] = recordIndex;
    putLe(out, kOffsetToSize, static_cast<std::uint32_t>(offsetToSize), 4);
    putLe(out, kBytesInSize, static_cast<std::uint32_t>(bytesInSize), 4);
    putLe(out, kHeaderSize, static_cast<std::uint32_t>(headerSize), 4);
    out[kSizeIncludesHeader] = sizeIncludesHeader;
    putLe(out, kApproxSize, static_cast<std::uint64_t>(approxSize), 8);
    putLe(out, kSkipSize, static_cast<std::uint64_t>(skipSize), 8);
    putText(out, kCategory, category, kMaxCategoryChars);
    return out;
}

SignatureRecord SignatureRecord::decode(std::span<const std::uint8_t, kBytes> bytes)
{
    ByteReader r(bytes);
    SignatureRecord s;
    s.extension = getText(r, kExtension, kMaxExtensionChars);
    s.startOffset = r.u16le(kStartOffset);
    s.extensionLength = bytes[kExtensionLength];
    std::copy_n(bytes.begin() + kStartSignature, kMaxSignatureBytes, s.startSignature.begin());
    std::copy_n(bytes.begin() + kEndSignature, kMaxSignatureBytes, s.endSignature.begin());
    s.startLength = bytes[kStartLength];
    s.endLength = bytes[kEndLength];
    s.recordIndex = bytes[kRecordIndex];
    s.offsetToSize = static_cast<std::int32_t>(r.u32le(kOffsetToSize));
    s.bytesInSize = static_cast<std::int32_t>(r.u32le(kBytesInSize));
    s.headerSize = static_cast<std::int32_t>(r.u32le(kHeaderSize));
    s.sizeIncludesHeader = bytes[kSizeIncludesHeader];
    s.approxSize = static_cast<std::int64_t>(r.u64le(kApproxSize));
    s.skipSize = static_cast<std::int64_t>(r.u64le(kSkipSize));
    s.category = getText(r, kCategory, kMaxCategoryChars);
    return s;
}

} // namespace qis
