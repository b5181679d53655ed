#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qis::cli {

// How a plain `list` prints one name of a tree path: a name is image data
// and may hold any byte, so control characters (C0, DEL and the UTF-8 of
// C1) are written as \xHH, a backslash as \\, and a "/" inside the name as
// \x2f, which keeps it apart from the "/" between names. The terminal then
// shows what is there instead of obeying it.
std::string listedName(std::string_view utf8Name);

// A path already joined with "/" (a search hit's), each part escaped as
// listedName does: control characters no longer reach the terminal, though
// a "/" inside a name cannot be told from one between names.
std::string listedJoinedPath(std::string_view path);

// A tree path as `save --path` takes it: split at each "/" that is not
// escaped, each part with the escapes of listedName undone (a backslash
// that starts none of them stands for itself). Empty parts are dropped.
std::vector<std::string> listedPathParts(std::string_view path);

} // namespace qis::cli
