#include "images/qcow2/Qcow2Backing.h"

namespace qis::qcow2 {

std::filesystem::path backingPath(const std::filesystem::path& image, const std::string& name)
{
    const std::filesystem::path folder = image.parent_path();
    const std::filesystem::path given(name);
    bool climbs = given.is_absolute() || given.has_root_name();
    for (const auto& part : given)
        if (part == "..")
            climbs = true;
    if (!climbs)
        return folder / given;
    return folder / given.filename();
}

} // namespace qis::qcow2
