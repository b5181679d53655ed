// Where the parent a differencing image names is looked for: its stored
// paths come from the host it was made on, often Windows.

#include "images/ParentChain.h"

#include <gtest/gtest.h>

namespace qis {
namespace {

TEST(ParentChain, StoredNamesAreLookedForBesideTheChild)
{
    const std::filesystem::path folder = "/d/vm/Snapshots";
    struct Case {
        const char* stored;
        std::vector<std::filesystem::path> places;
    };
    const Case cases[] = {
        {"base.vhdx", {"/d/vm/Snapshots/base.vhdx"}},
        {".\\base.vhdx", {"/d/vm/Snapshots/base.vhdx"}},
        {"..\\Virtual Hard Disks\\base.vhdx", {"/d/vm/Virtual Hard Disks/base.vhdx", "/d/vm/Snapshots/base.vhdx"}},
        {"C:\\VMs\\base.vhdx", {"/d/vm/Snapshots/base.vhdx"}},
        {"\\\\?\\C:\\VMs\\base.vhdx", {"/d/vm/Snapshots/base.vhdx"}},
        {"\\\\server\\share\\base.vhd", {"/d/vm/Snapshots/base.vhd"}},
        {"/srv/images/base.qcow2", {"/srv/images/base.qcow2", "/d/vm/Snapshots/base.qcow2"}},
        {"C:\\VMs\\", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parentPlaces(folder, c.stored), c.places) << c.stored;
}

} // namespace
} // namespace qis
