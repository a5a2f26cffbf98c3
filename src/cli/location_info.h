#pragma once
// qor-cli info of a location: asks the server for the header alone (the describe request of HTTP
// streaming, as a download starts) and lists the streams it offers with their rates, so a user
// can choose with --streams or --max-rate before recording.

#include <cstdint>
#include <string>
#include <vector>

#include "cli/cli_options.h"

namespace qor::cli {

// True for a location (a scheme://) rather than a file.
bool IsLocation(const std::string& text);
// The header block the server describes at url; false with a reason. mms:// locations are asked
// over HTTP streaming on httpPort (a server of both serves the same titles).
bool FetchHeader(const std::string& url, int32_t httpPort, std::vector<uint8_t>& header,
                 std::string& error);
int RunLocationInfo(const CliOptions& options);

}  // namespace qor::cli
