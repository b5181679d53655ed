#include "recovery/report/Report.h"

#include "recovery/report/ReportText.h"
#include "util/Utf.h"

#include <nlohmann/json.hpp>

namespace qis {
namespace {

using Json = nlohmann::ordered_json;

std::string dumped(const Json& j)
{
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json textOrNull(const std::string& text)
{
    return text.empty() ? Json(nullptr) : Json(wellFormedUtf8(text));
}

Json timeOf(const std::optional<UnixTime>& time)
{
    if (!time)
        return nullptr;
    const std::string iso = report::isoTime(*time);
    return Json{{"utc", iso.empty() ? Json(nullptr) : Json(iso)}, {"epoch", time->seconds}};
}

Json fileObject(const SavedFileRecord& r)
{
    const std::string_view recoverability = recoverabilityText(r.recoverability);
    Json j{
        {"path", wellFormedUtf8(r.path)},
        {"entry", r.entry ? Json(*r.entry) : Json(nullptr)},
        {"deleted", r.deleted},
        {"recoverability", recoverability.empty() ? "live" : std::string(recoverability)},
        {"size", r.size},
        {"times", Json{{"created", timeOf(r.created)}, {"accessed", timeOf(r.accessed)}, {"modified", timeOf(r.modified)}}},
        {"outputPath", textOrNull(r.outputPath)},
        {"status", std::string(saveStatusText(r.status))},
        {"reason", textOrNull(r.reason)},
        {"md5", textOrNull(r.md5)},
        {"sha256", textOrNull(r.sha256)},
    };
    if (r.carved) {
        j["offset"] = r.carved->offset;
        j["length"] = r.carved->length;
        j["extension"] = wellFormedUtf8(r.carved->extension);
        j["category"] = wellFormedUtf8(r.carved->category);
        if (!r.carved->pieces.empty()) {
            Json pieces = Json::array();
            for (const ByteRun& p : r.carved->pieces)
                pieces.push_back(Json{{"offset", p.start}, {"length", p.length}});
            j["pieces"] = std::move(pieces);
        }
    }
    return j;
}

} // namespace

void writeJsonReport(std::ostream& out, const std::vector<SavedFileRecord>& records, const ReportMeta& meta)
{
    // The files one line each, as they are made: a save of millions of
    // files is not held twice in memory.
    out << "{\"schema\": 1, \"tool\": \"qsalvage\", \"version\": " << dumped(meta.version)
        << ", \"image\": " << dumped(wellFormedUtf8(meta.image))
        << ", \"volume\": " << dumped(textOrNull(meta.volume));
    if (meta.volumeStart)
        out << ", \"volumeStart\": " << *meta.volumeStart;
    out << ",\n \"files\": [";
    for (std::size_t i = 0; i < records.size() && out; ++i)
        out << (i ? ",\n  " : "\n  ") << dumped(fileObject(records[i]));
    out << "\n ]\n}\n";
}

} // namespace qis
