#include "jobs/PauseGate.h"

namespace qis {

void PauseGate::pause()
{
    std::lock_guard lock(mutex_);
    ++pauseCount_;
}

void PauseGate::resume()
{
    {
        std::lock_guard lock(mutex_);
        if (pauseCount_.load() > 0)
            --pauseCount_;
    }
    changed_.notify_all();
}

void PauseGate::release()
{
    {
        std::lock_guard lock(mutex_);
        pauseCount_ = 0;
    }
    changed_.notify_all();
}

void PauseGate::pass()
{
    if (pauseCount_.load(std::memory_order_acquire) == 0)
        return;
    std::unique_lock lock(mutex_);
    if (pauseCount_ == 0)
        return;
    ++waiting_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return pauseCount_.load() == 0; });
    --waiting_;
}

bool PauseGate::paused() const
{
    return pauseCount_.load() > 0;
}

std::size_t PauseGate::waiting() const
{
    std::lock_guard lock(mutex_);
    return waiting_;
}

void PauseGate::awaitWaiting(std::size_t count) const
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return waiting_ >= count; });
}

} // namespace qis
