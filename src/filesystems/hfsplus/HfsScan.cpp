#include "filesystems/hfsplus/HfsScan.h"

#include "filesystems/ParserScan.h"
#include "filesystems/hfsplus/HFSP.h"
#include "filesystems/hfsplus/HfsVolumeView.h"

namespace qis {
namespace {

class HfsScan : public ParserScan<HFSP, HfsVolumeView> {
public:
    HfsScan(readWriteInterface& reader, const VolumeRecord& volume, bool deep) : ParserScan(reader, volume)
    {
        parser_.deepMode = deep;
    }
    bool run(JobContext& job) override
    {
        job.reporter().setStatusText("HFS+ partition selected....");
        if (parser_.runScan(job))
            return true;
        // The status line says it; a command line also wants it as the reason.
        job.reporter().showMessage("Scanning process Aborted....");
        return false;
    }
};

} // namespace

std::unique_ptr<VolumeScan> makeHfsScan(readWriteInterface& reader, const VolumeRecord& volume,
                                        const ScanOptions& options)
{
    return std::make_unique<HfsScan>(reader, volume, options.mode != 1);
}

} // namespace qis
