#pragma once
// Structured media information for scripts: typed values with stable lower-case keys, laid out
// as `ffprobe -of json` lays out its own (format, streams, tags), plus the header's bitrate
// records, codec list and index. Built from the parsed header, never from the report's texts.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "asf/asf_description.h"

namespace qor::cli {

struct InfoJsonSource {
  std::string filename;                // a saved file, or
  std::string location;                // a served location
  std::optional<uint64_t> fileLength;  // of a saved file: its length on disk
  std::vector<AsfSimpleIndex> indexes;
};

nlohmann::ordered_json InfoJsonOf(const AsfDescription& header, const InfoJsonSource& source);

// The header block of a saved file (Header Object and the Data Object's header) and the index
// objects after its data; false with a reason when the file does not start with a header.
bool ReadFileForJson(const std::string& path, std::vector<uint8_t>& header,
                     std::vector<AsfSimpleIndex>& indexes, uint64_t& fileLength, std::string& why);

// Two-space indented, as a person can read it; UTF-8 that is not valid is replaced, not fatal.
std::string JsonText(const nlohmann::ordered_json& value);

}  // namespace qor::cli
