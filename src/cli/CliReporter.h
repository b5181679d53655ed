#pragma once

#include "jobs/JobReporter.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

namespace qis::cli {

// The terminal as a job's page: status and a progress bar on stderr (drawn
// in place on a terminal, a line now and then otherwise), messages as lines.
class CliReporter : public JobReporter {
public:
    // everyStatus: print each status text on a line of its own (scans whose
    // texts say what was found) instead of only the latest now and then.
    explicit CliReporter(std::FILE* out = stderr, bool everyStatus = false);
    ~CliReporter() override;

    void setStatusText(std::string_view text) override;
    void setDetailText(std::string_view text) override;
    void setProgressRange(std::int32_t low, std::int32_t high) override;
    void setProgressPos(std::int32_t position) override;
    MessageResult showMessage(std::string_view text, MessageIcon icon, MessageButtons buttons) override;

    // Ends the progress line and prints the last status if it was not shown.
    void finish();

private:
    void draw(bool force);

    std::FILE* out_;
    bool terminal_;
    bool everyStatus_;
    std::mutex mutex_;
    std::string status_;
    std::int32_t low_ = 0, high_ = 0, pos_ = 0;
    bool lineOpen_ = false;
    bool statusShown_ = true;
    std::chrono::steady_clock::time_point lastDraw_{};
};

} // namespace qis::cli
