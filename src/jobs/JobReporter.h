#pragma once

#include <cstdint>
#include <string_view>

namespace qis {

inline constexpr char kProductTitle[] = "Quenmar Image Salvage v3.02";

// A count as a progress value: progress bars take 32-bit positions, so
// larger counts stop at the top.
inline constexpr std::int32_t progressValue(std::uint64_t count)
{
    return count > static_cast<std::uint64_t>(INT32_MAX) ? INT32_MAX : static_cast<std::int32_t>(count);
}

enum class MessageIcon { Information, Question };
enum class MessageButtons { Ok, YesNo };
enum class MessageResult { Ok, Yes, No };

// How a job tells its page what it is doing. Jobs call it from their worker
// thread; each call has taken effect on the page before it returns.
class JobReporter {
public:
    virtual ~JobReporter() = default;
    virtual void setStatusText(std::string_view text) = 0;
    virtual void setDetailText(std::string_view text) = 0;
    virtual void setProgressRange(std::int32_t low, std::int32_t high) = 0;
    virtual void setProgressPos(std::int32_t position) = 0;
    virtual MessageResult showMessage(std::string_view text, MessageIcon icon = MessageIcon::Information,
                                      MessageButtons buttons = MessageButtons::Ok) = 0;
};

// A reporter that drops everything (jobs run without a page, e.g. in tests).
class NullReporter : public JobReporter {
public:
    void setStatusText(std::string_view) override {}
    void setDetailText(std::string_view) override {}
    void setProgressRange(std::int32_t, std::int32_t) override {}
    void setProgressPos(std::int32_t) override {}
    MessageResult showMessage(std::string_view, MessageIcon, MessageButtons buttons) override
    {
        return buttons == MessageButtons::YesNo ? MessageResult::Yes : MessageResult::Ok;
    }
};

} // namespace qis
