#include "recovery/FolderSave.h"
