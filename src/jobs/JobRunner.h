#pragma once

#include "jobs/JobReporter.h"
#include "jobs/PauseGate.h"

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace qis {

// What a running job sees: a reporter whose every call first passes the
// pause gate, and a stop check that does the same.
class JobContext {
public:
    JobContext(JobReporter& page, PauseGate& gate);

    JobReporter& reporter() { return gated_; }
    PauseGate& gate() { return gate_; }

    // Passes the gate, then reads the flag: a paused job never sees Stop
    // until it is resumed.
    bool stopSeen(const std::atomic<bool>& flag);

private:
    class GatedReporter : public JobReporter {
    public:
        GatedReporter(JobReporter& page, PauseGate& gate) : page_(page), gate_(gate) {}
        void setStatusText(std::string_view text) override;
        void setDetailText(std::string_view text) override;
        void setProgressRange(std::int32_t low, std::int32_t high) override;
        void setProgressPos(std::int32_t position) override;
        MessageResult showMessage(std::string_view text, MessageIcon icon, MessageButtons buttons) override;

    private:
        JobReporter& page_;
        PauseGate& gate_;
    };

    PauseGate& gate_;
    GatedReporter gated_;
};

// Runs one job at a time on a worker thread, with Pause and Resume.
class JobRunner {
public:
    using Procedure = std::function<void(JobContext&)>;

    explicit JobRunner(JobReporter& page);
    ~JobRunner();
    JobRunner(const JobRunner&) = delete;
    JobRunner& operator=(const JobRunner&) = delete;

    // False when a job is still running.
    bool start(Procedure procedure);

    // Pause and Resume do nothing when no job was started.
    void pause();
    void resume();

    [[nodiscard]] bool running() const { return running_.load(); }
    void join();

    PauseGate& gate() { return gate_; }

private:
    JobReporter& page_;
    PauseGate gate_;
    std::atomic<bool> running_{false};
    bool started_ = false;
    std::jthread worker_;
};

} // namespace qis
