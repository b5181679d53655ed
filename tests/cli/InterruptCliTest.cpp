// Ctrl-C during a long job stops it like the Stop button: the process
// still ends normally, keeps or prints what it had, and exits 130.

#include "support/Fixtures.h"
#include "volumes/DiskExport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qis {
namespace {

struct Child {
    pid_t pid = -1;
    int err = -1; // the child's stderr
};

Child spawn(const std::vector<std::string>& args, const std::filesystem::path& stdoutFile)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    pid_t pid = ::fork();
    if (pid == 0) {
        int out = ::open(stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, 1);
        ::dup2(pipeFds[1], 2);
        ::close(pipeFds[0]);
        std::vector<char*> argv;
        std::string program = QIS_CLI_PATH;
        argv.push_back(program.data());
        std::vector<std::string> copy = args;
        for (auto& a : copy)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    return {pid, pipeFds[0]};
}

// Reads stderr until a line containing `text` has arrived; returns all read.
std::string readUntil(int fd, const std::string& text)
{
    std::string got;
    char c;
    while (got.find(text) == std::string::npos && ::read(fd, &c, 1) == 1)
        got += c;
    return got;
}

std::string readRest(int fd)
{
    std::string got;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        got.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    return got;
}

int waitExit(pid_t pid)
{
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(InterruptCli, CtrlCStopsAnExportAndKeepsWhatWasWritten)
{
    test::TempDir dir;
    auto out = dir / "big.img";
    Child child = spawn({"export", test::fixture("big-6g.vhdx").string(), "--output", out.string()}, dir / "stdout");
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
    Child child = spawn({"volumes", test::fixture("big-6g.vhdx").string(), "--deep"}, dir / "stdout");
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
