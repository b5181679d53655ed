#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qis {

// UTF-16 as stored by file systems and partition tables, to UTF-8; unpaired
// surrogates become U+FFFD.
std::string utf16ToUtf8(std::u16string_view text);

// Strict UTF-8 to UTF-16; nullopt for anything that is not well-formed
// UTF-8 (overlong forms, surrogates, stray continuation bytes).
std::optional<std::u16string> utf8ToUtf16(std::string_view text);
bool isWellFormedUtf8(std::string_view text);

inline constexpr char32_t kUtf8Replacement = 0xFFFD;
// The code point of `text` at `at` (moved past it); a malformed sequence
// yields U+FFFD for its first byte only.
char32_t nextUtf8CodePoint(std::string_view text, std::size_t& at);
// The code point's UTF-8 bytes, appended to `out`.
void appendUtf8(std::string& out, char32_t cp);
// Text from an image with anything that is not well-formed UTF-8 as U+FFFD.
std::string wellFormedUtf8(std::string_view text);

} // namespace qis
