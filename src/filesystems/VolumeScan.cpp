#include "filesystems/VolumeScan.h"

#include "filesystems/FileSystemTable.h"
#include "filesystems/RecycleBin.h"

namespace qis {

std::string sizeFigure(const std::string& sizeText) { return sizeText.substr(0, sizeText.find(' ')); }

std::unique_ptr<VolumeScan> makeVolumeScan(const VolumeRecord& volume, readWriteInterface& reader,
                                           const ScanOptions& options, std::string& whyNot)
{
    const FileSystemKind* kind = findFileSystem(volume.fileSystem);
    if (!kind) {
        whyNot = "Not a valid drive.";
        return nullptr;
    }
    if ((options.mode == 2 && !kind->advancedMode) || (options.mode == 3 && !kind->deepMode) ||
        (options.mode != 1 && options.mode != 2 && options.mode != 3)) {
        whyNot = "The " + std::string(options.mode == 3 ? "deep" : "advanced") + " mode for " + volume.fileSystem +
                 " volumes is not available.";
        return nullptr;
    }
    return kind->makeScan(reader, volume, options);
}

VolumeParser* runVolumeScan(VolumeScan& scan, JobContext& job)
{
    if (!scan.run(job))
        return nullptr;
    scan.stopRequested().store(false);
    VolumeParser& parser = scan.view();
    restoreRecycleBinNames(parser);
    return &parser;
}

} // namespace qis
