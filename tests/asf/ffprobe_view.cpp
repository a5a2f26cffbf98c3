#include "ffprobe_view.h"

#include <cstdio>
#include <sstream>

#include "asf_files.h"

namespace qor::asf_test {

namespace {

std::string Quoted(const std::string& path) {
  std::string out = "'";
  for (char c : path) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::vector<std::string> Fields(const std::string& line, char separator) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  std::string field;
  while (std::getline(in, field, separator)) fields.push_back(field);
  return fields;
}

int64_t Millis(const std::string& seconds) {
  return static_cast<int64_t>(std::stod(seconds) * 1000 + (seconds[0] == '-' ? -0.5 : 0.5));
}

}  // namespace

std::map<std::string, std::string> ProbeFormat(const std::string& path) {
  const std::string out =
      RunCommand("ffprobe -v error -show_streams -show_format -of flat " + Quoted(path));
  std::map<std::string, std::string> values;
  std::stringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string value = line.substr(eq + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    values[line.substr(0, eq)] = value;
  }
  return values;
}

std::vector<ProbedPacket> ProbePackets(const std::string& path) {
  const std::string out = RunCommand(
      "ffprobe -v error -show_packets -show_entries packet=stream_index,pts_time,pos,flags "
      "-of csv=p=0 " +
      Quoted(path));
  std::vector<ProbedPacket> packets;
  std::stringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    const auto f = Fields(line, ',');
    if (f.size() < 4) continue;
    ProbedPacket p;
    p.stream = std::stoi(f[0]);
    p.ptsMs = f[1] == "N/A" ? -1 : Millis(f[1]);
    p.pos = f[2] == "N/A" ? -1 : std::stoll(f[2]);
    p.key = !f[3].empty() && f[3][0] == 'K';
    packets.push_back(p);
  }
  return packets;
}

std::vector<std::pair<int64_t, bool>> ProbeFramesAfterSeek(const std::string& path,
                                                           double seconds) {
  char interval[64];
  std::snprintf(interval, sizeof interval, "%.3f%%+0.1", seconds);
  const std::string out = RunCommand(
      std::string("ffprobe -v error -select_streams v:0 -read_intervals ") + interval +
      " -show_frames -show_entries frame=pts_time,key_frame -of csv=p=0 " + Quoted(path));
  std::vector<std::pair<int64_t, bool>> frames;
  std::stringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    const auto f = Fields(line, ',');
    if (f.size() < 2 || f[1] == "N/A") continue;
    frames.emplace_back(Millis(f[1]), f[0] == "1");
  }
  return frames;
}

}  // namespace qor::asf_test
