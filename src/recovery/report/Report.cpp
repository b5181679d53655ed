#include "recovery/report/Report.h"

#include "util/Ascii.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

namespace qis {

std::optional<ReportFormat> reportFormatFor(const std::filesystem::path& path)
{
    const std::string extension = toLowerAscii(path.extension().string());
    if (extension == ".json")
        return ReportFormat::Json;
    if (extension == ".csv")
        return ReportFormat::Csv;
    if (extension == ".xml")
        return ReportFormat::Dfxml;
    return std::nullopt;
}

bool writeReport(const std::filesystem::path& path, const std::vector<SavedFileRecord>& records,
                 const ReportMeta& meta, std::string& error)
{
    const auto format = reportFormatFor(path);
    if (!format) {
        error = "a report is written as .json, .csv or .xml (DFXML), not as " + path.filename().string();
        return false;
    }
    errno = 0;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        error = "cannot write the report " + path.string() + ": " + std::strerror(errno != 0 ? errno : EIO);
        return false;
    }
    switch (*format) {
    case ReportFormat::Json: writeJsonReport(out, records, meta); break;
    case ReportFormat::Csv: writeCsvReport(out, records); break;
    case ReportFormat::Dfxml: writeDfxmlReport(out, records, meta); break;
    }
    out.flush();
    int cause = out ? 0 : (errno != 0 ? errno : EIO);
    out.close();
    if (cause == 0 && !out)
        cause = errno != 0 ? errno : EIO;
    if (cause != 0) {
        // Part of a report is not left looking like the whole of it.
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        error = "cannot write the report " + path.string() + ": " + std::strerror(cause);
        return false;
    }
    return true;
}

} // namespace qis
