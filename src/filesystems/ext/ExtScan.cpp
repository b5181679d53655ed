#include "filesystems/ext/ExtScan.h"

#include "filesystems/ParserScan.h"
#include "filesystems/ext/ExtVolumeView.h"
#include "filesystems/ext/ext2Class.h"

namespace qis {
namespace {

class ExtScan : public ParserScan<ext2Class, ExtVolumeView> {
public:
    using ParserScan::ParserScan;
    bool run(JobContext& job) override
    {
        if (!parser_.runScan(job)) {
            // Nothing to show is not the same as an empty volume.
            job.reporter().showMessage("No ext2, ext3 or ext4 superblock was found on this volume.");
            return false;
        }
        job.reporter().setStatusText("Processing done...");
        job.reporter().showMessage("Scanning process completed..");
        return true;
    }
};

} // namespace

std::unique_ptr<VolumeScan> makeExtScan(readWriteInterface& reader, const VolumeRecord& volume, const ScanOptions&)
{
    return std::make_unique<ExtScan>(reader, volume);
}

} // namespace qis
