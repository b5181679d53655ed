#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qis {

// What an output folder could not take, for the user: the first few files
// or folders named with the system's reason, the rest only counted, so a
// full disk under a million files gives a short message.
class WriteFailures {
public:
    static constexpr std::size_t kMostNamed = 20;

    // `what` (a file, or a folder whose `files` files were not written)
    // failed with errno `error`.
    void note(const std::string& what, int error, std::uint64_t files = 1);

    // "what: reason" for the first kMostNamed.
    [[nodiscard]] const std::vector<std::string>& named() const { return named_; }
    // Past those.
    [[nodiscard]] std::uint64_t leftOut() const { return leftOut_; }
    // `heading`, then each named line indented (after `prefix`), then
    // "and N more"; empty when nothing failed.
    [[nodiscard]] std::string text(const std::string& heading, const std::string& prefix = {}) const;

private:
    std::vector<std::string> named_;
    std::uint64_t leftOut_ = 0;
};

} // namespace qis
