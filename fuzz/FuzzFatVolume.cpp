// A FAT16, FAT32 or exFAT volume as the input: the standard scan, the tree
// walk, the texts of every entry, and the contents of every file.

#include "FuzzImage.h"

#include "filesystems/EntryWalk.h"
#include "filesystems/exfat/Fat64Class.h"
#include "filesystems/fat/Fat16Class.h"
#include "filesystems/fat/Fat32Class.h"
#include "filesystems/fat/FatFamilyView.h"
#include "images/FileReadSeekRaw.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = qis::fuzz::imagePath(".img");
    qis::fuzz::setImage(path, data, size);
    qis::FileReadSeekRaw reader;
    if (!reader.open(path))
        return 0;
    qis::QIS_FUZZ_VOLUME volume(reader);
    // The FAT family's formatted mode reads differently; the input's last byte picks it.
    volume.isDriveFormatted = size > 0 && (data[size - 1] & 1);
    qis::NullReporter quiet;
    qis::PauseGate gate;
    qis::JobContext job(quiet, gate);
    if (!volume.runScan(job))
        return 0;
    qis::FatFamilyView<qis::QIS_FUZZ_VIEW> view(volume);
    std::size_t saved = 0;
    qis::walkTree(view, [&](qis::EntryHandle e, const std::vector<std::u16string>&) {
        (void)view.describe(e);
        if (!view.isFolder(e) && saved++ < 64) {
            qis::MemorySink sink(1 << 20);
            view.saveEntry(e, sink);
        }
    });
    return 0;
}
