#include "filesystems/exfat/Fat64Class.h"
