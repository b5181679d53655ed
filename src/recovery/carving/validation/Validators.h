#pragma once

#include "recovery/carving/validation/ValidationSource.h"

#include <string>

namespace qis::carve::validation {

// One validator per format: each checks that the source starts with a file
// of its kind and returns where that file ends, worked out from the file's
// own structure (markers, chunks, size fields, directories), never from a
// guess. A new format family gets its own source file beside these.

// Images.
Length jpeg(Source& s);
Length png(Source& s);
Length gif(Source& s);
Length bmp(Source& s);
// TIFF and the camera raw files built on it; `kind` gets the raw format's
// extension when the file shows one.
Length tiff(Source& s, std::u16string& kind);
Length ico(Source& s);
Length psd(Source& s);
Length xcf(Source& s);
Length pnm(Source& s);

// Archives and databases. `kind` gets the extension the archive's entries
// show (an office document, a Java archive) and stays empty otherwise.
Length zip(Source& s, std::u16string& kind);
Length sevenZip(Source& s);
Length gzip(Source& s);
Length sqlite(Source& s);
Length rar(Source& s);
Length xz(Source& s);
Length bzip2(Source& s);

// Documents.
Length pdf(Source& s);

// Audio and video.
Length riff(Source& s);
Length isoBoxes(Source& s);
Length mp3(Source& s);
Length ogg(Source& s);
Length mpegProgram(Source& s);
Length mpegTransport(Source& s);
Length flac(Source& s);
// `kind` gets "webm" when the header's document type says so.
Length matroska(Source& s, std::u16string& kind);

// Text, from a known start to its last text byte. `kind` gets the
// extension the text shows: a script's by its interpreter, "svg" for an XML
// document whose root is an svg element.
Length script(Source& s, std::u16string& kind);
Length xml(Source& s, std::u16string& kind);
Length html(Source& s);
Length json(Source& s);
Length mbox(Source& s);
Length eml(Source& s);

// Executables.
Length elf(Source& s);
Length pe(Source& s);
Length machO(Source& s);

} // namespace qis::carve::validation
