#include "platform/ProgramFolder.h"

namespace qis {

std::filesystem::path programFolder()
{
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path(".") : self.parent_path();
}

} // namespace qis
