#include "filesystems/exfat/ExfatScan.h"

#include "filesystems/exfat/Fat64Class.h"
#include "filesystems/fatfamily/FatFamilyScan.h"

namespace qis {
namespace {

using namespace candidates;

class ExfatScan : public FatFamilyScan<Fat64Class> {
public:
    using FatFamilyScan<Fat64Class>::FatFamilyScan;

protected:
    AdvancedChoices searchCandidates(JobContext& job) override
    {
        parser_.attachVolume();
        parser_.checkBootSector(job.reporter());
        job.reporter().setStatusText("Finding Fat64 entries....");
        auto fats = parser_.findFatCandidates(wanted(options_), job);
        auto heaps = parser_.findHeapCandidates(wanted(options_), job);
        AdvancedChoices c;
        c.candidateLabel = "Total fat64 Entries Found:";
        c.candidates = numbered("FAT64_ENTRY:%d", fats);
        c.heaps = numbered("HEAP_OFFSET_ENTRY:%d", heaps);
        c.clusterSizes = sizeChoices(parser_.clusterShiftChoices());
        c.clusterSizeIsShift = true;
        c.message = formatted("Number of FAT64-ENTRY found = %d and Number of HeapOffset-ENTRY found =  %d  . "
                              "Please select the choice from ( Entry and Heap ) Combobox and click Parse button to "
                              "proceed.",
                              fats.size(), heaps.size());
        c.finalStatus = "Parsing done.Click Next to continue.";
        return c;
    }
    bool runAdvanced(JobContext& job, const AdvancedChoices& choices) override
    {
        return parser_.runAdvancedScan(job, options_.candidate, options_.heap, chosenClusterSize(choices, options_));
    }
};

} // namespace

std::unique_ptr<VolumeScan> makeExfatScan(readWriteInterface& reader, const VolumeRecord& volume,
                                          const ScanOptions& options)
{
    return std::make_unique<ExfatScan>(reader, volume, options);
}

} // namespace qis
