#include "cli/info_command.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>
#include <utility>
#include <vector>

#include "app/main_info_dialog.h"
#include "asf/asf.h"
#include "asf/stream_selection.h"
#include "cli/exit_status.h"
#include "cli/info_json.h"
#include "cli/location_info.h"
#include "support/message_queue.h"

namespace qor::cli {

namespace {

using Field = std::pair<const char*, const std::string*>;
using Lines = std::pair<const char*, const std::vector<std::string>*>;

struct Page {
  const char* title;
  std::vector<Field> fields;
  std::vector<Lines> lists;
};

std::vector<Page> PagesOf(const MediaInfoReport& r) {
  return {
      {"Clip",
       {{"Clip", &r.Clip},
        {"Author", &r.Author},
        {"Copyright", &r.Copyright},
        {"Rating", &r.Rating},
        {"Description", &r.Description},
        {"Site", &r.Location}},
       {}},
      {"Time/Length",
       {{"FileSize", &r.FileSize},
        {"Created 1", &r.Created_Asf},
        {"Created 2", &r.Created_File},
        {"Media Flag", &r.Flag},
        {"PlayDuration", &r.PlayDuration},
        {"SendDuration", &r.SendDuration},
        {"Pre-Roll", &r.PreRollDuration}},
       {}},
      {"Extended Data and Codecs", {}, {{"ExtContent", &r.ExtContent}, {"Codecs", &r.Codecs}}},
      {"Network",
       {{"ASFPacket", &r.ASFPacket},
        {"ASFHead", &r.ASFHead},
        {"ASFTotalPackets", &r.ASFTotalPackets},
        {"All streams max rate", &r.AllMaxBitRate}},
       {}},
      {"Stream Properties", {{"TotalStreams", &r.TotalStreams}}, {{"StreamProp", &r.StreamProp}}},
      {"MBR Properties", {}, {{"MBR", &r.MBR}}},
  };
}

// Which streams the saved packets really carry: a recording of chosen streams keeps the header
// of every stream. Empty when the packets cannot be read.
std::string RecordedStreamsText(const TASF& asf, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in || asf.PacketSize == 0) return std::string();
  in.seekg(static_cast<std::streamoff>(asf.FirstPacketOffset()));
  std::map<uint8_t, uint64_t> payloads;
  std::vector<uint8_t> packet(asf.PacketSize);
  uint64_t unreadable = 0;
  for (uint64_t i = 0; i < asf.TotalDataPackets || asf.TotalDataPackets == 0; ++i) {
    if (!in.read(reinterpret_cast<char*>(packet.data()),
                 static_cast<std::streamsize>(packet.size())))
      break;
    if (!CountPacketStreams(packet.data(), packet.size(), payloads)) ++unreadable;
  }
  std::string out = "[Recorded Streams]\n";
  std::string empty;
  for (uint32_t i = 0; i < std::min(asf.StreamCount, kAsfSlots); ++i) {
    const uint8_t number = asf.StreamNumbers[i];
    const auto it = payloads.find(number);
    if (it == payloads.end()) {
      empty += (empty.empty() ? "" : ", ") + std::to_string(number);
      continue;
    }
    out += "  Stream ID: " + std::to_string(number) + "\tPayloads: " + std::to_string(it->second) +
           "\n";
  }
  if (!empty.empty()) out += "  Described but not recorded: " + empty + "\n";
  if (unreadable) out += "  Packets not readable: " + std::to_string(unreadable) + "\n";
  return out;
}

}  // namespace

std::string InfoText(const MediaInfoReport& report) {
  std::string out;
  for (const Page& page : PagesOf(report)) {
    out += std::string("[") + page.title + "]\n";
    for (const Field& f : page.fields) out += std::string("  ") + f.first + ": " + *f.second + "\n";
    for (const Lines& l : page.lists) {
      out += std::string("  ") + l.first + ":\n";
      for (const std::string& line : *l.second) out += "    " + line + "\n";
    }
  }
  return out;
}

int RunInfo(const CliOptions& options) {
  if (IsLocation(options.file)) return RunLocationInfo(options);
  TMessageClass messages;
  TASF asf;
  asf.Messages = &messages;
  if (!asf.ReadHeaderFromFile(options.file)) {
    std::string text;
    uint32_t code = 0;
    std::string reason;
    while (messages.Take(text, code)) {
      if (!text.empty()) reason = text;
    }
    std::cerr << "qor-cli: " << options.file << ": "
              << (reason.empty() ? std::string("not a readable media file") : reason) << "\n";
    return kExitFailed;
  }
  if (options.json) {
    InfoJsonSource source;
    source.filename = options.file;
    std::vector<uint8_t> header;
    uint64_t length = 0;
    std::string why;
    AsfDescription description;
    if (!ReadFileForJson(options.file, header, source.indexes, length, why) ||
        !DescribeAsfHeader(header.data(), header.size(), description)) {
      std::cerr << "qor-cli: " << options.file << ": "
                << (why.empty() ? std::string("not a readable media file") : why) << "\n";
      return kExitFailed;
    }
    source.fileLength = length;
    std::cout << JsonText(InfoJsonOf(description, source));
    return kExitCompleted;
  }
  const MediaInfoReport report = BuildMediaInfo(asf, SessionInfoOf(nullptr, options.file));
  std::cout << InfoText(report) + RecordedStreamsText(asf, options.file);
  return kExitCompleted;
}

}  // namespace qor::cli
