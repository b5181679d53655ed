#include "support/ChildProcess.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qis::test {

Child spawnQsalvage(const std::vector<std::string>& args, const std::filesystem::path& stdoutFile, rlim_t fileLimit,
                    bool stallStderr)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    if (stallStderr) {
        const int size = ::fcntl(pipeFds[1], F_SETPIPE_SZ, 4096);
        std::string filler(static_cast<std::size_t>(size > 0 ? size : 65536), ' ');
        ::fcntl(pipeFds[1], F_SETFL, O_NONBLOCK);
        while (::write(pipeFds[1], filler.data(), filler.size()) > 0) {
        }
        ::fcntl(pipeFds[1], F_SETFL, 0);
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        int out = ::open(stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, 1);
        ::dup2(pipeFds[1], 2);
        ::close(pipeFds[0]);
        struct rlimit limit = {fileLimit, fileLimit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
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
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

} // namespace qis::test
