#include "jobs/JobRunner.h"

namespace qis {

JobContext::JobContext(JobReporter& page, PauseGate& gate) : gate_(gate), gated_(page, gate) {}

bool JobContext::stopSeen(const std::atomic<bool>& flag)
{
    gate_.pass();
    return flag.load();
}

void JobContext::GatedReporter::setStatusText(std::string_view text)
{
    gate_.pass();
    page_.setStatusText(text);
}

void JobContext::GatedReporter::setDetailText(std::string_view text)
{
    gate_.pass();
    page_.setDetailText(text);
}

void JobContext::GatedReporter::setProgressRange(std::int32_t low, std::int32_t high)
{
    gate_.pass();
    page_.setProgressRange(low, high);
}

void JobContext::GatedReporter::setProgressPos(std::int32_t position)
{
    gate_.pass();
    page_.setProgressPos(position);
}

MessageResult JobContext::GatedReporter::showMessage(std::string_view text, MessageIcon icon, MessageButtons buttons)
{
    gate_.pass();
    return page_.showMessage(text, icon, buttons);
}

JobRunner::JobRunner(JobReporter& page) : page_(page) {}

JobRunner::~JobRunner()
{
    // A job left paused would never reach its end; let it run out.
    gate_.release();
    join();
}

bool JobRunner::start(Procedure procedure)
{
    if (running_.load())
        return false;
    join();
    running_.store(true);
    started_ = true;
    worker_ = std::jthread([this, procedure = std::move(procedure)] {
        JobContext context(page_, gate_);
        procedure(context);
        running_.store(false);
    });
    return true;
}

void JobRunner::pause()
{
    if (started_)
        gate_.pause();
}

void JobRunner::resume()
{
    if (started_)
        gate_.resume();
}

void JobRunner::join()
{
    if (worker_.joinable())
        worker_.join();
}

} // namespace qis
