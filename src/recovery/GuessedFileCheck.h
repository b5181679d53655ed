#pragma once

#include "util/DataSink.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qis {

// A deleted file read by a guess (its clusters taken in a row from the
// first) may hold another file's clusters. Where its name says a format the
// carver knows, the saved bytes are checked against that format's own
// structure, so the summary can tell a guess that holds from one that does
// not.
enum class GuessVerdict {
    Unchecked, // no validator for its kind, or too large to keep for the check
    Holds,     // a whole file of its kind, ending within the saved bytes
    Broken,    // not a whole file of its kind: the guess took wrong clusters
};

// Passes every byte on to `out` and keeps a copy (up to a limit) to check.
class GuessedFileCheck : public DataSink {
public:
    GuessedFileCheck(DataSink& out, const std::u16string& name);
    bool write(std::span<const std::uint8_t> data) override;
    bool skip(std::uint64_t bytes) override;
    // The verdict on what was written so far.
    [[nodiscard]] GuessVerdict verdict() const;

private:
    void keep(std::span<const std::uint8_t> data, std::uint64_t zeros);
    DataSink& out_;
    std::u16string extension_;
    bool checked_ = false; // a validator knows the kind and the bytes still fit
    std::vector<std::uint8_t> bytes_;
};

// The same verdict for bytes in memory, by the file name's extension.
GuessVerdict checkGuessedBytes(const std::u16string& name, std::span<const std::uint8_t> bytes);

} // namespace qis
