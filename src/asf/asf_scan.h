#pragma once
// Reading a saved file whole, to tell whether it is what its header says: the header, every
// packet slot on disk, a cut last packet, packets that do not parse or carry nothing, send-time
// jumps that mean packets were lost, and the index objects after the data. `qor-cli verify`
// reports what this finds and `qor-cli repair` mends what it can of it.
//
// Every read goes through the caller's reader and stays inside the bytes it returned; sizes and
// positions are 64-bit.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "asf/asf.h"
#include "asf/asf_header_totals.h"

namespace qor {

// A run of packet slots that hold no media.
struct AsfHole {
  enum class Kind : uint8_t {
    Empty,       // all zero: never written (a lost datagram, or the unwritten end of a file)
    Unreadable,  // does not parse as a data packet
    PaddingOnly  // parses, but its payloads carry no media
  };
  Kind kind = Kind::Empty;
  uint64_t first = 0;  // packet number
  uint64_t count = 0;
  // Send times of the readable packets on either side (none at the file's ends).
  std::optional<uint32_t> before, after;
};

// A jump in send times between two packets that follow each other on disk, far above the
// stream's usual interval: packets between them never reached the file.
struct AsfTimeGap {
  uint64_t afterPacket = 0;   // the packet before the jump
  uint32_t from = 0, to = 0;  // send times on both sides, milliseconds
  uint32_t missing = 0;       // to - from less one usual interval, milliseconds
};

// One Simple Index Object after the data, against the packets.
struct AsfIndexCheck {
  uint64_t at = 0;  // offset in the file
  uint64_t entries = 0;
  uint64_t interval = 0;  // 100-ns units
  std::vector<std::string> problems;
};

struct AsfFinding {
  // Stable words for scripts: torn_packet, file_size, packet_count, data_size, duration,
  // broadcast, hole, gap, index, after_data, no_packets.
  std::string kind;
  std::string text;
};

struct AsfFileScan {
  uint64_t fileLength = 0;
  std::vector<uint8_t> header;  // the Header Object and the Data Object's 50 bytes, as read
  AsfHeaderLayout layout;

  // What the header says.
  uint64_t declaredFileSize = 0, declaredPackets = 0;
  uint64_t declaredPlay = 0, declaredSend = 0;  // 100-ns units
  uint64_t declaredDataSize = 0, declaredDataPackets = 0;
  bool broadcast = false, seekable = false;

  // What the disk holds. The packets end where the Data Object says when an index (or another
  // object) follows them there; otherwise (a recording that was cut) at the end of the file.
  uint64_t dataEnd = 0;
  uint64_t slots = 0;      // whole packet slots
  uint64_t tornBytes = 0;  // bytes of a cut packet after the last whole one
  uint64_t readable = 0;   // slots that parse and carry media
  std::optional<uint64_t> lastReadable;
  uint32_t firstSendTime = 0, lastSendTime = 0;
  uint32_t usualInterval = 0;  // milliseconds: the median step between neighbouring packets
  std::vector<AsfHole> holes;
  std::vector<AsfTimeGap> gaps;
  std::vector<AsfIndexCheck> indexes;
  uint64_t afterDataBytes = 0;  // bytes after the data that are no whole object

  std::vector<AsfFinding> findings;  // empty: the file is whole and its header honest
  bool Whole() const { return findings.empty(); }
};

// Reads the file through readAt. False, with a reason in why, when it is not an ASF file this
// program can read (no Header Object, no File Properties or Data Object, no fixed packet size).
bool ScanAsfFile(const AsfReadAt& readAt, uint64_t fileLength, AsfFileScan& scan, std::string& why);

// "00:01:07.9" of a time in milliseconds (tenths truncated).
std::string AsfTimeText(uint64_t milliseconds);

}  // namespace qor
