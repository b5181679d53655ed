#pragma once

#include "images/readWriteInterface.h"
#include "platform/ImageFile.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string_view>

namespace qis {

struct ImageInformation;

// How sure a format's probe is that a file is one of its own, weakest first.
// A signature where the format puts its first structure outranks one that
// only a copy at the end carries, which outranks one a damaged image may
// still show further in.
enum class ProbeStrength {
    None,               // not this format
    AnyFile,            // every file reads this way (a raw disk)
    SecondaryStructure, // a structure behind a missing or damaged first one
    Footer,             // the format's signature in the file's last sector
    Header,             // the format's signature in the file's first sector
};

// What a probe sees of a file: its first and last sectors, read once for all
// probes, and the file itself for anything further in.
struct ProbeInput {
    std::span<const std::uint8_t> head; // up to the first 512 bytes
    std::span<const std::uint8_t> tail; // the last 512 bytes; empty for a shorter file
    ImageFile& file;
};

// One row of the opener table: everything the layer knows of a format comes
// from its folder through this row.
struct ImageFormatEntry {
    ImageFormat format;
    std::string_view name;                        // as shown: "VHDX"
    std::span<const std::string_view> extensions; // lower case, without the dot
    ProbeStrength (*probe)(const ProbeInput& input);
    std::unique_ptr<readWriteInterface> (*createReader)();
    ImageInformation (*information)(const std::filesystem::path& path);
};

// A row's reader factory: a fresh reader of the format's class.
template <typename Reader>
std::unique_ptr<readWriteInterface> newReaderOf()
{
    return std::make_unique<Reader>();
}

// Every format, one row each. The order decides between probes of equal
// strength when the file's extension does not.
std::span<const ImageFormatEntry> imageFormatTable();

std::string_view formatName(ImageFormat format);

// Tells the format from the file's own signatures; the strongest answer
// wins, and the extension only decides between equally strong answers. A
// file that carries no signature is taken as a raw disk, whatever its name.
ImageFormat detectImageFormat(const std::filesystem::path& path);

std::unique_ptr<readWriteInterface> createReader(ImageFormat format);

} // namespace qis
