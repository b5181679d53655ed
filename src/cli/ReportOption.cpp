#include "cli/ReportOption.h"

#include "cli/Commands.h"

#include <cstdio>

namespace qis::cli {

bool ReportOption::read(const Arguments& args, int& exit)
{
    auto path = args.value("--report");
    if (!path)
        return true;
    if (!reportFormatFor(*path)) {
        exit = usageError("--report " + *path + ": the report is written as .json, .csv or .xml (DFXML)");
        return false;
    }
    path_ = *path;
    return true;
}

SavedFileObserver ReportOption::collector()
{
    if (!path_)
        return {};
    return [this](const SavedFileRecord& record) {
        std::lock_guard lock(mutex_);
        records_.push_back(record);
    };
}

int ReportOption::write(const ReportMeta& meta)
{
    if (!path_)
        return kExitOk;
    std::string error;
    if (!writeReport(*path_, records_, meta, error)) {
        std::fprintf(stderr, "The report %s could not be written: %s\n", path_->c_str(), error.c_str());
        return kExitFailure;
    }
    return kExitOk;
}

std::string ReportOption::volumeNamed(const Arguments& args)
{
    if (auto v = args.value("--volume"))
        return "--volume " + *v;
    if (auto s = args.value("--start-sector"))
        return "--start-sector " + *s + " --fs " + args.value("--fs").value_or("") + " --size-mb " +
               args.value("--size-mb").value_or("");
    return {};
}

} // namespace qis::cli
