#pragma once
// qor-cli verify FILE [--json]: whether a saved file is whole and its header honest: the header's
// sizes, counts and durations against the packets on disk, packets that do not parse, holes and
// send-time jumps that mean lost packets, a cut tail, the index against the packets.

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "asf/asf_scan.h"

namespace qor::cli {

// The findings as one JSON object (status "whole" or "not_whole"), times in seconds.
nlohmann::ordered_json VerifyJsonOf(const std::string& file, const AsfFileScan& scan);
// One line of the verdict, then one line per finding.
std::string VerifyText(const std::string& file, const AsfFileScan& scan);

int RunVerify(const std::vector<std::string>& args);
std::string VerifyUsage();

}  // namespace qor::cli
