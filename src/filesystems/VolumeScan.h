#pragma once

#include "filesystems/AdvancedChoices.h"
#include "filesystems/ScanProblems.h"
#include "filesystems/VolumeParser.h"
#include "images/readWriteInterface.h"
#include "jobs/JobRunner.h"
#include "volumes/VolumeRecord.h"

#include <atomic>
#include <memory>
#include <string>

namespace qis {

struct ScanOptions {
    // The volume was formatted over the files (the FAT family reads
    // directories from their first cluster and files from consecutive clusters).
    bool driveFormatted = false;
    // 1 standard, 2 advanced, 3 deep (the recovery modes).
    int mode = 1;
    // Advanced mode: how many candidates the searches look for (0 or less
    // means 3), and the picks among what they found: positions in the
    // candidate and heap lists, and a cluster-size value as the list offers
    // it (0: the first one offered).
    int maxFileSystems = 3;
    std::size_t candidate = 0;
    std::size_t heap = 0;
    unsigned clusterSize = 0;
};

// The parser chosen for one volume: its scan job, its stop flag, and the
// parsed table through the common parser shape once the job has run.
class VolumeScan {
public:
    virtual ~VolumeScan() = default;
    // The standard scan with its status texts and messages; false when the
    // volume turned out not to be of the parser's kind (the message was shown).
    virtual bool run(JobContext& job) = 0;
    virtual std::atomic<bool>& stopRequested() = 0;
    virtual VolumeParser& view() = 0;
    // What the last run could not read (empty when it read the volume whole).
    [[nodiscard]] virtual const ScanProblems& problems() const = 0;
    // The advanced mode's searches with their status texts (the first step
    // of run() in that mode); null when the volume has no advanced mode.
    virtual const AdvancedChoices* findCandidates(JobContext&) { return nullptr; }
    [[nodiscard]] virtual bool findsCandidates() const { return false; }
    // The user's picks among what findCandidates offered (positions in the
    // candidate and heap lists, a cluster-size value as offered); run()
    // in the advanced mode reads the volume with them.
    virtual void choose(std::size_t /*candidate*/, unsigned /*clusterSize*/, std::size_t /*heap*/) {}
};

// The parser for the volume's file-system label ("NTFS", "FAT16" or "fat",
// "FAT32", "FAT64" or "exFAT", "extX", "HFS+", compared without regard to
// case) and the mode; null, with the reason in whyNot, when none reads it.
std::unique_ptr<VolumeScan> makeVolumeScan(const VolumeRecord& volume, readWriteInterface& reader,
                                           const ScanOptions& options, std::string& whyNot);

// Runs the scan as the job's work. When the volume was recognised, a Stop
// seen during the scan is cleared (what was found is kept and can be
// saved), recycle-bin files get their original names back, and the parsed
// table is returned; null when the parser refused the volume (it said why).
// The command line and the wizard both read a volume through this.
VolumeParser* runVolumeScan(VolumeScan& scan, JobContext& job);

// The MiB figure at the start of a volume list's size text ("8192   MB"),
// which the parsers take as the volume's listed size.
std::string sizeFigure(const std::string& sizeText);

} // namespace qis
