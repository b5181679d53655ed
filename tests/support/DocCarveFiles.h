#pragma once

#include <filesystem>

namespace qis::test {

// The folder of files tests/fixtures/make-doc-carve-files.sh makes with
// real tools (PDFs with updates, EPUB, APK, phone JPEGs, text and mail),
// made once per version of the script and shared by the test processes.
const std::filesystem::path& docCarveFiles();

} // namespace qis::test
