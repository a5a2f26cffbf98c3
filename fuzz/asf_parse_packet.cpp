// Data packets: the read walk, the shifting walk, and the read-only form, on the same bytes.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "asf/asf.h"
#include "support/message_queue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qor::TMessageClass queue;
  qor::TASF asf;
  asf.Messages = &queue;
  int32_t base = 0;
  if (size >= 4) {
    std::memcpy(&base, data, 4);
    data += 4;
    size -= 4;
  }
  std::vector<uint8_t> packet(data, data + size);
  uint32_t sendTime = 0;
  uint16_t duration = 0;
  bool keyFrame = false;
  const bool read =
      asf.ParsePacket(packet.data(), packet.size(), sendTime, duration, 0, false, keyFrame);
  qor::AsfPacketTimes times;
  if (qor::ReadAsfPacketTimes(packet.data(), packet.size(), times) != read) __builtin_trap();
  const bool shifted =
      asf.ParsePacket(packet.data(), packet.size(), sendTime, duration, base, true, keyFrame);
  // Shifting changes times only, never the packet's structure.
  if (shifted != read) __builtin_trap();
  queue.Clear();
  return 0;
}
