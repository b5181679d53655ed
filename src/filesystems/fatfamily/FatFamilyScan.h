#pragma once

#include "filesystems/ParserScan.h"
#include "filesystems/ScanWithCandidates.h"
#include "filesystems/fatfamily/FatFamilyView.h"

namespace qis {

// FAT16, FAT32 and exFAT: the parser runs its own scan job; each file
// system brings its advanced-mode search and the scan with the picks.
template <typename Volume>
class FatFamilyScan : public ParserScan<Volume, FatFamilyView<Volume>, ScanWithCandidates> {
    using Base = ParserScan<Volume, FatFamilyView<Volume>, ScanWithCandidates>;

public:
    FatFamilyScan(readWriteInterface& reader, const VolumeRecord& volume, const ScanOptions& options)
        : Base(reader, volume, options)
    {
        this->parser_.isDriveFormatted = options.driveFormatted;
    }
    bool run(JobContext& job) override
    {
        if (this->options_.mode != 2)
            return this->parser_.runScan(job);
        if (!this->choices_)
            findCandidates(job);
        return runAdvanced(job, *this->choices_);
    }
    const AdvancedChoices* findCandidates(JobContext& job) override
    {
        auto& choices = this->choices_;
        choices = searchCandidates(job);
        job.reporter().showMessage(choices->message);
        if (!choices->finalStatus.empty())
            job.reporter().setStatusText(choices->finalStatus);
        return &*choices;
    }

protected:
    virtual AdvancedChoices searchCandidates(JobContext& job) = 0;
    virtual bool runAdvanced(JobContext& job, const AdvancedChoices& choices) = 0;
};

} // namespace qis
