#include "cli/CliReporter.h"

#include "cli/ProgressOptions.h"

#include <unistd.h>

namespace qis::cli {
namespace {

constexpr auto kTerminalInterval = std::chrono::milliseconds(100);
constexpr auto kLineInterval = std::chrono::seconds(1);

// "1.2 GB" for a byte count.
std::string bytesText(double bytes)
{
    const char* units[] = {"bytes", "KB", "MB", "GB", "TB"};
    int unit = 0;
    while (bytes >= 1024 && unit < 4) {
        bytes /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
    return text;
}

} // namespace

CliReporter::CliReporter(std::FILE* out, bool everyStatus)
    : out_(out), terminal_(::isatty(::fileno(out)) == 1), everyStatus_(everyStatus)
{
}

CliReporter::~CliReporter() { finish(); }

void CliReporter::setStatusText(std::string_view text)
{
    std::lock_guard lock(mutex_);
    if (text != status_)
        logLine(text);
    status_ = text;
    statusShown_ = false;
    if (progressOptions().quiet) {
        statusShown_ = true;
        return;
    }
    if (everyStatus_) {
        if (lineOpen_) {
            std::fputs("\r\x1b[K", out_);
            lineOpen_ = false;
        }
        std::fprintf(out_, "%s\n", status_.c_str());
        std::fflush(out_);
        statusShown_ = true;
        return;
    }
    draw(false);
}

void CliReporter::setDetailText(std::string_view) {}

void CliReporter::setProgressRange(std::int32_t low, std::int32_t high)
{
    std::lock_guard lock(mutex_);
    low_ = low;
    high_ = high;
}

void CliReporter::setProgressPos(std::int32_t position)
{
    std::lock_guard lock(mutex_);
    pos_ = position;
    draw(false);
}

MessageResult CliReporter::showMessage(std::string_view text, MessageIcon, MessageButtons buttons)
{
    std::lock_guard lock(mutex_);
    logLine(text);
    if (lineOpen_) {
        std::fputc('\n', out_);
        lineOpen_ = false;
    }
    std::fprintf(out_, "%.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(out_);
    // Nobody is there to answer: questions take their affirmative answer.
    return buttons == MessageButtons::YesNo ? MessageResult::Yes : MessageResult::Ok;
}

void CliReporter::finish()
{
    std::lock_guard lock(mutex_);
    if (!statusShown_ && !status_.empty())
        draw(true);
    if (lineOpen_) {
        std::fputc('\n', out_);
        lineOpen_ = false;
    }
    std::fflush(out_);
}

void CliReporter::setProgressBytes(std::uint64_t total)
{
    std::lock_guard lock(mutex_);
    totalBytes_ = total;
}

int CliReporter::percent() const
{
    int percent = high_ > low_ ? static_cast<int>(100.0 * (pos_ - low_) / (high_ - low_)) : 0;
    return percent < 0 ? 0 : percent > 100 ? 100 : percent;
}

// " 1.2 GB of 3.0 GB, 85.3 MB/s" when the job runs over bytes.
std::string CliReporter::amountText(int percent) const
{
    if (totalBytes_ == 0 || high_ <= low_)
        return {};
    const double done = static_cast<double>(totalBytes_) * (pos_ - low_) / (high_ - low_);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::string text = " " + bytesText(done) + " of " + bytesText(static_cast<double>(totalBytes_));
    if (seconds >= 0.5 && percent > 0)
        text += ", " + bytesText(done / seconds) + "/s";
    return text;
}

void CliReporter::draw(bool force)
{
    if (progressOptions().quiet)
        return;
    const int done = percent();
    // Without a terminal a line is worth writing only when it says something
    // new: a status text, or how far a job that runs over bytes has come.
    const bool bytesLine = totalBytes_ != 0 && high_ > low_ && done > 0 && done != percentShown_;
    if (!terminal_ && statusShown_ && !bytesLine)
        return;
    auto now = std::chrono::steady_clock::now();
    if (!force && now - lastDraw_ < (terminal_ ? kTerminalInterval : kLineInterval))
        return;
    lastDraw_ = now;
    if (terminal_) {
        constexpr int kWidth = 30;
        int filled = done * kWidth / 100;
        std::fprintf(out_, "\r[%.*s%.*s] %3d%% %s\x1b[K", filled, "##############################", kWidth - filled,
                     "                              ", done, status_.c_str());
        lineOpen_ = true;
    } else if (bytesLine) {
        std::fprintf(out_, "%3d%%%s %s\n", done, amountText(done).c_str(), status_.c_str());
    } else {
        std::fprintf(out_, "%s\n", status_.c_str());
    }
    percentShown_ = done;
    statusShown_ = true;
    std::fflush(out_);
}

} // namespace qis::cli
