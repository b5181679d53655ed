// An output that cannot take the files (a full disk, a file-size limit, a
// name taken by a file or a symbolic link, a file that appears meanwhile)
// and a Ctrl-C: qsalvage says what was not written and why, leaves nothing
// cut short under a real name, never writes through a link, and its exit
// code tells done (0), failed (1), usage (2), incomplete (3), stopped (130).

#include "support/ChildProcess.h"
#include "support/Fixtures.h"
#include "volumes/DiskExport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <map>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qis {
namespace {

namespace fs = std::filesystem;

using test::Child;
using test::readRest;
using test::readUntil;
using test::waitExit;

struct Finished {
    int exitCode;
    std::string out, err;
};

Finished run(const std::vector<std::string>& args, const fs::path& scratch, rlim_t fileLimit = RLIM_INFINITY)
{
    Child child = test::spawnQsalvage(args, scratch / "stdout", fileLimit);
    std::string err = readRest(child.err);
    int code = waitExit(child.pid);
    auto out = test::readWholeFile(scratch / "stdout");
    return {code, std::string(out.begin(), out.end()), err};
}

// Waits until the job runner's thread is there: the long job has begun.
void waitForJobThread(pid_t pid)
{
    const fs::path tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code ec;
    while (std::distance(fs::directory_iterator(tasks, ec), fs::directory_iterator()) < 2 && !ec)
        ::usleep(1000);
}

// A tmpfs of `size` mounted for the test, when the test may mount.
class SmallDisk {
public:
    SmallDisk(const fs::path& at, const std::string& size) : at_(at)
    {
        fs::create_directories(at);
        mounted_ = ::mount("tmpfs", at.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
    }
    ~SmallDisk()
    {
        if (mounted_)
            ::umount2(at_.c_str(), MNT_DETACH);
    }
    [[nodiscard]] bool mounted() const { return mounted_; }

private:
    fs::path at_;
    bool mounted_ = false;
};

// Every regular file below `dir`, by relative path, with its SHA-256.
std::map<std::string, std::string> filesBelow(const fs::path& dir)
{
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); it != fs::recursive_directory_iterator(); ++it)
        if (it->is_regular_file())
            files[fs::relative(it->path(), dir).string()] = test::fileSha256(it->path());
    return files;
}

// Arguments with OUT made the output path and @NAME the fixture NAME (so
// the tables are written before any fixture is unpacked).
std::vector<std::string> withOutput(std::vector<std::string> args, const fs::path& out)
{
    for (auto& a : args)
        if (a == "OUT")
            a = out.string();
        else if (a.starts_with("@"))
            a = test::fixture(a.substr(1)).string();
    return args;
}

const std::vector<std::string> kSaveNtfs = {"save", "@sample.vhdx", "--gpt", "--volume", "0", "--output", "OUT"};
const std::vector<std::string> kCarveDisk = {"carve", "@carve.img", "--disk", "--output", "OUT"};

struct FullCase {
    const char* name;
    const std::vector<std::string>& args;
    bool tmpfs;       // a 200 KiB disk; else a 16 KiB file-size limit
    const char* why;  // the system's reason, as the user must read it
};

class FullOutput : public ::testing::TestWithParam<FullCase> {};

// Whatever is left in the output is whole (the same bytes as an unhindered
// run wrote under that name), and every file missing is named with the reason.
TEST_P(FullOutput, IsAWriteFailureThatLeavesNothingCutShort)
{
    const FullCase& c = GetParam();
    test::TempDir dir;
    SmallDisk disk(dir / "small", "200k");
    if (c.tmpfs && !disk.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here";
    const fs::path out = c.tmpfs ? dir / "small" / "out" : dir / "out";
    auto reference = run(withOutput(c.args, dir / "reference"), dir.path());
    ASSERT_EQ(reference.exitCode, 0) << reference.err;

    auto r = run(withOutput(c.args, out), dir.path(), c.tmpfs ? RLIM_INFINITY : 16384);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find(out.string() + "/"), std::string::npos) << "names the files: " << r.err;
    EXPECT_NE(r.err.find(c.why), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Saving process done."), std::string::npos) << r.err;
    if (r.err.find("with unreadable parts (zeros)") != std::string::npos) {
        EXPECT_NE(r.err.find(" 0 with unreadable parts (zeros)"), std::string::npos) << "the image is blamed: " << r.err;
    }
    const auto whole = filesBelow(dir / "reference");
    const auto left = filesBelow(out);
    EXPECT_LT(left.size(), whole.size());
    for (const auto& [path, sha] : left) {
        ASSERT_TRUE(whole.count(path)) << path;
        EXPECT_EQ(sha, whole.at(path)) << path << " is cut short";
    }
}

INSTANTIATE_TEST_SUITE_P(OutputFaults, FullOutput,
                         ::testing::Values(FullCase{"SaveOnFullDisk", kSaveNtfs, true, "No space left on device"},
                                           FullCase{"SaveOverFileLimit", kSaveNtfs, false, "File too large"},
                                           FullCase{"CarveOnFullDisk", kCarveDisk, true, "No space left on device"},
                                           FullCase{"CarveOverFileLimit", kCarveDisk, false, "File too large"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(OutputFaultsCli, AnExportTheOutputCannotTakeIsNamedAndRemoved)
{
    test::TempDir dir;
    const auto image = test::fixture("numbered-default.vhdx").string();
    // Past the first MiB of the disk every write fails.
    auto limited = run({"export", image, "--output", (dir / "disk.img").string()}, dir.path(), 1 << 20);
    EXPECT_EQ(limited.exitCode, 1) << limited.err;
    EXPECT_NE(limited.err.find((dir / "disk.img.partial").string() + ": File too large"), std::string::npos)
        << limited.err;
    EXPECT_EQ(limited.err.find("Image Saved"), std::string::npos) << limited.err;
    EXPECT_FALSE(fs::exists(dir / "disk.img.partial"));
    EXPECT_FALSE(fs::exists(dir / "disk.img"));

    // A folder that cannot be written is not reported as a full disk.
    fs::create_directory(dir / "ro");
    SmallDisk readOnly(dir / "ro", "1m");
    if (readOnly.mounted() && ::mount(nullptr, (dir / "ro").c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0) {
        auto r = run({"export", image, "--output", (dir / "ro" / "disk.img").string()}, dir.path());
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find("disk.img.partial: Read-only file system"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("Insufficient Disk Space"), std::string::npos) << r.err;
    }
}

TEST(OutputFaultsCli, AFileAppearingMeanwhileIsNotReplacedByTheExport)
{
    test::TempDir dir;
    const auto target = dir / "disk.img";
    Child child = test::spawnQsalvage(withOutput({"export", "@big-6g.vhdx", "--output", "OUT"}, target), dir / "stdout");
    ASSERT_GT(child.pid, 0);
    readUntil(child.err, " MB of ");
    test::writeWholeFile(target, {'m', 'i', 'n', 'e'});
    std::string err = readRest(child.err);
    EXPECT_EQ(waitExit(child.pid), 1) << err;
    EXPECT_EQ(test::readWholeFile(target), (std::vector<std::uint8_t>{'m', 'i', 'n', 'e'}));
    EXPECT_NE(err.find(target.string() + ": File exists"), std::string::npos) << err;
    EXPECT_EQ(fs::file_size(partialExportPath(target)), 6ull << 30) << "the whole disk stays under its partial name";
}

// A folder of the image whose name a file or a symbolic link already has
// is made beside it, and nothing goes through the link.
TEST(OutputFaultsCli, FoldersBlockedByAFileOrALinkAreMadeBeside)
{
    test::TempDir dir;
    const auto out = dir / "out";
    fs::create_directories(out);
    fs::create_directories(dir / "elsewhere");
    test::writeWholeFile(out / "Documents", {'x'});
    fs::create_directory_symlink(dir / "elsewhere", out / "Photos");
    test::writeWholeFile(out / "Pictures", {'x'});

    auto save = run(withOutput(kSaveNtfs, out), dir.path());
    EXPECT_EQ(save.exitCode, 0) << save.err;
    EXPECT_EQ(test::fileSha256(out / "Documents (1)" / "report.txt"),
              "32b8574ccdb86320cedbf8948d8e16f4eee813eef0df3b294ce16803e733dcff");
    EXPECT_EQ(test::fileSha256(out / "Photos (1)" / "holiday.jpg"),
              "5d3c30bed2c387f250b344413041dddb65e6fd4833f445e6b791086506a604f7");
    EXPECT_NE(save.err.find(" 0 not written"), std::string::npos) << save.err;

    auto carve = run(withOutput(kCarveDisk, out), dir.path());
    EXPECT_EQ(carve.exitCode, 0) << carve.err;
    EXPECT_TRUE(fs::exists(out / "Pictures (1)" / "0 .jpg"));
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
}

struct StopCase {
    const char* name;
    std::vector<std::string> args; // OUT is replaced by the output path
    const char* waitFor;           // stderr text after which Ctrl-C comes; empty: the job's thread
    bool stall;                    // hold the job at its first line to stderr
    const char* says;              // how far it got
};

class CtrlC : public ::testing::TestWithParam<StopCase> {};

TEST_P(CtrlC, StopsWith130AndSaysHowFarItGot)
{
    const StopCase& c = GetParam();
    test::TempDir dir;
    Child child = test::spawnQsalvage(withOutput(c.args, dir / "out"), dir / "stdout", RLIM_INFINITY, c.stall);
    ASSERT_GT(child.pid, 0);
    if (*c.waitFor)
        readUntil(child.err, c.waitFor);
    else
        waitForJobThread(child.pid);
    ::kill(child.pid, SIGINT);
    std::string err = readRest(child.err);
    EXPECT_EQ(waitExit(child.pid), 130) << err;
    EXPECT_NE(err.find(c.says), std::string::npos) << err;
    EXPECT_EQ(err.find("\ndone..\n"), std::string::npos) << err;
    EXPECT_EQ(err.find("Saving process done."), std::string::npos) << err;
    auto out = test::readWholeFile(dir / "stdout");
    const std::string stdoutText(out.begin(), out.end());
    if (stdoutText.starts_with("{")) {
        EXPECT_NE(stdoutText.find("\"complete\": false"), std::string::npos) << stdoutText;
    }
}

INSTANTIATE_TEST_SUITE_P(
    OutputFaults, CtrlC,
    ::testing::Values(
        StopCase{"SaveWhileTheVolumeIsRead", kSaveNtfs, "", true, "Stopped while the volume was read"},
        StopCase{"ListWhileTheVolumeIsRead",
                 {"list", "@sample.vhdx", "--gpt", "--volume", "0", "--json"},
                 "",
                 true,
                 "Stopped while the volume was read"},
        StopCase{"SearchWhileTheVolumeIsRead",
                 {"search", "@sample.vhdx", "--gpt", "--volume", "0", "jpg$"},
                 "",
                 true,
                 "Stopped: "},
        StopCase{"CarveDuringItsSearch",
                 {"carve", "@big-6g.vhdx", "--disk", "--json", "--output", "OUT"},
                 "",
                 false,
                 "Stopped: the search ended at byte "},
        StopCase{"Export",
                 {"export", "@big-6g.vhdx", "--output", "OUT"},
                 " MB of ",
                 false,
                 "Stopped: "}),
    [](const auto& info) { return std::string(info.param.name); });

struct ExitCase {
    const char* name;
    std::vector<std::string> args; // OUT: a fresh output path; FILE: a regular file
    int exitCode;
    const char* says; // a text stderr must hold, or empty
};

class ExitCodes : public ::testing::TestWithParam<ExitCase> {};

TEST_P(ExitCodes, OneMeaningEach)
{
    const ExitCase& c = GetParam();
    test::TempDir dir;
    test::writeWholeFile(dir / "file", {'x'});
    std::vector<std::string> args = withOutput(c.args, dir / "out");
    for (auto& a : args)
        if (a == "FILE")
            a = (dir / "file").string();
    auto r = run(args, dir.path());
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
}

const std::string kSample = "@sample.vhdx";

INSTANTIATE_TEST_SUITE_P(
    OutputFaults, ExitCodes,
    ::testing::Values(
        ExitCase{"SaveDone", {"save", kSample, "--gpt", "--volume", "0", "--output", "OUT"}, 0, "Saving process done."},
        // FAT leaves no map of a deleted file: its clusters are guessed.
        ExitCase{"SaveGuessed", {"save", kSample, "--gpt", "--volume", "1", "--output", "OUT"}, 3, " guessed"},
        // A file where the output folder should be: refused before the scan.
        ExitCase{"SaveOutputIsAFile",
                 {"save", kSample, "--gpt", "--volume", "0", "--output", "FILE"},
                 1,
                 "file cannot be made or written to: Not a directory"},
        ExitCase{"SaveUsage", {"save", kSample}, 2, ""},
        ExitCase{"CarveDone", {"carve", "@carve.img", "--disk", "--output", "OUT"}, 0, ""},
        ExitCase{"CarveOutputIsAFile",
                 {"carve", "@carve.img", "--disk", "--output", "FILE"},
                 1,
                 "file cannot be made or written to: Not a directory"},
        ExitCase{"CarveUsage", {"carve", "@carve.img"}, 2, ""},
        ExitCase{"ExportDone", {"export", "@numbered.vdi", "--output", "OUT"}, 0, ""},
        ExitCase{"ExportOntoAFile",
                 {"export", "@numbered.vdi", "--output", "FILE"},
                 1,
                 "not overwritten"},
        ExitCase{"ExportUsage", {"export", "@numbered.vdi"}, 2, ""},
        // The verbs that only read hold to the same meanings.
        ExitCase{"InfoDone", {"info", kSample}, 0, ""},
        ExitCase{"InfoNoImage", {"info", "OUT"}, 1, "No such file or directory"},
        ExitCase{"InfoUsage", {"info"}, 2, ""},
        ExitCase{"VolumesDone", {"volumes", kSample, "--gpt"}, 0, ""},
        ExitCase{"ListDone", {"list", kSample, "--gpt", "--volume", "0"}, 0, ""},
        ExitCase{"ListNoSuchVolume", {"list", kSample, "--gpt", "--volume", "9"}, 1, "There is no volume 9"},
        ExitCase{"SearchDone", {"search", kSample, "--gpt", "--volume", "0", "jpg$"}, 0, ""},
        ExitCase{"SearchBadPattern", {"search", kSample, "--gpt", "--volume", "0", "(jpg"}, 2, "(jpg"},
        ExitCase{"CandidatesDone", {"candidates", kSample, "--gpt", "--volume", "1"}, 0, ""},
        ExitCase{"SignaturesNoFile", {"signatures", "list", "OUT"}, 1, "No such file or directory"},
        ExitCase{"SignaturesUsage", {"signatures", "list"}, 2, ""}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace qis
