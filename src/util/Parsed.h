#pragma once

#include <string>
#include <utility>
#include <variant>

namespace qis {

// Why a structure was not taken. Kept apart because callers act on them
// differently: a file of another format is tried elsewhere, damage is
// reported to the user, an unsupported variant is named as such, and a
// failed read says nothing about the file's contents.
enum class ParseFailure {
    NotThisFormat, // the signature that makes it this format is not there
    Damaged,       // this format, but a field needed to read it is broken
    Unsupported,   // this format, in a variant that is not read
    Io,            // the image file could not be read
};

struct ParseError {
    ParseFailure kind;
    std::string message; // shown to the user as it is
};

// A parsed T, or the reason there is none. Both convert implicitly, so a
// parse function returns either its result or ParseError{kind, "..."}.
template <typename T>
class [[nodiscard]] Parsed {
public:
    Parsed(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Parsed(ParseError failure) : state_(std::in_place_index<1>, std::move(failure)) {}

    explicit operator bool() const noexcept { return state_.index() == 0; }

    // Only when parsed (std::bad_variant_access otherwise).
    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }

    // Only when not parsed (std::bad_variant_access otherwise).
    [[nodiscard]] const ParseError& failure() const { return std::get<1>(state_); }
    [[nodiscard]] ParseFailure kind() const { return failure().kind; }
    [[nodiscard]] const std::string& message() const { return failure().message; }

private:
    std::variant<T, ParseError> state_;
};

} // namespace qis
