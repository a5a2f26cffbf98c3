#include "cli/verify_command.h"

#include <sys/stat.h>

#include <cstring>
#include <iostream>

#include "cli/exit_status.h"
#include "cli/file_command_args.h"
#include "cli/info_json.h"
#include "platform/file_handle.h"

namespace qor::cli {

namespace {

using json = nlohmann::ordered_json;

double Seconds(uint64_t milliseconds) {
  return static_cast<double>(milliseconds) / 1000.0;
}
double Seconds100ns(uint64_t value) {
  return static_cast<double>(value) / 1e7;
}

json TimeOrNull(const std::optional<uint32_t>& ms) {
  return ms ? json(Seconds(*ms)) : json(nullptr);
}

const char* HoleKindName(AsfHole::Kind kind) {
  switch (kind) {
    case AsfHole::Kind::Empty:
      return "empty";
    case AsfHole::Kind::Unreadable:
      return "unreadable";
    case AsfHole::Kind::PaddingOnly:
      return "padding";
  }
  return "";
}

std::string PacketsAndTime(const AsfFileScan& scan) {
  return std::to_string(scan.slots) + (scan.slots == 1 ? " packet, " : " packets, ") +
         AsfTimeText(scan.lastSendTime);
}

}  // namespace

json VerifyJsonOf(const std::string& file, const AsfFileScan& scan) {
  json holes = json::array();
  for (const AsfHole& h : scan.holes)
    holes.push_back({{"first", h.first},
                     {"count", h.count},
                     {"kind", HoleKindName(h.kind)},
                     {"from", TimeOrNull(h.before)},
                     {"to", TimeOrNull(h.after)}});
  json gaps = json::array();
  for (const AsfTimeGap& g : scan.gaps)
    gaps.push_back({{"after_packet", g.afterPacket},
                    {"from", Seconds(g.from)},
                    {"to", Seconds(g.to)},
                    {"missing", Seconds(g.missing)}});
  json indexes = json::array();
  for (const AsfIndexCheck& i : scan.indexes)
    indexes.push_back({{"offset", i.at},
                       {"entries", i.entries},
                       {"interval", Seconds100ns(i.interval)},
                       {"problems", i.problems}});
  json findings = json::array();
  for (const AsfFinding& f : scan.findings)
    findings.push_back({{"kind", f.kind}, {"text", f.text}});
  return {
      {"file", file},
      {"status", scan.Whole() ? "whole" : "not_whole"},
      {"size", scan.fileLength},
      {"packet_size", scan.layout.packetSize},
      {"header",
       {{"file_size", scan.declaredFileSize},
        {"packets", scan.declaredPackets},
        {"play_duration", Seconds100ns(scan.declaredPlay)},
        {"send_duration", Seconds100ns(scan.declaredSend)},
        {"preroll", Seconds(scan.layout.preroll)},
        {"data_size", scan.declaredDataSize},
        {"data_packets", scan.declaredDataPackets},
        {"broadcast", scan.broadcast},
        {"seekable", scan.seekable}}},
      {"data",
       {{"first_packet_offset", scan.layout.firstPacketAt},
        {"end", scan.dataEnd},
        {"packets", scan.slots},
        {"with_media", scan.readable},
        {"torn_bytes", scan.tornBytes},
        {"after_data_bytes", scan.afterDataBytes},
        {"first_send_time", Seconds(scan.firstSendTime)},
        {"last_send_time", Seconds(scan.lastSendTime)},
        {"usual_interval", Seconds(scan.usualInterval)}}},
      {"holes", std::move(holes)},
      {"gaps", std::move(gaps)},
      {"indexes", std::move(indexes)},
      {"findings", std::move(findings)},
  };
}

std::string VerifyText(const std::string& file, const AsfFileScan& scan) {
  if (scan.Whole()) return file + ": whole: " + PacketsAndTime(scan) + "\n";
  std::string out = file + ": not whole: " + PacketsAndTime(scan) + "; " +
                    std::to_string(scan.findings.size()) +
                    (scan.findings.size() == 1 ? " finding\n" : " findings\n");
  for (const AsfFinding& f : scan.findings) out += "  - " + f.text + "\n";
  return out;
}

int RunVerify(const std::vector<std::string>& args) {
  FileCommandArgs parsed;
  const std::string error = ParseFileCommandArgs(args, {"--json"}, parsed);
  if (parsed.help) {
    std::cout << VerifyUsage();
    return kExitCompleted;
  }
  if (!error.empty()) {
    std::cerr << "qor-cli: " << error << "\nTry 'qor-cli verify --help'.\n";
    return kExitUsage;
  }
  const bool asJson = parsed.flags.count("--json") > 0;
  auto notAsf = [&](const std::string& why) {
    std::cerr << "qor-cli: " << parsed.file << ": " << why << "\n";
    if (asJson)
      std::cout << JsonText({{"file", parsed.file}, {"status", "not_asf"}, {"error", why}});
    return kExitFailed;
  };

  FileHandle file;
  if (!file.Open(parsed.file, FileHandle::Mode::OpenRead))
    return notAsf(std::string("cannot be opened: ") + std::strerror(file.LastError()));
  struct stat info {};
  if (::fstat(file.Descriptor(), &info) != 0 || !S_ISREG(info.st_mode))
    return notAsf("is not a regular file");
  const AsfReadAt readAt = [&](uint64_t at, void* buffer, size_t count) {
    return file.ReadAt(static_cast<int64_t>(at), buffer, count);
  };
  AsfFileScan scan;
  std::string why;
  if (!ScanAsfFile(readAt, static_cast<uint64_t>(info.st_size), scan, why)) return notAsf(why);
  std::cout << (asJson ? JsonText(VerifyJsonOf(parsed.file, scan)) : VerifyText(parsed.file, scan));
  return scan.Whole() ? kExitCompleted : kExitMissing;
}

std::string VerifyUsage() {
  return "Usage: qor-cli verify FILE [--json]\n"
         "\n"
         "Reads a saved file and tells whether it is whole and its header honest: the\n"
         "header's file size, packet counts and durations against the packets on disk, a\n"
         "cut last packet, packets that do not parse or carry no media (holes: where and\n"
         "how many), send-time jumps far above the stream's usual step between packets\n"
         "(lost packets: where and about how long), and each index against the packets.\n"
         "Packets are numbered from 0, as the index numbers them. Nothing is written.\n"
         "\n"
         "  --json           one JSON object: file, status (whole, not_whole or not_asf),\n"
         "                   size, packet_size, header (what it says), data (what the disk\n"
         "                   holds), holes, gaps, indexes and findings [{kind, text}]; times\n"
         "                   in seconds\n"
         "\n"
         "Exit status: 0 when the file is whole; 4 when it holds holes, lost packets, a cut\n"
         "tail or a header or index that does not match its packets ('qor-cli repair'\n"
         "mends the header, the tail and the index); 1 when it is not an ASF file that can\n"
         "be read; 2 on a usage error.\n";
}

}  // namespace qor::cli
