#include "support/DocCarveFiles.h"

#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

namespace qis::test {

// Made once per version of the script into the fixture cache, under a
// temporary name and then renamed, as test processes run side by side: the
// first to finish wins and the others use its files.
const std::filesystem::path& docCarveFiles()
{
    namespace fs = std::filesystem;
    static const fs::path dir = [] {
        const fs::path script = fs::path(QIS_TEST_DATA_DIR).parent_path() / "fixtures" / "make-doc-carve-files.sh";
        const auto version = fs::last_write_time(script).time_since_epoch().count();
        const fs::path target = fs::path(QIS_FIXTURE_CACHE_DIR) / ("doc-carve-files-" + std::to_string(version));
        if (fs::exists(target))
            return target;
        fs::create_directories(target.parent_path());
        const fs::path partial = target.string() + ".part" + std::to_string(::getpid());
        auto r = runCommand(shellQuote(script.string()) + " " + shellQuote(partial.string()));
        EXPECT_EQ(r.exitCode, 0) << r.err;
        std::error_code ec;
        fs::rename(partial, target, ec);
        fs::remove_all(partial, ec);
        return target;
    }();
    return dir;
}

} // namespace qis::test
