#pragma once

#include "images/readWriteInterface.h"
#include "recovery/carving/FileLayout.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace qis::carve {

// The length of the file that starts at `start`, worked out from its own
// structure: JPEG markers to the image's end (not an embedded thumbnail's),
// PNG chunks to IEND, GIF blocks to the trailer, a ZIP (DOCX, XLSX, ODT …)
// to the end of its central directory and comment, PDF to its last
// "%%EOF" that closes an xref, a phone JPEG to the last image its MPF
// index lists, RIFF, BMP and 7z by their size fields, MP4 and MOV by their
// boxes, MP3 by its tag and frames, Ogg by its pages, MPEG program streams
// by their packs, SQLite by its pages, TIFF by its directories, GZIP by
// walking its deflate stream to the trailer, ELF and PE by their headers,
// text (scripts, XML, HTML, JSON, mail) to its last text byte.
// nullopt when the extension is none of these or the bytes do not hold a
// whole file of the kind within `limit` bytes.
struct Validated {
    std::uint64_t length = 0;
    // The extension the contents show, when it differs from the type's: a
    // ZIP that holds a word-processing document is a "docx".
    std::u16string extension;
};
std::optional<Validated> validateFile(const std::u16string& extension, readWriteInterface& reader, std::uint64_t start,
                                      std::uint64_t limit);
// The same for a file whose bytes lie in the layout's pieces, in order (the
// limit is the layout's length). `head`, when given, holds the bytes from
// the first piece's start as already read, so they are not read again.
std::optional<Validated> validateFile(const std::u16string& extension, readWriteInterface& reader,
                                      const FileLayout& layout, std::span<const std::uint8_t> head = {});

// Whether files with this extension (any case) are checked by their structure.
bool hasValidator(const std::u16string& extension);

// The length alone.
std::optional<std::uint64_t> validatedLength(const std::u16string& extension, readWriteInterface& reader,
                                             std::uint64_t start, std::uint64_t limit);

} // namespace qis::carve
