// Raw recovery on input it cannot trust twice over: the first byte says how
// many 173-byte signature records follow (a settings file as a user's disk
// might hold one), the rest is the disk. The records are loaded after a
// signature for every format the length validators know, and the disk is
// carved with validation on.

#include "images/raw/FileReadSeekRaw.h"
#include "recovery/carving/IndirectBlocks.h"
#include "recovery/carving/SignatureEditor.h"
#include "recovery/carving/SignatureFile.h"
#include "recovery/carving/myJpg.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// A memory file reached by its /proc path, rewritten for every input.
struct MemoryFile {
    explicit MemoryFile(const char* name) : fd(::memfd_create(name, 0))
    {
        if (fd < 0)
            std::abort();
        path = "/proc/self/fd/" + std::to_string(fd);
    }
    void set(const std::uint8_t* data, std::size_t size) const
    {
        if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0)
            std::abort();
        for (std::size_t done = 0; done < size;) {
            ssize_t n = ::write(fd, data + done, size - done);
            if (n <= 0)
                std::abort();
            done += static_cast<std::size_t>(n);
        }
    }
    int fd;
    std::string path;
};

void addBuiltIn(qis::myJpg& engine)
{
    struct Sig {
        const char *ext, *start, *end, *offset;
    };
    static const Sig kSigs[] = {
        {"jpg", "0xFF,0xD8,0xFF", "0xFF,0xD9", ""}, {"png", "0x89,0x50,0x4E,0x47", "", ""},
        {"gif", "0x47,0x49,0x46,0x38", "0x00,0x3B", ""}, {"bmp", "0x42,0x4D", "", ""},
        {"wav", "0x52,0x49,0x46,0x46", "", ""},      {"mp4", "0x66,0x74,0x79,0x70", "", "4"},
        {"7z", "0x37,0x7A,0xBC,0xAF", "", ""},        {"db", "0x53,0x51,0x4C,0x69", "", ""},
        {"zip", "0x50,0x4B,0x03,0x04", "0x50,0x4B,0x05,0x06", ""}, {"pdf", "0x25,0x50,0x44,0x46", "0x25,0x25,0x45,0x4F,0x46", ""},
        {"mp3", "0x49,0x44,0x33", "", ""},            {"ogg", "0x4F,0x67,0x67,0x53", "", ""},
        {"mpg", "0x00,0x00,0x01,0xBA", "0x00,0x00,0x01,0xB9", ""}, {"elf", "0x7F,0x45,0x4C,0x46", "", ""},
        {"exe", "0x4D,0x5A", "", ""},
        {"sh", "0x23,0x21", "", ""},                 {"xml", "0x3C,0x3F,0x78,0x6D", "", ""},
        {"html", "0x3C,0x68,0x74,0x6D", "", ""},      {"json", "0x7B,0x22", "", ""},
        {"mbox", "0x46,0x72,0x6F,0x6D,0x20", "", ""}, {"eml", "0x46,0x72,0x6F,0x6D,0x3A", "", ""},
        {"tif", "0x49,0x49", "", ""},                 {"flac", "0x66,0x4C,0x61,0x43", "", ""},
        {"mkv", "0x1A,0x45,0xDF,0xA3", "", ""},       {"ts", "0x47", "", ""},
        {"rar", "0x52,0x61,0x72,0x21", "", ""},       {"xz", "0xFD,0x37,0x7A,0x58", "", ""},
        {"bz2", "0x42,0x5A,0x68", "", ""},            {"mach", "0xCF,0xFA,0xED,0xFE", "", ""},
        {"mach", "0xCA,0xFE,0xBA,0xBE", "", ""},      {"ico", "0x00,0x00,0x01,0x00", "", ""},
        {"psd", "0x38,0x42,0x50,0x53", "", ""},       {"xcf", "0x67,0x69,0x6D,0x70", "", ""},
        {"ppm", "0x50", "", ""},
    };
    for (const Sig& s : kSigs) {
        qis::SignatureFields f;
        f.extension = s.ext;
        f.startSignature = s.start;
        f.endSignature = s.end;
        f.startOffset = s.offset;
        f.approxSize = "65536";
        f.category = "All";
        if (auto built = qis::buildSignatureRecord(f, 0); built.record)
            engine.addSignature(*built.record);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const MemoryFile settings("qis-fuzz-settings"), disk("qis-fuzz-disk");
    if (size == 0)
        return 0;
    const std::size_t recordBytes = std::min<std::size_t>(size - 1, static_cast<std::size_t>(data[0] % 8) * 173);
    settings.set(data + 1, recordBytes);
    disk.set(data + 1 + recordBytes, size - 1 - recordBytes);

    qis::myJpg engine;
    addBuiltIn(engine);
    // Small inputs: the search for a second piece tries sector-sized blocks.
    engine.fragmentSearch.blockSizes = {512};
    std::string message;
    qis::loadSignatureFile(settings.path, engine, message);
    qis::FileReadSeekRaw reader;
    if (!reader.open(disk.path))
        return 0;
    engine.reader = &reader;
    engine.scanSize = reader.diskSectorCount * 512;
    qis::NullReporter quiet;
    qis::PauseGate gate;
    qis::JobContext job(quiet, gate);
    engine.carveVolume(job, nullptr);
    for (std::size_t i = 0; i < engine.carvedFiles.size(); ++i) {
        const auto& f = engine.carvedFiles[i];
        if (f.length < 0 || (f.pieces.empty() && f.start + static_cast<std::uint64_t>(f.length) > engine.scanSize))
            std::abort(); // a carved file always lies in the scanned range
        for (const auto& piece : f.pieces)
            if (piece.offset > engine.scanSize || piece.length > engine.scanSize - piece.offset)
                std::abort(); // and so do its pieces
        if (!f.pieces.empty() && qis::carve::layoutLength(f.pieces) != static_cast<std::uint64_t>(f.length))
            std::abort();
        (void)engine.fileName(i);
    }
    // The indirect-block walk from the disk's start too, signature or not.
    (void)qis::carve::followIndirectBlocks(reader, 0, engine.scanSize, engine.scanSize, std::nullopt);
    return 0;
}
