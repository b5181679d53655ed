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
};

} // namespace qis::cli
