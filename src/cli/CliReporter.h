#pragma once

#include "jobs/JobReporter.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

namespace qis::cli {

// The terminal as a job's page: status and a progress bar on stderr, drawn
// in place on a terminal; otherwise (a pipe, a log file) each new status
// text, and for a job over bytes a line with the percent, the bytes and the
// rate at most once a second.
// Messages are lines. --quiet keeps the progress and status off stderr;
// --log keeps every status text and message.
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

    // The job's whole in bytes, when its progress runs over bytes and its
    // status texts do not say how far (a carve): lines without a terminal
    // then say how far in bytes and how fast.
    void setProgressBytes(std::uint64_t total);

private:
    void draw(bool force);
    [[nodiscard]] int percent() const;
    [[nodiscard]] std::string amountText(int percent) const;

    std::FILE* out_;
    bool terminal_;
    bool everyStatus_;
    std::mutex mutex_;
    std::string status_;
    std::int32_t low_ = 0, high_ = 0, pos_ = 0;
    bool lineOpen_ = false;
    bool statusShown_ = true;
    int percentShown_ = -1;
    std::uint64_t totalBytes_ = 0;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastDraw_{};
};

} // namespace qis::cli
