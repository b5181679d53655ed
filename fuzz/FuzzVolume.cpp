// A volume as the input, read by the parser its label picks (NTFS, FAT16,
// FAT32, exFAT, ext, HFS+) in one of the recovery modes the target allows:
// the scan (with the searches of a damaged volume), the tree walk, the
// texts of every entry with how much of a deleted one is left, and the
// contents of the first files (a deleted one's other readings too).

#include "FuzzImage.h"

#include "filesystems/EntryWalk.h"
#include "filesystems/VolumeScan.h"
#include "images/raw/FileReadSeekRaw.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = qis::fuzz::imagePath(".img");
    qis::fuzz::setImage(path, data, size);
    qis::FileReadSeekRaw reader;
    if (!reader.open(path))
        return 0;
    qis::VolumeRecord volume{QIS_FUZZ_LABEL, "0", std::to_string(size / 1048576 + 1), 0};
    qis::ScanOptions options;
    // The input's last bytes pick what the scan is told: the FAT family's
    // formatted mode, the recovery mode among those the target allows
    // (QIS_FUZZ_MODES: 1 standard, 2 advanced, 4 deep), and the advanced
    // picks among what the searches offer.
    auto tail = [&](std::size_t k) -> unsigned { return size > k ? data[size - 1 - k] : 0; };
    options.driveFormatted = tail(0) & 1;
    static constexpr int kModes[] = {1, 2, 3};
    options.mode = 1;
    for (int pick = (tail(0) >> 1) % 3, tries = 0; tries < 3; ++tries, pick = (pick + 1) % 3)
        if (QIS_FUZZ_MODES & (1 << pick)) {
            options.mode = kModes[pick];
            break;
        }
    options.candidate = tail(1) % 4;
    options.heap = tail(2) % 4;
    options.clusterSize = tail(3) % 3 == 0 ? 0 : 1u << (tail(3) % 9);
    options.maxFileSystems = static_cast<int>(tail(4) % 6);
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
    // The free space carve --unallocated scans: every allocation map walked whole.
    (void)view.unallocatedSpace();
    std::size_t saved = 0;
    qis::walkTree(view, [&](qis::EntryHandle e, const std::vector<std::u16string>&) {
        (void)view.describe(e);
        (void)view.recoverability(e);
        if (!view.isFolder(e) && saved++ < 64) {
            qis::MemorySink sink(1 << 20);
            view.saveEntry(e, sink);
            // A deleted file's other readings (past other deleted files).
            for (std::size_t reading = 1; reading < 3 && view.isDeleted(e); ++reading) {
                qis::MemorySink other(1 << 20);
                if (!view.saveGuess(e, reading, other))
                    break;
            }
        }
    });
    return 0;
}
