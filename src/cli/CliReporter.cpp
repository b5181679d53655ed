#include "cli/CliReporter.h"

#include <unistd.h>

namespace qis::cli {
namespace {

constexpr auto kTerminalInterval = std::chrono::milliseconds(100);
constexpr auto kLogInterval = std::chrono::seconds(2);

} // namespace

CliReporter::CliReporter(std::FILE* out, bool everyStatus)
    : out_(out), terminal_(::isatty(::fileno(out)) == 1), everyStatus_(everyStatus)
{
}

CliReporter::~CliReporter() { finish(); }

void CliReporter::setStatusText(std::string_view text)
{
    std::lock_guard lock(mutex_);
    status_ = text;
    statusShown_ = false;
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

void CliReporter::draw(bool force)
{
    // Without a terminal only new status texts are worth a line.
    if (!terminal_ && (status_.empty() || statusShown_))
        return;
    auto now = std::chrono::steady_clock::now();
    if (!force && now - lastDraw_ < (terminal_ ? kTerminalInterval : kLogInterval))
        return;
    lastDraw_ = now;
    int percent = high_ > low_ ? static_cast<int>(100.0 * (pos_ - low_) / (high_ - low_)) : 0;
    percent = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    if (terminal_) {
        constexpr int kWidth = 30;
        int filled = percent * kWidth / 100;
        std::fprintf(out_, "\r[%.*s%.*s] %3d%% %s\x1b[K", filled, "##############################", kWidth - filled,
                     "                              ", percent, status_.c_str());
        lineOpen_ = true;
    } else {
        std::fprintf(out_, "%s\n", status_.c_str());
    }
    statusShown_ = true;
    std::fflush(out_);
}

} // namespace qis::cli
