#pragma once

#include "images/WizardState.h"

#include <filesystem>
#include <string>
#include <vector>

namespace qis::cli {

// True when the file can be opened as an image; else prints its path and
// the reason (the system's, or what kind of file it is) and returns false.
bool imageOpens(const std::filesystem::path& path);

// `message` about a file the user named, followed by the system's reason
// when the file cannot be read at all.
std::string withReason(const std::string& message, const std::filesystem::path& path);

// Prints what the reader found damaged in the image and how many bytes of
// the virtual disk cannot be read (they read as zeros).
void printImageDamage(const std::filesystem::path& path, const readWriteInterface& reader);

// The --parent files of this run, in order (set once from the command line).
void setParentImages(std::vector<std::filesystem::path> paths);
const std::vector<std::filesystem::path>& parentImages();

// Points the state at the image named on the command line: its path, the
// format its content shows and the --parent files.
void chooseImage(WizardState& state, const std::filesystem::path& path);

// Opens the image named on the command line with the reader its signatures
// call for; on failure prints the reader's message and returns false.
bool openImage(WizardState& state, const std::string& path);

// A decimal option value; false (with a usage message) when it is not one.
bool parseSector(const std::string& option, const std::string& text, std::int64_t& value);

} // namespace qis::cli
