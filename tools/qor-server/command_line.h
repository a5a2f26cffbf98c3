#pragma once
// The qor-server command line.

#include <string>
#include <vector>

#include "server.h"

namespace qor::server {

enum class CommandLine { kRun, kHelp, kVersion, kError };
CommandLine ParseCommandLine(const std::vector<std::string>& args, ServerOptions& options,
                             std::string& error);
std::string UsageText();

}  // namespace qor::server
