#include "filesystems/VolumeScan.h"

#include "filesystems/exfat/Fat64Class.h"
#include "filesystems/ext/ExtVolumeView.h"
#include "filesystems/ext/ext2Class.h"
#include "filesystems/fat/Fat16Class.h"
#include "filesystems/fat/Fat32Class.h"
#include "filesystems/fatfamily/FatFamilyView.h"
#include "filesystems/hfsplus/HFSP.h"
#include "filesystems/hfsplus/HfsVolumeView.h"
#include "filesystems/ntfs/Ntfs.h"
#include "filesystems/ntfs/NtfsVolumeParser.h"
#include "util/Ascii.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>

namespace qis {
namespace {

// The MiB figure at the start of a size text such as "8192   MB".
std::string sizeFigure(const std::string& sizeText) { return sizeText.substr(0, sizeText.find(' ')); }

std::size_t wantedCandidates(const ScanOptions& options)
{
    return options.maxFileSystems < 1 ? 3 : static_cast<std::size_t>(options.maxFileSystems);
}

std::string formatted(const char* format, std::size_t a, std::size_t b = 0)
{
    char text[256];
    std::snprintf(text, sizeof text, format, static_cast<int>(a), static_cast<int>(b));
    return text;
}

std::vector<AdvancedChoices::Choice> numbered(const char* format, const std::vector<std::uint64_t>& positions)
{
    std::vector<AdvancedChoices::Choice> out;
    for (std::size_t i = 0; i < positions.size(); ++i)
        out.push_back({formatted(format, i), positions[i]});
    return out;
}

std::vector<AdvancedChoices::Choice> sizeChoices(const std::vector<unsigned>& values)
{
    std::vector<AdvancedChoices::Choice> out;
    for (unsigned v : values)
        out.push_back({std::to_string(v), v});
    return out;
}

// The cluster-size value the options pick: the first offered unless one was given.
unsigned chosenClusterSize(const AdvancedChoices& choices, const ScanOptions& options)
{
    if (options.clusterSize != 0)
        return options.clusterSize;
    return choices.clusterSizes.empty() ? 0 : static_cast<unsigned>(choices.clusterSizes.front().value);
}

// A scan with an advanced mode: its options, the user's picks among what
// its searches offered, and those searches' results.
class ScanWithCandidates : public VolumeScan {
public:
    explicit ScanWithCandidates(const ScanOptions& options) : options_(options) {}
    [[nodiscard]] bool findsCandidates() const override { return true; }
    void choose(std::size_t candidate, unsigned clusterSize, std::size_t heap) override
    {
        options_.candidate = candidate;
        options_.clusterSize = clusterSize;
        options_.heap = heap;
    }

protected:
    ScanOptions options_;
    std::optional<AdvancedChoices> choices_;
};

class NtfsScan : public ScanWithCandidates {
public:
    NtfsScan(readWriteInterface& reader, const VolumeRecord& volume, const ScanOptions& options)
        : ScanWithCandidates(options), parser_(reader), view_(parser_)
    {
        parser_.volumeStartSector = static_cast<std::uint64_t>(volume.startSector);
        parser_.volumeSizeText = sizeFigure(volume.sizeText);
        parser_.scanMode = options.mode;
    }
    bool run(JobContext& job) override
    {
        if (options_.mode == 2) {
            if (!choices_)
                findCandidates(job);
            parser_.runAdvancedScan(job, options_.candidate, chosenClusterSize(*choices_, options_));
        } else {
            parser_.runScan(job);
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
        std::size_t found = parser_.findMftCandidates(wantedCandidates(options_), job);
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
    std::atomic<bool>& stopRequested() override { return parser_.stopRequested; }
    VolumeParser& view() override { return view_; }

private:
    ntfs parser_;
    NtfsVolumeParser view_;
};

// The advanced-mode searches of FAT16 and FAT32 volumes.
AdvancedChoices fatCandidates(FatVolume& parser, bool fat32, const ScanOptions& options, JobContext& job)
{
    parser.attachVolume();
    parser.checkBootSector();
    if (!fat32)
        job.reporter().setStatusText("Finding Fat entries....");
    auto found = parser.findFatCandidates(wantedCandidates(options), job);
    AdvancedChoices c;
    c.candidateLabel = fat32 ? "TFS :" : "Total fat16 Entries Found:";
    c.candidates = numbered(fat32 ? "FAT32_ENTRY:%d" : "FAT_ENTRY:%d", found);
    c.clusterSizes = sizeChoices(parser.clusterSizeChoices());
    if (!fat32) {
        c.message = formatted("Number of FAT-ENTRY found = %d . Please select the choice from combo box and click "
                              "Parse button to proceed.",
                              found.size());
        c.finalStatus = "Parsing done.Click Next to continue.";
    } else if (!found.empty()) {
        c.message = formatted("Number of FAT32-ENTRY found = %d . Please select the choice from combo box and click "
                              "Parse button to proceed.",
                              found.size());
        c.finalStatus = "Parsing done.Click Next to continue.";
    } else {
        c.message = "NO FAT  FAT32-ENTRY found ..";
    }
    return c;
}

AdvancedChoices fatCandidates(Fat16Class& parser, const ScanOptions& options, JobContext& job)
{
    return fatCandidates(parser, false, options, job);
}

AdvancedChoices fatCandidates(Fat32Class& parser, const ScanOptions& options, JobContext& job)
{
    return fatCandidates(parser, true, options, job);
}

AdvancedChoices fatCandidates(Fat64Class& parser, const ScanOptions& options, JobContext& job)
{
    parser.attachVolume();
    parser.checkBootSector(job.reporter());
    job.reporter().setStatusText("Finding Fat64 entries....");
    auto fats = parser.findFatCandidates(wantedCandidates(options), job);
    auto heaps = parser.findHeapCandidates(wantedCandidates(options), job);
    AdvancedChoices c;
    c.candidateLabel = "Total fat64 Entries Found:";
    c.candidates = numbered("FAT64_ENTRY:%d", fats);
    c.heaps = numbered("HEAP_OFFSET_ENTRY:%d", heaps);
    c.clusterSizes = sizeChoices(parser.clusterShiftChoices());
    c.clusterSizeIsShift = true;
    c.message = formatted("Number of FAT64-ENTRY found = %d and Number of HeapOffset-ENTRY found =  %d  . Please "
                          "select the choice from ( Entry and Heap ) Combobox and click Parse button to proceed.",
                          fats.size(), heaps.size());
    c.finalStatus = "Parsing done.Click Next to continue.";
    return c;
}

bool advancedScan(FatVolume& parser, const AdvancedChoices& choices, const ScanOptions& options, JobContext& job)
{
    return parser.runAdvancedScan(job, options.candidate, chosenClusterSize(choices, options));
}

bool advancedScan(Fat64Class& parser, const AdvancedChoices& choices, const ScanOptions& options, JobContext& job)
{
    return parser.runAdvancedScan(job, options.candidate, options.heap, chosenClusterSize(choices, options));
}

// FAT16, FAT32 and exFAT: the parser runs its own scan job.
template <typename Volume>
class FatFamilyScan : public ScanWithCandidates {
public:
    FatFamilyScan(readWriteInterface& reader, const VolumeRecord& volume, const ScanOptions& options)
        : ScanWithCandidates(options), parser_(reader), view_(parser_)
    {
        parser_.volumeStartSector = static_cast<std::uint64_t>(volume.startSector);
        parser_.volumeSizeText = sizeFigure(volume.sizeText);
        parser_.isDriveFormatted = options.driveFormatted;
    }
    bool run(JobContext& job) override
    {
        if (options_.mode != 2)
            return parser_.runScan(job);
        if (!choices_)
            findCandidates(job);
        return advancedScan(parser_, *choices_, options_, job);
    }
    const AdvancedChoices* findCandidates(JobContext& job) override
    {
        choices_ = fatCandidates(parser_, options_, job);
        job.reporter().showMessage(choices_->message);
        if (!choices_->finalStatus.empty())
            job.reporter().setStatusText(choices_->finalStatus);
        return &*choices_;
    }
    std::atomic<bool>& stopRequested() override { return parser_.stopRequested; }
    VolumeParser& view() override { return view_; }

private:
    Volume parser_;
    FatFamilyView<Volume> view_;
};

class ExtScan : public VolumeScan {
public:
    ExtScan(readWriteInterface& reader, const VolumeRecord& volume) : parser_(reader), view_(parser_)
    {
        parser_.volumeStartSector = static_cast<std::uint64_t>(volume.startSector);
        parser_.volumeSizeText = sizeFigure(volume.sizeText);
    }
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
    std::atomic<bool>& stopRequested() override { return parser_.stopRequested; }
    VolumeParser& view() override { return view_; }

private:
    ext2Class parser_;
    ExtVolumeView view_;
};

class HfsScan : public VolumeScan {
public:
    HfsScan(readWriteInterface& reader, const VolumeRecord& volume, bool deep) : parser_(reader), view_(parser_)
    {
        parser_.volumeStartSector = static_cast<std::uint64_t>(volume.startSector);
        parser_.volumeSizeText = sizeFigure(volume.sizeText);
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
    std::atomic<bool>& stopRequested() override { return parser_.stopRequested; }
    VolumeParser& view() override { return view_; }

private:
    HFSP parser_;
    HfsVolumeView view_;
};

} // namespace

std::unique_ptr<VolumeScan> makeVolumeScan(const VolumeRecord& volume, readWriteInterface& reader,
                                           const ScanOptions& options, std::string& whyNot)
{
    std::string label = toLowerAscii(volume.fileSystem);
    // Leading blanks of a hand-typed label do not count.
    label.erase(0, label.find_first_not_of(' '));
    if (label == "hfs+")
        return std::make_unique<HfsScan>(reader, volume, options.mode != 1);
    const bool fatFamily = label == "fat16" || label == "fat" || label == "fat32" || label == "fat64" || label == "exfat";
    const bool known = fatFamily || label == "ntfs" || label == "extx";
    // NTFS has every mode; the FAT family has the advanced one; ext only the standard.
    if (known && options.mode != 1 && !(label == "ntfs" || (fatFamily && options.mode == 2))) {
        whyNot = "The " + std::string(options.mode == 3 ? "deep" : "advanced") + " mode for " + volume.fileSystem +
                 " volumes is not available.";
        return nullptr;
    }
    if (label == "ntfs")
        return std::make_unique<NtfsScan>(reader, volume, options);
    if (label == "fat16" || label == "fat")
        return std::make_unique<FatFamilyScan<Fat16Class>>(reader, volume, options);
    if (label == "fat32")
        return std::make_unique<FatFamilyScan<Fat32Class>>(reader, volume, options);
    if (label == "fat64" || label == "exfat")
        return std::make_unique<FatFamilyScan<Fat64Class>>(reader, volume, options);
    if (label == "extx")
        return std::make_unique<ExtScan>(reader, volume);
    whyNot = "Not a valid drive.";
    return nullptr;
}

} // namespace qis
