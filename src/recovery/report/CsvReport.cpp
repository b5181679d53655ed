#include "recovery/report/Report.h"

#include "recovery/report/ReportText.h"
#include "util/Utf.h"

namespace qis {
namespace {

// RFC 4180: a field holding a comma, a quote or a line end is quoted, its
// quotes doubled.
std::string field(std::string_view raw)
{
    const std::string text = wellFormedUtf8(raw);
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::string number(const std::optional<std::uint64_t>& n) { return n ? std::to_string(*n) : std::string(); }

void timeFields(std::string& line, const std::optional<UnixTime>& time)
{
    line += ',';
    if (time)
        line += report::isoTime(*time) + ',' + std::to_string(time->seconds);
    else
        line += ',';
}

} // namespace

void writeCsvReport(std::ostream& out, const std::vector<SavedFileRecord>& records)
{
    out << "path,entry,deleted,recoverability,size,created,createdEpoch,accessed,accessedEpoch,modified,"
           "modifiedEpoch,outputPath,status,reason,md5,sha256,offset,length,extension,category\r\n";
    for (const SavedFileRecord& r : records) {
        if (!out)
            return;
        const std::string_view recoverability = recoverabilityText(r.recoverability);
        std::string line = field(r.path) + ',' + number(r.entry) + ',' + (r.deleted ? "true" : "false") + ',' +
                           (recoverability.empty() ? "live" : std::string(recoverability)) + ',' +
                           std::to_string(r.size);
        timeFields(line, r.created);
        timeFields(line, r.accessed);
        timeFields(line, r.modified);
        line += ',' + field(r.outputPath) + ',' + std::string(saveStatusText(r.status)) + ',' + field(r.reason) + ',' +
                r.md5 + ',' + r.sha256 + ',';
        if (r.carved)
            line += std::to_string(r.carved->offset) + ',' + std::to_string(r.carved->length) + ',' +
                    field(r.carved->extension) + ',' + field(r.carved->category);
        else
            line += ",,,";
        out << line << "\r\n";
    }
}

} // namespace qis
