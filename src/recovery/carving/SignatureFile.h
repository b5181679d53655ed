#pragma once

#include "recovery/carving/SignatureRecord.h"
#include "recovery/carving/myJpg.h"

#include <filesystem>
#include <string>
#include <vector>

namespace qis {

// The name of the default settings file, beside the program.
inline constexpr const char* kDefaultSignatureFile = "FileSetting.txt";

// The records of a settings file, as its last record's index announces
// them (only those the file holds); false with the message shown to the
// user when the file is not one: "Cannot open the selected file", "Please
// select a valid file..", or why a record cannot be used.
bool readSignatureFile(const std::filesystem::path& path, std::vector<SignatureRecord>& records, std::string& message);

// Loads a settings file's types after those already in the engine; false
// (nothing added) with the message when the file is not valid or would
// bring the engine past its 128 types.
bool loadSignatureFile(const std::filesystem::path& path, myJpg& engine, std::string& message);

// Loads the default file into the fresh engine; a missing or unreadable
// file loads nothing, silently.
void loadDefaultSignatures(const std::filesystem::path& path, myJpg& engine);

} // namespace qis
