#pragma once
// What an MMS server sends a client that records a clip over TCP, unit by unit, built with the
// reference server's own message builders from a real sample file: the replies in the order the
// client's commands ask for them, the header, the media packets and the end. A test edits the
// units (the way a misbehaving server would), feeds them to an MmsProtocol over a ScriptedPort
// and looks at what came out: the posts, the commands sent, the state and the file.

#include <cstdint>
#include <string>
#include <vector>

#include "session/session_test_support.h"

namespace qor::testing {

using Unit = std::vector<uint8_t>;

struct MmsScript {
  AsfLayout clip;
  std::vector<uint8_t> header;  // Header Object + the first 50 bytes of the Data Object
  std::vector<Unit> units;

  // The conversation for the sample media name, the header in `pieces` units.
  static MmsScript ForClip(const std::string& sampleName, int pieces = 1);
  // A server reply: id, result code, second word, then fields (from offset 48).
  static Unit Reply(uint16_t id, uint32_t result, uint32_t second,
                    const std::vector<uint8_t>& fields = {});
  static Unit Media(uint32_t location, const std::vector<uint8_t>& packet, uint8_t flags = 0);
  static bool IsCommand(const Unit& unit) { return unit.size() >= 40 && unit[12] == 'M'; }
  static bool IsMedia(const Unit& unit) {
    return !IsCommand(unit) && unit.size() > 4 && unit[4] == 4;
  }
  static uint8_t Id(const Unit& unit) { return IsCommand(unit) ? unit[36] : 0; }
  static void Store16(Unit& unit, size_t at, uint16_t value);
  static void Store32(Unit& unit, size_t at, uint32_t value);

  // The index of the first unit that is command id, or of the n-th media packet (from 0).
  size_t Find(uint8_t id) const;
  size_t FindMedia(size_t n) const;
  // All units as one byte stream.
  std::string Bytes() const;
};

// The command ids of every whole command in a client's byte stream, in order.
std::vector<uint16_t> ClientCommandIds(const std::string& sent);
// The 32-bit word at offset of the last client command with id (0 when none).
uint32_t LastCommandWord(const std::string& sent, uint16_t id, size_t offset);

}  // namespace qor::testing
