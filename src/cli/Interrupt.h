#pragma once

#include <atomic>

namespace qis::cli {

// While alive, Ctrl-C sets `flag` (the job's stop flag) instead of killing
// the program; a second Ctrl-C kills it as usual.
class StopOnInterrupt {
public:
    explicit StopOnInterrupt(std::atomic<bool>& flag);
    ~StopOnInterrupt();
    StopOnInterrupt(const StopOnInterrupt&) = delete;
    StopOnInterrupt& operator=(const StopOnInterrupt&) = delete;

    // Ctrl-C (or SIGTERM) came while this was alive. Kept apart from the
    // flag, which a job may clear once it has seen it.
    [[nodiscard]] bool interrupted() const;
};

} // namespace qis::cli
