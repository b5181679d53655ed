#include "filesystems/ntfs/NtfsScan.h"

#include "filesystems/ParserScan.h"
#include "filesystems/ScanWithCandidates.h"
#include "filesystems/ntfs/Ntfs.h"
#include "filesystems/ntfs/NtfsVolumeParser.h"

namespace qis {
namespace {

using namespace candidates;

class NtfsScan : public ParserScan<ntfs, NtfsVolumeParser, ScanWithCandidates> {
public:
    NtfsScan(readWriteInterface& reader, const VolumeRecord& volume, const ScanOptions& options)
        : ParserScan(reader, volume, options)
    {
        parser_.scanMode = options.mode;
    }
    bool run(JobContext& job) override
    {
        if (options_.mode == 2) {
            if (!choices_)
                findCandidates(job);
            parser_.runAdvancedScan(job, options_.candidate, chosenClusterSize(*choices_, options_));
        } else if (!parser_.runScan(job)) {
            job.reporter().showMessage("No NTFS boot sector or MFT record was found on this volume.");
            return false;
        }
        job.reporter().showMessage("Scanning process completed.");
        job.reporter().setStatusText("Processing done...");
        return true;
    }
    const AdvancedChoices* findCandidates(JobContext& job) override
    {
        job.reporter().setStatusText("ntfs partition selected....");
        parser_.attachVolume();
        parser_.readBootSector();
        std::size_t found = parser_.findMftCandidates(wanted(options_), job);
        AdvancedChoices c;
        c.candidateLabel = "TFS :";
        for (std::size_t i = 0; i < found; ++i)
            c.candidates.push_back({formatted("MFT_ENTRY:%d", i), parser_.mftCandidates[i].recordOffset});
        c.clusterSizes = sizeChoices({8, 4, 2, 16, 32, 64});
        c.message = formatted("Number of MFT-ENTRY found = %d . Please select the choice from combo box and click "
                              "Parse button to proceed.",
                              found);
        c.finalStatus = "Parsing done.Click next to continue.";
        job.reporter().showMessage(c.message);
        job.reporter().setStatusText(c.finalStatus);
        choices_ = std::move(c);
        return &*choices_;
    }
};

} // namespace

std::unique_ptr<VolumeScan> makeNtfsScan(readWriteInterface& reader, const VolumeRecord& volume,
                                         const ScanOptions& options)
{
    return std::make_unique<NtfsScan>(reader, volume, options);
}

} // namespace qis
