#include "cli/Interrupt.h"

#include <csignal>

namespace qis::cli {
namespace {

std::atomic<std::atomic<bool>*> gFlag{nullptr};
std::atomic<bool> gInterrupted{false};

extern "C" void onInterrupt(int)
{
    gInterrupted.store(true);
    if (auto* flag = gFlag.load())
        flag->store(true);
    std::signal(SIGINT, SIG_DFL);
}

} // namespace

StopOnInterrupt::StopOnInterrupt(std::atomic<bool>& flag)
{
    gInterrupted.store(false);
    gFlag.store(&flag);
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
}

StopOnInterrupt::~StopOnInterrupt()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    gFlag.store(nullptr);
}

bool StopOnInterrupt::interrupted() const { return gInterrupted.load(); }

} // namespace qis::cli
