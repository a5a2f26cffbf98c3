#include "cli/info_json.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "asf/asf.h"

namespace qor::cli {

namespace {

using json = nlohmann::ordered_json;

double Seconds100ns(uint64_t value) {
  return static_cast<double>(value) / 1e7;
}

json NumberOrNull(uint64_t value) {
  return value == 0 ? json(nullptr) : json(value);
}

json TextOrNull(const std::string& text) {
  return text.empty() ? json(nullptr) : json(text);
}

std::string TagString(const AsfStreamDescription& s) {
  char text[16];
  if (s.type == "video") {
    std::string fourcc;
    for (int i = 0; i < 4; ++i) {
      const auto c = static_cast<unsigned char>((s.codecTag >> (8 * i)) & 0xFF);
      if (c < 0x20 || c > 0x7E) {
        std::snprintf(text, sizeof text, "0x%08x", s.codecTag);
        return text;
      }
      fourcc += static_cast<char>(c);
    }
    return fourcc;
  }
  std::snprintf(text, sizeof text, "0x%04x", s.codecTag);
  return text;
}

json StreamJson(const AsfStreamDescription& s, size_t index) {
  json j;
  j["index"] = index;
  j["number"] = s.number;
  j["codec_type"] = s.type;
  j["codec_name"] = TextOrNull(CodecNameOf(s));
  j["codec_tag"] = s.codecTag;
  j["codec_tag_string"] = s.type == "audio" || s.type == "video" ? json(TagString(s)) : json();
  j["bit_rate"] = NumberOrNull(s.bitrate);
  if (s.type == "video") {
    j["width"] = s.width;
    j["height"] = s.height;
    j["bits_per_pixel"] = s.bitsPerPixel;
    j["avg_frame_time"] = s.averageFrameTime > 0 ? json(s.averageFrameTime) : json();
  } else if (s.type == "audio") {
    j["sample_rate"] = s.sampleRate;
    j["channels"] = s.channels;
    j["bits_per_sample"] = s.bitsPerSample;
    j["block_align"] = s.blockAlign;
    j["error_correction"] = s.errorCorrected;
  }
  j["language"] = TextOrNull(s.language);
  j["name"] = TextOrNull(s.name);
  j["mbr_group"] = s.group >= 0 ? json(s.group + 1) : json();
  j["encrypted"] = s.encrypted;
  return j;
}

const char* ExtendedTypeName(uint16_t type) {
  switch (type) {
    case 0:
      return "string";
    case 1:
      return "bytes";
    case 2:
      return "bool";
    case 3:
      return "dword";
    case 4:
      return "qword";
    case 5:
      return "word";
    case 6:
      return "guid";
    default:
      return "unknown";
  }
}

json TagsJson(const AsfDescription& d) {
  json tags;
  tags["title"] = d.title;
  tags["author"] = d.author;
  tags["copyright"] = d.copyright;
  tags["description"] = d.description;
  tags["rating"] = d.rating;
  json extended = json::array();
  for (const AsfExtendedEntry& e : d.extended) {
    json entry;
    entry["name"] = e.name;
    entry["type"] = ExtendedTypeName(e.type);
    switch (e.type) {
      case 0:
      case 6:
        entry["value"] = e.text;
        break;
      case 2:
        entry["value"] = e.number != 0;
        break;
      case 3:
      case 4:
      case 5:
        entry["value"] = e.number;
        break;
      default:
        entry["value"] = nullptr;  // bytes (a picture, a key) are not text
    }
    entry["size"] = e.size;
    extended.push_back(std::move(entry));
  }
  tags["extended"] = std::move(extended);
  return tags;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

}  // namespace

json InfoJsonOf(const AsfDescription& d, const InfoJsonSource& source) {
  json format;
  if (!source.location.empty()) {
    format["location"] = source.location;
  } else {
    format["filename"] = source.filename;
  }
  format["format_name"] = "asf";
  format["nb_streams"] = d.streams.size();
  // A saved file is as long as it is; a served title as long as its header says.
  const uint64_t size = source.fileLength ? *source.fileLength : d.fileSize;
  format["size"] = NumberOrNull(size);
  format["header_file_size"] = d.fileSize;
  format["truncated"] = source.fileLength && !d.broadcast && *source.fileLength < d.fileSize;
  // What a player shows: the play duration counts the preroll, which is not presented.
  // Whole milliseconds, so that 6.046 prints as 6.046.
  const uint64_t playMs = d.playDuration / 10000;
  format["duration"] = playMs > d.preroll ? static_cast<double>(playMs - d.preroll) / 1000 : 0.0;
  format["play_duration"] = static_cast<double>(playMs) / 1000;
  format["send_duration"] = static_cast<double>(d.sendDuration / 10000) / 1000;
  format["preroll"] = static_cast<double>(d.preroll) / 1000;
  format["bit_rate"] = NumberOrNull(d.maxBitrate);
  format["packet_size"] = d.maxPacketSize;
  format["packet_size_fixed"] = d.minPacketSize == d.maxPacketSize;
  format["packet_count"] = d.dataPackets;
  format["data_object_packets"] = d.dataObject ? json(d.totalDataPackets) : json();
  format["header_size"] = d.headerObjectSize;
  format["broadcast"] = d.broadcast;
  format["seekable"] = d.seekable;
  format["creation_time"] =
      d.creationTime == 0 ? json() : TextOrNull(FileTimeIso8601(d.creationTime));

  json streams = json::array();
  for (size_t i = 0; i < d.streams.size(); ++i) streams.push_back(StreamJson(d.streams[i], i));

  json records = json::array();
  for (const AsfBitrateRecord& r : d.bitrateRecords)
    records.push_back({{"stream", r.stream}, {"bit_rate", r.averageBitrate}});

  json codecs = json::array();
  for (const AsfCodecEntry& c : d.codecs)
    codecs.push_back({{"type", c.type},
                      {"name", c.name},
                      {"description", c.description},
                      {"information", Hex(c.information)}});

  json index = json::array();
  for (const AsfSimpleIndex& x : source.indexes) {
    json entries = json::array();
    for (size_t i = 0; i < x.entries.size(); ++i)
      entries.push_back({{"time", Seconds100ns(x.interval) * static_cast<double>(i)},
                         {"packet", x.entries[i].packet},
                         {"packet_count", x.entries[i].packetCount}});
    index.push_back({{"type", "simple"},
                     {"interval", Seconds100ns(x.interval)},
                     {"max_packet_count", x.maxPacketCount},
                     {"entries", std::move(entries)}});
  }

  json out;
  out["format"] = std::move(format);
  out["streams"] = std::move(streams);
  out["tags"] = TagsJson(d);
  out["bitrate_records"] = std::move(records);
  out["codecs"] = std::move(codecs);
  out["index"] = std::move(index);
  return out;
}

bool ReadFileForJson(const std::string& path, std::vector<uint8_t>& header,
                     std::vector<AsfSimpleIndex>& indexes, uint64_t& fileLength, std::string& why) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) {
    why = "cannot be opened";
    return false;
  }
  fileLength = static_cast<uint64_t>(in.tellg());
  auto readAt = [&](uint64_t at, std::vector<uint8_t>& bytes, uint64_t count) {
    bytes.assign(static_cast<size_t>(count), 0);
    in.clear();
    in.seekg(static_cast<std::streamoff>(at));
    return static_cast<bool>(
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count)));
  };
  auto u64 = [](const std::vector<uint8_t>& b, size_t at) {
    uint64_t v = 0;
    for (size_t i = 0; i < 8; ++i) v |= static_cast<uint64_t>(b[at + i]) << (8 * i);
    return v;
  };
  std::vector<uint8_t> start;
  if (fileLength < 30 || !readAt(0, start, 30)) {
    why = "not a readable media file";
    return false;
  }
  const uint64_t headerSize = u64(start, 16);
  if (headerSize < 30 || headerSize > kMaxHeaderLength) {
    why = "not a readable media file";
    return false;
  }
  const uint64_t block = std::min<uint64_t>(headerSize + kDataObjectHeaderLength, fileLength);
  if (!readAt(0, header, block)) {
    why = "could not be read";
    return false;
  }
  // The index objects follow the Data Object; an unfinished file (size 0) has none.
  if (block < headerSize + kDataObjectHeaderLength) return true;
  const uint64_t dataSize = u64(header, static_cast<size_t>(headerSize) + 16);
  if (dataSize < kDataObjectHeaderLength || dataSize > fileLength - headerSize) return true;
  uint64_t pos = headerSize + dataSize;
  std::vector<uint8_t> object;
  while (pos + 24 <= fileLength && readAt(pos, object, 24)) {
    const uint64_t size = u64(object, 16);
    if (size < 24 || size > fileLength - pos) break;
    if (std::equal(object.begin(), object.begin() + 16, asf_guid::kSimpleIndexObject) &&
        size <= kMaxHeaderLength && readAt(pos, object, size)) {
      if (auto index = ParseSimpleIndex(object.data(), object.size())) indexes.push_back(*index);
    }
    pos += size;
  }
  return true;
}

std::string JsonText(const json& value) {
  return value.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace qor::cli
