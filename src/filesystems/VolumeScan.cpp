#include "filesystems/VolumeScan.h"

#include "filesystems/exfat/Fat64Class.h"
#include "filesystems/ext/ExtVolumeView.h"
#include "filesystems/ext/ext2Class.h"
#include "filesystems/fat/Fat16Class.h"
#include "filesystems/fat/Fat32Class.h"
#include "filesystems/fat/FatFamilyView.h"
#include "filesystems/hfsplus/HFSP.h"
#include "filesystems/hfsplus/HfsVolumeView.h"
#include "filesystems/ntfs/Ntfs.h"
#include "filesystems/ntfs/NtfsVolumeParser.h"

#include <algorithm>
#include <cctype>

namespace qis {
namespace {

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// The MiB figure at the start of a size text such as "8192   MB".
std::string sizeFigure(const std::string& sizeText) { return sizeText.substr(0, sizeText.find(' ')); }

class NtfsScan : public VolumeScan {
public:
    NtfsScan(readWriteInterface& reader, const VolumeRecord& volume) : parser_(reader), view_(parser_)
    {
        parser_.volumeStartSector = static_cast<std::uint64_t>(volume.startSector);
        parser_.volumeSizeText = sizeFigure(volume.sizeText);
    }
    bool run(JobContext& job) override
    {
        parser_.runScan(job);
        job.reporter().showMessage("Scanning process completed.");
        job.reporter().setStatusText("Processing done...");
        return true;
    }
    std::atomic<bool>& stopRequested() override { return parser_.stopRequested; }
    VolumeParser& view() override { return view_; }

private:
    ntfs parser_;
    NtfsVolumeParser view_;
};

// FAT16, FAT32 and exFAT: the parser runs its own scan job.
template <typename Volume>
class FatFamilyScan : public VolumeScan {
public:
    FatFamilyScan(readWriteInterface& reader, const VolumeRecord& volume, const ScanOptions& options)
        : parser_(reader), view_(parser_)
    {
        parser_.volumeStartSector = static_cast<std::uint64_t>(volume.startSector);
        parser_.volumeSizeText = sizeFigure(volume.sizeText);
        parser_.isDriveFormatted = options.driveFormatted;
    }
    bool run(JobContext& job) override { return parser_.runScan(job); }
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
    std::string label = lower(volume.fileSystem);
    // Leading blanks of a hand-typed label do not count.
    label.erase(0, label.find_first_not_of(' '));
    if (label == "hfs+")
        return std::make_unique<HfsScan>(reader, volume, options.mode != 1);
    if (options.mode != 1) {
        // Deep and advanced scans of the other file systems come later.
        whyNot = "The " + std::string(options.mode == 3 ? "deep" : "advanced") + " mode for " + volume.fileSystem +
                 " volumes is not available yet.";
        return nullptr;
    }
    if (label == "ntfs")
        return std::make_unique<NtfsScan>(reader, volume);
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
