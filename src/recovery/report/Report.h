#pragma once

#include "recovery/SavedFileRecord.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace qis {

enum class ReportFormat {
    Json,  // .json
    Csv,   // .csv
    Dfxml, // .xml: Digital Forensics XML
};

// The format a report path asks for by its extension (any case); nullopt
// for any other, so a save can refuse the path before it begins.
std::optional<ReportFormat> reportFormatFor(const std::filesystem::path& path);

// What the report says of the run as a whole.
struct ReportMeta {
    std::string version;                      // the program's ("3.02")
    std::string image;                        // the image file, as given
    std::string volume;                       // which volume, as the user named it; empty for a whole disk
    std::optional<std::uint64_t> volumeStart; // its first byte on the disk, when known
};

// Writes the records to `path` (replacing a file there) in the format its
// extension says. False, with `error` saying why, when the extension is
// unknown or the file cannot be written whole; a file cut short is removed.
bool writeReport(const std::filesystem::path& path, const std::vector<SavedFileRecord>& records,
                 const ReportMeta& meta, std::string& error);

// Each format to a stream.
void writeJsonReport(std::ostream& out, const std::vector<SavedFileRecord>& records, const ReportMeta& meta);
void writeCsvReport(std::ostream& out, const std::vector<SavedFileRecord>& records);
void writeDfxmlReport(std::ostream& out, const std::vector<SavedFileRecord>& records, const ReportMeta& meta);

} // namespace qis
