#include "session/session_test_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "asf/asf.h"

namespace qor::testing {

std::string SampleMedia(const std::string& name) {
  return std::string(QOR_SAMPLE_MEDIA_DIR) + "/" + name;
}

std::string NewTempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "qor-session-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) return "/tmp";
  return pattern;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const std::string& ServedFolder() {
  static const std::string folder = [] {
    const std::string dir = NewTempFolder();
    for (const char* name : {"clip.wmv", "audio.wma", "twovideo.asf"}) {
      std::filesystem::copy_file(SampleMedia(name), dir + "/" + name);
    }
    std::ofstream plain(dir + "/plain.wmv", std::ios::binary);
    uint32_t x = 12345;
    for (int i = 0; i < 300000; ++i) {
      x = x * 1103515245u + 12345u;
      plain.put(static_cast<char>(x >> 24));
    }
    std::ofstream(dir + "/page.html") << "<html><body>not media</body></html>";
    return dir;
  }();
  return folder;
}

bool InOrder(const std::vector<std::string>& texts, const std::vector<std::string>& wanted) {
  size_t at = 0;
  for (const std::string& w : wanted) {
    const bool prefix = !w.empty() && w.back() == '*';
    const std::string stem = prefix ? w.substr(0, w.size() - 1) : w;
    while (at < texts.size() && !(prefix ? texts[at].rfind(stem, 0) == 0 : texts[at] == stem)) ++at;
    if (at == texts.size()) return false;
    ++at;
  }
  return true;
}

std::unique_ptr<ServerProcess> StartServer(const std::vector<std::string>& extra) {
  std::vector<std::string> args{"--root", ServedFolder()};
  if (std::find(extra.begin(), extra.end(), "--rate") == extra.end()) {
    args.push_back("--rate");
    args.push_back("0");
  }
  args.insert(args.end(), extra.begin(), extra.end());
  return std::make_unique<ServerProcess>(QOR_SERVER_PROGRAM, args);
}

AsfLayout ReadAsfLayout(const std::string& path) {
  AsfLayout layout;
  const std::vector<uint8_t> bytes = ReadWholeFile(path);
  if (bytes.size() < 30) return layout;
  uint64_t objectSize = 0;
  for (int i = 0; i < 8; ++i) objectSize |= static_cast<uint64_t>(bytes[16 + i]) << (8 * i);
  if (objectSize + kDataObjectHeaderLength > bytes.size()) return layout;
  TASF asf;
  if (!asf.ParseHeader(bytes.data(), objectSize + kDataObjectHeaderLength)) return layout;
  layout.headerLength = asf.FirstPacketOffset();
  layout.packetSize = asf.PacketSize;
  layout.broadcast = (asf.FileFlags & ffBroadcast) != 0;
  layout.playDurationMs = asf.PlayDuration;
  layout.declaredPackets = asf.DataPacketsCount;
  // The Data Object's size says where the packets end when an index follows them; a recording
  // not finished yet holds more than its header counts so far.
  uint64_t dataSize = 0;
  for (int i = 0; i < 8; ++i)
    dataSize |= static_cast<uint64_t>(bytes[asf.DataObjectOffset + 16 + i]) << (8 * i);
  uint64_t end = asf.DataObjectOffset + dataSize;
  const auto* index = std::begin(asf_guid::kSimpleIndexObject);
  if (dataSize == 0 || end > bytes.size() ||
      (end + 16 <= bytes.size() && !std::equal(index, index + 16, bytes.begin() + end)))
    end = bytes.size();
  for (uint64_t at = layout.headerLength; layout.packetSize > 0 && at + layout.packetSize <= end;
       at += layout.packetSize) {
    layout.packets.emplace_back(
        bytes.begin() + static_cast<std::ptrdiff_t>(at),
        bytes.begin() + static_cast<std::ptrdiff_t>(at + layout.packetSize));
  }
  return layout;
}

namespace {
std::string Capture(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  if (::pclose(pipe) != 0) return "";
  return out;
}
}  // namespace

double FfprobeDuration(const std::string& path) {
  const std::string out = Capture("ffprobe -v error -show_entries format=duration -of csv=p=0 '" +
                                  path + "' 2>/dev/null");
  if (out.empty()) return -1;
  return std::atof(out.c_str());
}

int FfprobePacketCount(const std::string& path) {
  const std::string out =
      Capture("ffprobe -v error -show_entries packet=pts -of csv=p=0 '" + path + "' 2>/dev/null");
  if (out.empty()) return -1;
  int lines = 0;
  for (char c : out)
    if (c == '\n') ++lines;
  return lines;
}

}  // namespace qor::testing
