#pragma once
// qor-cli info: the media information report of a saved file, as text or JSON (info_json.h).

#include <string>

#include "asf/media_info.h"
#include "cli/cli_options.h"

namespace qor::cli {

std::string InfoText(const MediaInfoReport& report);
int RunInfo(const CliOptions& options);

}  // namespace qor::cli
