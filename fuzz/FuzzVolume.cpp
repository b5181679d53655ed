// A volume as the input, read by the parser its label picks (FAT16, FAT32,
// exFAT, ext, HFS+): the scan, the tree walk, the texts of every entry,
// and the contents of the first files.

#include "FuzzImage.h"

#include "filesystems/EntryWalk.h"
#include "filesystems/VolumeScan.h"
#include "images/FileReadSeekRaw.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = qis::fuzz::imagePath(".img");
    qis::fuzz::setImage(path, data, size);
    qis::FileReadSeekRaw reader;
    if (!reader.open(path))
        return 0;
    qis::VolumeRecord volume{QIS_FUZZ_LABEL, "0", std::to_string(size / 1048576 + 1), 0};
    qis::ScanOptions options;
    // The FAT family's formatted mode and HFS+'s deep mode read differently;
    // the input's last byte picks them.
    options.driveFormatted = size > 0 && (data[size - 1] & 1);
    options.mode = QIS_FUZZ_DEEP && size > 0 && (data[size - 1] & 2) ? 3 : 1;
    std::string whyNot;
    auto scan = qis::makeVolumeScan(volume, reader, options, whyNot);
    if (!scan)
        std::abort();
    qis::NullReporter quiet;
    qis::PauseGate gate;
    qis::JobContext job(quiet, gate);
    if (!scan->run(job))
        return 0;
    qis::VolumeParser& view = scan->view();
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
