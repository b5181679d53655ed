#pragma once

#include "filesystems/VolumeParser.h"
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

struct GuessedSave {
    bool complete = false;  // as VolumeParser::saveEntry says of the reading written
    GuessVerdict verdict = GuessVerdict::Unchecked;
    std::size_t reading = 0; // which of the parser's readings was written (0: its first)
};

// Writes a guessed file to `out`: the parser's first reading of its
// clusters, unless that does not make a whole file of the kind its name
// says and a later reading does (the file went on past another deleted
// file's clusters). Readings are checked in memory, so only a file whose
// kind the carver validates and that fits the check's limit is read more
// than once.
GuessedSave saveGuessed(VolumeParser& parser, EntryHandle file, DataSink& out);

// The verdict on bytes in memory, by the file name's extension.
GuessVerdict checkGuessedBytes(const std::u16string& name, std::span<const std::uint8_t> bytes);

} // namespace qis
