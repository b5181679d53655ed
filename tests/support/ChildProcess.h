#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace qis::test {

// qsalvage run as a child the test can signal while it works.
struct Child {
    pid_t pid = -1;
    int err = -1; // the read end of its stderr
};

// Starts qsalvage with stdout in a file and stderr in a pipe. `fileLimit`
// (bytes) caps the size of any file it writes, as `ulimit -f` does.
// `stallStderr` fills the pipe first, so its first line to stderr waits
// until the test reads: the job is held at a known point.
Child spawnQsalvage(const std::vector<std::string>& args, const std::filesystem::path& stdoutFile,
                    rlim_t fileLimit = RLIM_INFINITY, bool stallStderr = false);

// Reads the child's stderr until `text` has arrived; returns all read.
std::string readUntil(int fd, const std::string& text);
// Reads the rest of it, and closes it.
std::string readRest(int fd);
// The exit code, or -signal when a signal ended it.
int waitExit(pid_t pid);

} // namespace qis::test
