#include "recovery/EntryHash.h"

#include "jobs/StopAwareSink.h"
#include "recovery/GuessedFileCheck.h"

#include <cerrno>
#include <unistd.h>
#include <vector>

namespace qis {
namespace {

// As FolderSave writes it: a guess is checked against its format first.
bool readEntry(VolumeParser& parser, EntryHandle entry, DataSink& out)
{
    if (parser.recoverability(entry) == Recoverability::Guessed)
        return saveGuessed(parser, entry, out).complete;
    return parser.saveEntry(entry, out);
}

} // namespace

std::optional<EntryHash> hashEntry(VolumeParser& parser, EntryHandle entry, JobContext& job,
                                   const std::atomic<bool>& stop)
{
    NullSink nowhere;
    HashingSink hashing(nowhere);
    StopAwareSink sink(hashing, job, stop);
    EntryHash h;
    h.complete = readEntry(parser, entry, sink);
    if (sink.stopped())
        return std::nullopt;
    h.hashes = hashing.finish();
    return h;
}

EntryHash hashEntry(VolumeParser& parser, EntryHandle entry)
{
    NullSink nowhere;
    HashingSink hashing(nowhere);
    EntryHash h;
    h.complete = readEntry(parser, entry, hashing);
    h.hashes = hashing.finish();
    return h;
}

std::optional<FileHashes> hashOutputFile(const OutputFolder& folder, const std::string& name)
{
    const int fd = folder.openToRead(name);
    if (fd < 0)
        return std::nullopt;
    Digests digests;
    std::vector<std::uint8_t> piece(1u << 20);
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, piece.data(), piece.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        digests.update(std::span<const std::uint8_t>(piece.data(), static_cast<std::size_t>(n)));
    }
    ::close(fd);
    if (!ok)
        return std::nullopt;
    FileHashes h = digests.finish();
    if (h.sha256.empty())
        return std::nullopt;
    return h;
}

} // namespace qis
