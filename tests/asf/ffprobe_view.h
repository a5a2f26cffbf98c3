#pragma once
// What ffprobe, an independent ASF reader, makes of a file.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qor::asf_test {

// `ffprobe -show_streams -show_format -of flat`: key -> value, quotes removed
// ("streams.stream.0.width" -> "160", "format.tags.title" -> "Qor sample clip").
std::map<std::string, std::string> ProbeFormat(const std::string& path);

struct ProbedPacket {
  int stream = 0;
  int64_t ptsMs = 0;
  int64_t pos = -1;  // file offset of the data packet where the frame starts
  bool key = false;
};
// Every media packet (frame) ffprobe reads, in file order.
std::vector<ProbedPacket> ProbePackets(const std::string& path);

// Presentation times (ms) of the video frames ffprobe decodes after seeking to `seconds`
// (-read_intervals), first one first, with their key-frame marks.
std::vector<std::pair<int64_t, bool>> ProbeFramesAfterSeek(const std::string& path, double seconds);

}  // namespace qor::asf_test
