#include "filesystems/exfat/ExfatEntryRecord.h"
