#include "cli/Arguments.h"

#include "cli/Commands.h"
#include "cli/ImageOpening.h"
#include "cli/ProgressOptions.h"
#include "cli/VerbHelp.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>

namespace qis::cli {
namespace {

// The verb's own synopsis and paragraph around CLI11's table of options.
class VerbFormatter : public CLI::Formatter {
public:
    explicit VerbFormatter(const VerbHelp* verb) : verb_(verb) {}

    std::string make_usage(const CLI::App*, std::string) const override
    {
        if (!verb_)
            return {};
        return "Usage: qsalvage " + std::string(verb_->name) + " " + std::string(verb_->synopsis) + "\n";
    }

    std::string make_description(const CLI::App*) const override
    {
        return verb_ ? std::string(verb_->summary) + "\n" : std::string();
    }

    std::string make_footer(const CLI::App*) const override
    {
        if (!verb_)
            return {};
        std::string text(verb_->details);
        if (verb_->synopsis.find("VOLUME") != std::string_view::npos)
            text += (text.empty() ? "" : " ") + std::string(volumeParagraph());
        return text.empty() ? std::string() : wrap(text) + "\n";
    }

private:
    static std::string wrap(const std::string& text)
    {
        std::string out, line;
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find(' ', start);
            if (end == std::string::npos)
                end = text.size();
            std::string word = text.substr(start, end - start);
            if (!line.empty() && line.size() + 1 + word.size() > 78) {
                out += line + "\n";
                line.clear();
            }
            line += (line.empty() ? "" : " ") + word;
            start = end + 1;
        }
        return out + line + "\n";
    }

    const VerbHelp* verb_;
};

} // namespace

Arguments::Arguments(const std::string& verb, const std::vector<std::string>& words,
                     const std::vector<std::string>& valueOptions, const std::vector<std::string>& flags)
{
    const VerbHelp* help = verbHelp(verb);
    CLI::App app(help ? std::string(help->summary) : std::string(), "qsalvage " + verb);
    app.formatter(std::make_shared<VerbFormatter>(help));
    app.set_help_flag("-h,--help", "Show this help and exit");
    for (const std::string& name : valueOptions) {
        const OptionHelp h = optionHelp(verb, name);
        // Every option may be given again: the last value counts, and the
        // repeatable ones keep them all, as scripts have always relied on.
        app.add_option(name, values_[name], std::string(h.text))
            ->type_name(h.valueName.empty() ? "VALUE" : std::string(h.valueName))
            ->expected(1)
            ->allow_extra_args(false)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    }
    for (const std::string& name : flags)
        app.add_flag(name, flags_[name], std::string(optionHelp(verb, name).text));
    // Positional words one option each: a vector would read "[a,b]" as two
    // words, and a search pattern may well look like that. No verb takes
    // more than three.
    constexpr std::size_t kMostPositional = 4;
    std::string words_[kMostPositional];
    CLI::Option* positionalOptions[kMostPositional];
    for (std::size_t i = 0; i < kMostPositional; ++i)
        positionalOptions[i] = app.add_option("word" + std::to_string(i), words_[i])->group("");
    // Every verb reports progress the same way.
    int quiet = 0;
    std::string log;
    app.add_flag("--quiet", quiet, std::string(optionHelp(verb, "--quiet").text));
    app.add_option("--log", log, std::string(optionHelp(verb, "--log").text))->type_name("FILE");

    // Every verb that reads an image may be told where its parents are.
    std::vector<std::string> parents;
    if (help && help->synopsis.find("IMAGE") != std::string_view::npos)
        app.add_option("--parent", parents, std::string(optionHelp(verb, "--parent").text))
            ->type_name("PATH")
            ->expected(1)
            ->allow_extra_args(false)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);

    std::vector<std::string> reversed(words.rbegin(), words.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        exitNow_ = kExitOk;
    } catch (const CLI::ParseError& e) {
        exitNow_ = usageError(e.what());
    }
    if (std::string why; !exitNow_ && !setProgressOptions(quiet > 0, log, why)) {
        std::fprintf(stderr, "%s\n", why.c_str());
        exitNow_ = kExitFailure;
    }
    setParentImages({parents.begin(), parents.end()});
    for (std::size_t i = 0; i < kMostPositional; ++i)
        if (positionalOptions[i]->count() > 0)
            positional_.push_back(std::move(words_[i]));
    for (auto it = values_.begin(); it != values_.end();)
        it = it->second.empty() ? values_.erase(it) : std::next(it);
}

bool Arguments::flag(const std::string& name) const
{
    auto it = flags_.find(name);
    return it != flags_.end() && it->second > 0;
}

std::optional<std::string> Arguments::value(const std::string& name) const
{
    auto it = values_.find(name);
    if (it == values_.end())
        return std::nullopt;
    return it->second.back();
}

std::vector<std::string> Arguments::values(const std::string& name) const
{
    auto it = values_.find(name);
    return it == values_.end() ? std::vector<std::string>{} : it->second;
}

} // namespace qis::cli
