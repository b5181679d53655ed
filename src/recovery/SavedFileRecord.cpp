#include "recovery/SavedFileRecord.h"

namespace qis {

std::string_view saveStatusText(SaveStatus status)
{
    switch (status) {
    case SaveStatus::Whole: return "whole";
    case SaveStatus::Guessed: return "guessed";
    case SaveStatus::Incomplete: return "incomplete";
    case SaveStatus::Present: return "present";
    case SaveStatus::NotWritten: break;
    }
    return "not written";
}

} // namespace qis
