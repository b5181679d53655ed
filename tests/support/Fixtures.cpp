#include "support/Fixtures.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace qis::test {
namespace fs = std::filesystem;

namespace {

fs::path makeUniqueDir(const std::string& prefix)
{
    static std::atomic<unsigned> counter{0};
    for (;;) {
        fs::path p = fs::temp_directory_path() /
                     (prefix + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::error_code ec;
        if (fs::create_directory(p, ec))
            return p;
        if (ec)
            throw std::runtime_error("cannot create " + p.string() + ": " + ec.message());
    }
}

// Decompressed fixtures and qemu-img references, shared by every test
// process of a build: each is made once, under a temporary name, then renamed.
struct FixtureCache {
    fs::path dir = QIS_FIXTURE_CACHE_DIR;
    std::mutex mutex;
    FixtureCache() { fs::create_directories(dir); }
};

FixtureCache& cache()
{
    static FixtureCache c;
    return c;
}

void mustRun(const std::string& command)
{
    CommandResult r = runCommand(command);
    if (r.exitCode != 0)
        throw std::runtime_error("command failed (" + std::to_string(r.exitCode) + "): " + command + "\n" + r.err);
}

} // namespace

TempDir::TempDir() : path_(makeUniqueDir("qis-test-")) {}

TempDir::~TempDir()
{
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string shellQuote(const std::string& word)
{
    std::string q = "'";
    for (char c : word)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Makes `target` with `command` (which writes to the shell variable $T)
// unless it exists and is newer than `source`, the file it is made from (a
// fixture made again must not be hidden by its old copy in the cache).
static void makeOnce(const fs::path& target, const std::string& command, const fs::path& source = {})
{
    std::lock_guard lock(cache().mutex);
    std::error_code ec;
    if (fs::exists(target) && (source.empty() || fs::last_write_time(target, ec) >= fs::last_write_time(source, ec)))
        return;
    fs::path partial = target.string() + ".part" + std::to_string(::getpid());
    mustRun("T=" + shellQuote(partial) + "; " + command);
    fs::rename(partial, target);
}

fs::path fixture(const std::string& name)
{
    fs::path source = fs::path(QIS_TEST_DATA_DIR) / (name + ".xz");
    if (!fs::exists(source))
        throw std::runtime_error("missing fixture " + source.string());
    fs::path target = cache().dir / name;
    // Decompressed sparse, so a 6 GiB disk of holes stays small.
    makeOnce(target, "xz -dc " + shellQuote(source) + " | cp --sparse=always /dev/stdin \"$T\"", source);
    return target;
}

fs::path fixtureCopy(const std::string& name, const TempDir& dir, const std::string& as)
{
    fs::path target = dir / (as.empty() ? name : as);
    fs::copy_file(fixture(name), target, fs::copy_options::overwrite_existing);
    return target;
}

fs::path qemuRawReference(const fs::path& image, const std::string& qemuFormat)
{
    if (image.parent_path() != cache().dir)
        throw std::runtime_error("references are made for unchanged fixtures only: " + image.string());
    fs::path target = cache().dir / (image.filename().string() + "." + qemuFormat + ".raw");
    makeOnce(target, "qemu-img convert -f " + qemuFormat + " -O raw " + shellQuote(image) + " \"$T\"", image);
    return target;
}

fs::path damagedRawCopy(const std::string& name, const std::string& qemuFormat,
                        const std::vector<std::pair<std::uint64_t, std::uint64_t>>& zeroedSectors,
                        const std::string& as)
{
    fs::path raw = qemuRawReference(fixture(name), qemuFormat);
    fs::path target = cache().dir / (as + ".raw");
    std::string command = "cp --sparse=always " + shellQuote(raw) + " \"$T\"";
    for (auto [first, count] : zeroedSectors)
        command += " && dd if=/dev/zero of=\"$T\" bs=512 seek=" + std::to_string(first) +
                   " count=" + std::to_string(count) + " conv=notrunc status=none";
    makeOnce(target, command, raw);
    return target;
}

CommandResult runCommand(const std::string& commandLine)
{
    TempDir dir;
    fs::path out = dir / "out", err = dir / "err";
    std::string full = "(" + commandLine + ") >" + shellQuote(out) + " 2>" + shellQuote(err) + " </dev/null";
    int status = std::system(full.c_str());
    CommandResult r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    auto slurp = [](const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    r.out = slurp(out);
    r.err = slurp(err);
    return r;
}

CommandResult runQsalvage(const std::vector<std::string>& arguments)
{
    std::string line = shellQuote(QIS_CLI_PATH);
    for (const auto& a : arguments)
        line += " " + shellQuote(a);
    return runCommand(line);
}

std::vector<std::uint8_t> readWholeFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void writeWholeFile(const fs::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void patchFile(const fs::path& path, std::uint64_t offset, const std::vector<std::uint8_t>& bytes)
{
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    if (!f)
        throw std::runtime_error("cannot patch " + path.string());
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void patchU32le(const fs::path& path, std::uint64_t offset, std::uint32_t v)
{
    patchFile(path, offset, {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)});
}

void patchU64le(const fs::path& path, std::uint64_t offset, std::uint64_t v)
{
    patchU32le(path, offset, static_cast<std::uint32_t>(v));
    patchU32le(path, offset + 4, static_cast<std::uint32_t>(v >> 32));
}

void patchU32be(const fs::path& path, std::uint64_t offset, std::uint32_t v)
{
    patchFile(path, offset, {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)});
}

std::string fileSha256(const fs::path& file)
{
    return runCommand("sha256sum " + shellQuote(file.string())).out.substr(0, 64);
}

std::string fileMtimeIso(const fs::path& file)
{
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0)
        return "";
    std::tm utc{};
    gmtime_r(&st.st_mtime, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

bool isHole(const fs::path& path, std::uint64_t offset, std::uint64_t length)
{
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    off_t data = ::lseek(fd, static_cast<off_t>(offset), SEEK_DATA);
    bool hole = data < 0 ? errno == ENXIO : static_cast<std::uint64_t>(data) >= offset + length;
    ::close(fd);
    return hole;
}

bool sameContents(const fs::path& a, const fs::path& b)
{
    int fa = ::open(a.c_str(), O_RDONLY), fb = ::open(b.c_str(), O_RDONLY);
    struct stat sa {}, sb {};
    bool same = fa >= 0 && fb >= 0 && ::fstat(fa, &sa) == 0 && ::fstat(fb, &sb) == 0 && sa.st_size == sb.st_size;
    // Stretches that are holes in both files are equal without reading them.
    std::vector<char> ba(1 << 20), bb(1 << 20);
    for (off_t at = 0; same && at < sa.st_size;) {
        off_t da = ::lseek(fa, at, SEEK_DATA), db = ::lseek(fb, at, SEEK_DATA);
        if (da < 0)
            da = sa.st_size;
        if (db < 0)
            db = sb.st_size;
        if (da > at && db > at) {
            at = std::min(da, db);
            continue;
        }
        auto n = static_cast<std::size_t>(std::min<off_t>(static_cast<off_t>(ba.size()), sa.st_size - at));
        same = ::pread(fa, ba.data(), n, at) == static_cast<ssize_t>(n) &&
               ::pread(fb, bb.data(), n, at) == static_cast<ssize_t>(n) && std::memcmp(ba.data(), bb.data(), n) == 0;
        at += static_cast<off_t>(n);
    }
    if (fa >= 0)
        ::close(fa);
    if (fb >= 0)
        ::close(fb);
    return same;
}

} // namespace qis::test
