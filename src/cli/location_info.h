#pragma once
// qor-cli info of a location: asks the server for the header alone (the describe request of HTTP
// streaming, as a download starts) through the location client of the forms, and lists the
// streams it offers with their rates, so a user can choose with --streams or --max-rate before
// recording.

#include <cstdint>
#include <string>
#include <vector>

#include "app/application.h"
#include "cli/cli_options.h"

namespace qor::cli {

// True for a location (a scheme://) rather than a file.
bool IsLocation(const std::string& text);
// The header block the server describes at the location options.file, asked with the window's
// HTTP location client (its proxy and time-outs as a download has them); false with a reason.
// mms:// locations are asked over HTTP streaming on --http-port (a server of both serves the
// same titles); rtsp://, rtspu:// and rtspt:// ones with an RTSP DESCRIBE.
bool FetchHeader(TApplication& app, const CliOptions& options, std::vector<uint8_t>& header,
                 std::string& error);
int RunLocationInfo(const CliOptions& options);

}  // namespace qor::cli
