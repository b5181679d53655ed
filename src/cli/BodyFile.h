#pragma once

#include "filesystems/VolumeParser.h"

#include <string>

namespace qis::cli {

// One line of the body format timeline tools read (mactime):
// MD5|name|inode|mode|UID|GID|size|atime|mtime|ctime|crtime, times in
// seconds since 1970 and 0 where the file system does not record one.
// `path` is the tree path; `md5` is "0" when the file was not hashed.
std::string bodyLine(VolumeParser& parser, EntryHandle entry, const std::string& path, const std::string& md5);

} // namespace qis::cli
