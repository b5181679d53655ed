#include "support/TabFields.h"

#include <sstream>

namespace qis::test {

std::vector<std::string> tabFields(const std::string& line)
{
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');)
        fields.push_back(field);
    return fields;
}

} // namespace qis::test
