// Ctrl-C during a long job stops it like the Stop button: the process
// still ends normally, keeps or prints what it had, and exits 130.

#include "support/ChildProcess.h"
#include "support/Fixtures.h"
#include "volumes/DiskExport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qis {
namespace {

using test::Child;
using test::readRest;
using test::readUntil;
using test::waitExit;

TEST(InterruptCli, CtrlCStopsAnExportAndKeepsWhatWasWritten)
{
    test::TempDir dir;
    auto out = dir / "big.img";
    Child child = test::spawnQsalvage({"export", test::fixture("big-6g.vhdx").string(), "--output", out.string()}, dir / "stdout");
    ASSERT_GT(child.pid, 0);
    readUntil(child.err, " MB of ");
    ::kill(child.pid, SIGINT);
    std::string err = readRest(child.err);
    EXPECT_EQ(waitExit(child.pid), 130) << err;
    EXPECT_NE(err.find("Stopped: "), std::string::npos) << err;
    EXPECT_NE(err.find("Image Saved, click next to continue recovery proess."), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(out)) << "a stopped export keeps its partial name";
    auto size = std::filesystem::file_size(partialExportPath(out));
    EXPECT_GT(size, 0u);
    EXPECT_LT(size, 6ull << 30);
    EXPECT_EQ(size % (5u << 20), 0u) << "whole pieces only";
}

TEST(InterruptCli, CtrlCDuringASearchStillPrintsTheTable)
{
    test::TempDir dir;
    Child child = test::spawnQsalvage({"volumes", test::fixture("big-6g.vhdx").string(), "--deep"}, dir / "stdout");
    ASSERT_GT(child.pid, 0);
    readUntil(child.err, "Scanning partition.....");
    ::kill(child.pid, SIGINT);
    std::string err = readRest(child.err);
    EXPECT_EQ(waitExit(child.pid), 130) << err;
    EXPECT_NE(err.find("Scanned Partitions"), std::string::npos) << err;
    EXPECT_NE(err.find("Stopped: the search for boot records did not reach the end"), std::string::npos) << err;
    auto table = test::readWholeFile(dir / "stdout");
    EXPECT_EQ(std::string(table.begin(), table.end()).rfind("VOLUME  FILE_SYSTEM", 0), 0u);
}

} // namespace
} // namespace qis
