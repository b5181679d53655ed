#pragma once

#include "util/DataSink.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace qis {

struct FileHashes {
    std::string md5, sha256; // lowercase hex
    friend bool operator==(const FileHashes&, const FileHashes&) = default;
};

// MD5 and SHA-256 of a stream of bytes, fed piece by piece.
class Digests {
public:
    Digests();
    ~Digests();
    Digests(const Digests&) = delete;
    Digests& operator=(const Digests&) = delete;

    void update(std::span<const std::uint8_t> bytes);
    // `count` zeros, fed a bounded piece at a time: a hole may be gigabytes.
    void updateZeros(std::uint64_t count);
    // The digests of everything fed; nothing may be fed after.
    FileHashes finish();

private:
    struct Contexts;
    std::unique_ptr<Contexts> contexts_;
};

// Passes a file's contents on to `inner` and takes their digests on the
// way, so a saved file's hashes are those of the bytes written, without
// reading it back. A hole counts as the zeros it stands for. It copies
// nothing inside the system (copyFrom): every byte has to pass through
// write to be hashed.
class HashingSink : public DataSink {
public:
    explicit HashingSink(DataSink& inner) : inner_(inner) {}

    bool write(std::span<const std::uint8_t> data) override;
    bool skip(std::uint64_t bytes) override;

    // The digests of what the inner sink took.
    FileHashes finish() { return digests_.finish(); }

private:
    DataSink& inner_;
    Digests digests_;
};

} // namespace qis
