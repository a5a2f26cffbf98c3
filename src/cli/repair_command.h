#pragma once
// qor-cli repair FILE [--dry-run]: makes a cut, killed or unfinished recording a finished file
// without a server, and says in one line what it did (see asf/asf_repair.h).

#include <string>
#include <vector>

namespace qor::cli {

int RunRepair(const std::vector<std::string>& args);
std::string RepairUsage();

}  // namespace qor::cli
