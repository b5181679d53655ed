#pragma once

#include "images/ImageFormat.h"
#include "images/readWriteInterface.h"

#include <filesystem>
#include <memory>
#include <vector>

namespace qis {

// The values handed from page to page; the GUI keeps one, the CLI one per run.
struct WizardState {
    std::filesystem::path imagePath;
    ImageFormat imageFormat = ImageFormat::Vhdx;
    // The one open reader; null whenever no image is being worked on.
    std::unique_ptr<readWriteInterface> currentReader;
    // Size of the virtual disk in 512-byte sectors, set when a reader opens.
    std::uint64_t diskSectorCount = 0;
    // The parents a differencing image is to be read on, when the user names
    // them: its own first, then its parent's and so on.
    std::vector<std::filesystem::path> parentPaths;

    // A reader of the image's format, not yet open, told of parentPaths.
    [[nodiscard]] std::unique_ptr<readWriteInterface> newReader() const;

    // Replaces currentReader with a fresh reader of the image's format and
    // opens it; on failure currentReader is null and the reader's message
    // is in `message`.
    bool openFreshReader(std::string* message = nullptr);
    void closeReader();
};

} // namespace qis
