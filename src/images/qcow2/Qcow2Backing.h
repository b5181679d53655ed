#pragma once

#include <filesystem>
#include <string>

namespace qis::qcow2 {

// Where the backing file an image names is looked for. The name comes from
// an untrusted image, so only the image's own folder is searched: a plain
// relative name is taken as it is, an absolute name or one that climbs out
// with ".." by its last component (the usual case of a chain copied off
// its host into one folder).
std::filesystem::path backingPath(const std::filesystem::path& image, const std::string& name);

} // namespace qis::qcow2
