#pragma once

#include "images/readWriteInterface.h"
#include "platform/OutputFolder.h"
#include "recovery/carving/myJpg.h"

#include <functional>
#include <string>
#include <vector>

namespace qis {

struct CarvedSaveResult {
    // Per carved file: where it went ("Pictures/1024 .jpg"), empty when it
    // was not wanted or could not be written.
    std::vector<std::string> savedAs;
    std::size_t written = 0;
    std::size_t failed = 0;
};

// Writes the carved files `wanted` picks into a folder per category below
// `root`, their bytes read through the reader the engine scanned.
CarvedSaveResult saveCarvedFiles(const myJpg& engine, readWriteInterface& reader, const OutputFolder& root,
                                 const std::function<bool(std::size_t index)>& wanted);

} // namespace qis
