#pragma once
// Shared pieces of the session tests: sample media, temporary folders, the real server, and
// reading the packets of saved files.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/server_process.h"

namespace qor::testing {

std::string SampleMedia(const std::string& name);
// A fresh folder for one test.
std::string NewTempFolder();
std::vector<uint8_t> ReadWholeFile(const std::string& path);

// A folder with the sample media plus "plain.wmv" (not ASF: served as a plain file, 300 000
// bytes) and "page.html" (a content type no player takes). Made once per test program.
const std::string& ServedFolder();
// Is `wanted` an ordered subsequence of `texts`? An entry ending in '*' matches by prefix.
bool InOrder(const std::vector<std::string>& texts, const std::vector<std::string>& wanted);

// A server serving ServedFolder() (--rate 0 unless extra arguments say otherwise).
std::unique_ptr<ServerProcess> StartServer(const std::vector<std::string>& extra = {});

// The header block (Header Object + first 50 bytes of the Data Object) and the packets of an ASF
// file; packets are cut at the packet size from the header. Empty when the header cannot be read.
struct AsfLayout {
  uint64_t headerLength = 0;
  uint32_t packetSize = 0;
  bool broadcast = false;
  double playDurationMs = 0;
  uint64_t declaredPackets = 0;  // File Properties
  std::vector<std::vector<uint8_t>> packets;
};
AsfLayout ReadAsfLayout(const std::string& path);

// ffprobe's duration of a file in seconds (-1 when ffprobe fails).
double FfprobeDuration(const std::string& path);
// Number of packets ffprobe can read (-1 when ffprobe fails).
int FfprobePacketCount(const std::string& path);

}  // namespace qor::testing
