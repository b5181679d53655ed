#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace qis {

// Pause without thread suspension: a job passes the gate in every reporter
// call and stop check, and waits there while the gate is closed. Pauses
// count like thread suspensions: two Pauses need two Resumes.
class PauseGate {
public:
    void pause();
    void resume();
    // Opens the gate whatever the count (the job is being abandoned).
    void release();

    // Waits while paused.
    void pass();

    [[nodiscard]] bool paused() const;
    [[nodiscard]] std::size_t waiting() const;

    // Blocks until at least `count` threads wait at the closed gate, so a
    // caller can observe a paused job without sleeping.
    void awaitWaiting(std::size_t count = 1) const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    // Read without the lock on the fast path: an open gate costs one load,
    // so scans may pass it for every sector.
    std::atomic<int> pauseCount_{0};
    std::size_t waiting_ = 0;
};

} // namespace qis
