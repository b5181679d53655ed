#include "filesystems/fat/FatScan.h"

#include "filesystems/fat/Fat16Class.h"
#include "filesystems/fat/Fat32Class.h"
#include "filesystems/fatfamily/FatFamilyScan.h"

namespace qis {
namespace {

using namespace candidates;

template <typename Volume, bool Fat32>
class FatScan : public FatFamilyScan<Volume> {
public:
    using FatFamilyScan<Volume>::FatFamilyScan;

protected:
    // The advanced-mode searches of FAT16 and FAT32 volumes.
    AdvancedChoices searchCandidates(JobContext& job) override
    {
        FatVolume& parser = this->parser_;
        parser.attachVolume();
        parser.checkBootSector();
        if (!Fat32)
            job.reporter().setStatusText("Finding Fat entries....");
        auto found = parser.findFatCandidates(wanted(this->options_), job);
        AdvancedChoices c;
        c.candidateLabel = Fat32 ? "TFS :" : "Total fat16 Entries Found:";
        c.candidates = numbered(Fat32 ? "FAT32_ENTRY:%d" : "FAT_ENTRY:%d", found);
        c.clusterSizes = sizeChoices(parser.clusterSizeChoices());
        if (!Fat32) {
            c.message = formatted("Number of FAT-ENTRY found = %d . Please select the choice from combo box and "
                                  "click Parse button to proceed.",
                                  found.size());
            c.finalStatus = "Parsing done.Click Next to continue.";
        } else if (!found.empty()) {
            c.message = formatted("Number of FAT32-ENTRY found = %d . Please select the choice from combo box and "
                                  "click Parse button to proceed.",
                                  found.size());
            c.finalStatus = "Parsing done.Click Next to continue.";
        } else {
            c.message = "NO FAT  FAT32-ENTRY found ..";
        }
        return c;
    }
    bool runAdvanced(JobContext& job, const AdvancedChoices& choices) override
    {
        return this->parser_.runAdvancedScan(job, this->options_.candidate, chosenClusterSize(choices, this->options_));
    }
};

} // namespace

std::unique_ptr<VolumeScan> makeFat16Scan(readWriteInterface& reader, const VolumeRecord& volume,
                                          const ScanOptions& options)
{
    return std::make_unique<FatScan<Fat16Class, false>>(reader, volume, options);
}

std::unique_ptr<VolumeScan> makeFat32Scan(readWriteInterface& reader, const VolumeRecord& volume,
                                          const ScanOptions& options)
{
    return std::make_unique<FatScan<Fat32Class, true>>(reader, volume, options);
}

} // namespace qis
