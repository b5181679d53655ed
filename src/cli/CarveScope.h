#pragma once

#include "cli/Arguments.h"
#include "recovery/carving/myJpg.h"

namespace qis::cli {

// carve --unallocated: reads the volume the arguments name with its file
// system's parser and gives the engine the space that file system marks
// free as the only place files may start. Returns kExitOk to go on, or the
// exit code after saying why not (a file system that cannot tell what is
// free is an error, not a silent carve of everything).
int limitToFreeSpace(const Arguments& args, myJpg& engine);

// "Scanned 12.5 MB of free space of 40.0 MB." on stdout after a carve
// limited to the free space; nothing otherwise.
void reportFreeSpaceScanned(const myJpg& engine);

} // namespace qis::cli
