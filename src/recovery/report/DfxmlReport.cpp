#include "recovery/report/Report.h"
#include "recovery/report/ReportText.h"

namespace qis {
namespace {

using report::xmlText;

void element(std::ostream& out, const char* indent, const char* name, const std::string& text)
{
    out << indent << '<' << name << '>' << text << "</" << name << ">\n";
}

void timeElement(std::ostream& out, const char* name, const std::optional<UnixTime>& time)
{
    if (!time)
        return;
    const std::string iso = report::isoTime(*time);
    if (!iso.empty())
        element(out, "      ", name, iso);
}

void fileObject(std::ostream& out, const SavedFileRecord& r)
{
    out << "    <fileobject>\n";
    element(out, "      ", "filename", xmlText(r.path));
    element(out, "      ", "filesize", std::to_string(r.size));
    // A carved file has no entry of its own to be allocated or not.
    if (!r.carved)
        element(out, "      ", "alloc", r.deleted ? "0" : "1");
    if (r.entry)
        element(out, "      ", "inode", std::to_string(*r.entry));
    timeElement(out, "mtime", r.modified);
    timeElement(out, "atime", r.accessed);
    timeElement(out, "crtime", r.created);
    if (r.carved) {
        out << "      <byte_runs>\n";
        std::vector<ByteRun> runs = r.carved->pieces;
        if (runs.empty())
            runs.push_back({r.carved->offset, r.carved->length});
        std::uint64_t at = 0;
        for (const ByteRun& run : runs) {
            out << "        <byte_run file_offset='" << at << "' img_offset='" << run.start << "' len='" << run.length
                << "'/>\n";
            at += run.length;
        }
        out << "      </byte_runs>\n";
    }
    if (!r.md5.empty())
        out << "      <hashdigest type='md5'>" << r.md5 << "</hashdigest>\n";
    if (!r.sha256.empty())
        out << "      <hashdigest type='sha256'>" << r.sha256 << "</hashdigest>\n";
    // What the save did with it, which the DFXML vocabulary has no words for.
    if (!r.outputPath.empty())
        element(out, "      ", "qsalvage:output_path", xmlText(r.outputPath));
    element(out, "      ", "qsalvage:status", std::string(saveStatusText(r.status)));
    if (!r.reason.empty())
        element(out, "      ", "qsalvage:reason", xmlText(r.reason));
    out << "    </fileobject>\n";
}

} // namespace

void writeDfxmlReport(std::ostream& out, const std::vector<SavedFileRecord>& records, const ReportMeta& meta)
{
    out << "<?xml version='1.0' encoding='UTF-8'?>\n"
           "<dfxml xmloutputversion='1.0' xmlns:qsalvage='urn:x-qsalvage:report:1'>\n"
           "  <creator version='1.0'>\n"
           "    <program>qsalvage</program>\n";
    element(out, "    ", "version", xmlText(meta.version));
    out << "  </creator>\n"
           "  <source>\n";
    element(out, "    ", "image_filename", xmlText(meta.image));
    out << "  </source>\n";
    out << "  <volume";
    if (meta.volumeStart)
        out << " offset='" << *meta.volumeStart << "'";
    out << ">\n";
    if (meta.volumeStart)
        element(out, "    ", "partition_offset", std::to_string(*meta.volumeStart));
    if (!meta.volume.empty())
        element(out, "    ", "qsalvage:volume", xmlText(meta.volume));
    for (const SavedFileRecord& r : records) {
        if (!out)
            return;
        fileObject(out, r);
    }
    out << "  </volume>\n</dfxml>\n";
}

} // namespace qis
