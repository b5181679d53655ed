#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace qis::test {

// A fresh folder under the temp directory, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// The fixture tests/data/<name>.xz, decompressed once per test run into a
// scratch folder (tests never touch the checked-in files).
std::filesystem::path fixture(const std::string& name);

// A private copy of a fixture that a test may change.
std::filesystem::path fixtureCopy(const std::string& name, const TempDir& dir, const std::string& as = "");

// What `qemu-img convert -f FORMAT -O raw` makes of the image, made once per run.
std::filesystem::path qemuRawReference(const std::filesystem::path& image, const std::string& qemuFormat);

// A raw disk made from the fixture (`qemu-img convert` of `qemuFormat`) with
// the given sector ranges (first sector, count) zeroed: a volume damaged on
// purpose. Made once per run under the name `as`.
std::filesystem::path damagedRawCopy(const std::string& name, const std::string& qemuFormat,
                                     const std::vector<std::pair<std::uint64_t, std::uint64_t>>& zeroedSectors,
                                     const std::string& as);

struct CommandResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs a shell command line, capturing stdout and stderr.
CommandResult runCommand(const std::string& commandLine);

// Runs the built qsalvage with the given (shell-quoted here) arguments.
CommandResult runQsalvage(const std::vector<std::string>& arguments);

std::string shellQuote(const std::string& word);

std::vector<std::uint8_t> readWholeFile(const std::filesystem::path& path);
void writeWholeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// Patches bytes of a file in place.
void patchFile(const std::filesystem::path& path, std::uint64_t offset, const std::vector<std::uint8_t>& bytes);
void patchU32le(const std::filesystem::path& path, std::uint64_t offset, std::uint32_t value);
void patchU64le(const std::filesystem::path& path, std::uint64_t offset, std::uint64_t value);
void patchU32be(const std::filesystem::path& path, std::uint64_t offset, std::uint32_t value);

// True when the file has no data (a hole) anywhere in [offset, offset + length).
bool isHole(const std::filesystem::path& path, std::uint64_t offset, std::uint64_t length);

// The SHA-256 of a file (hex), and its modification time as ISO-8601 UTC.
std::string fileSha256(const std::filesystem::path& file);
std::string fileMtimeIso(const std::filesystem::path& file);

// True when both files hold the same bytes.
bool sameContents(const std::filesystem::path& a, const std::filesystem::path& b);

} // namespace qis::test
