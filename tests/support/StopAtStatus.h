#pragma once

#include "jobs/JobReporter.h"

#include <atomic>
#include <string>
#include <string_view>

namespace qis::test {

// A page that presses Stop (sets the flag) when the job shows a given
// status text, as a user would at that moment.
class StopAtStatus : public NullReporter {
public:
    StopAtStatus(std::atomic<bool>& flag, std::string at) : flag_(flag), at_(std::move(at)) {}
    void setStatusText(std::string_view text) override
    {
        if (text == at_)
            flag_.store(true);
    }

private:
    std::atomic<bool>& flag_;
    std::string at_;
};

} // namespace qis::test
