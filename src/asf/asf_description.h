#pragma once
// Every value of an ASF header that a script may want, typed: the file properties, each stream's
// format, the descriptions, the bitrate records and the codec list, read by walking the header's
// objects (the header extension's too). Unlike TASF it keeps every entry, not the first ten, and
// the raw numbers rather than display texts; structured output (qor-cli info --json) is built
// from it.
//
// Every read stays inside the block given; an object whose declared size leaves the block ends
// the walk with what was read before it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qor {

struct AsfStreamDescription {
  uint8_t number = 0;         // 7-bit
  std::string type;           // "audio", "video", "command" or "other"
  bool encrypted = false;     // flags bit 15
  bool errorCorrected = false;  // an error correction other than none (audio spread)
  uint32_t codecTag = 0;      // audio: the format tag; video: the compression four-character code
  uint32_t bitrate = 0;       // bits per second (records, extended properties, format); 0: unknown
  uint32_t width = 0, height = 0;  // video
  uint16_t bitsPerPixel = 0;       // video
  uint32_t sampleRate = 0;         // audio
  uint16_t channels = 0, bitsPerSample = 0, blockAlign = 0;  // audio
  std::string language;            // from the Language List; empty when none is named
  std::string name;                // the first stream name of its extended properties
  int32_t group = -1;              // mutual-exclusion group from 0; -1: in none
  double averageFrameTime = 0;     // seconds, from the extended properties; 0: unknown
};

// One Extended Content Description entry. type: 0 text, 1 bytes, 2 bool, 3 32-bit, 4 64-bit,
// 5 16-bit, 6 GUID; text holds a text value (and a GUID in its usual form), number the others.
struct AsfExtendedEntry {
  std::string name;
  uint16_t type = 0;
  std::string text;
  uint64_t number = 0;
  uint32_t size = 0;  // the value's length in bytes
};

struct AsfCodecEntry {
  std::string type;  // "video", "audio" or "unknown"
  std::string name, description;
  std::vector<uint8_t> information;
};

struct AsfBitrateRecord {
  uint8_t stream = 0;
  uint32_t averageBitrate = 0;
};

struct AsfDescription {
  bool fileProperties = false;  // false: no File Properties Object (the fields below are 0)
  uint64_t fileSize = 0;        // as the header gives it
  uint64_t creationTime = 0;    // FILETIME; 0: not given
  uint64_t dataPackets = 0;     // File Properties
  uint64_t playDuration = 0;    // 100-ns units
  uint64_t sendDuration = 0;    // 100-ns units
  uint64_t preroll = 0;         // milliseconds
  bool broadcast = false, seekable = false;
  uint32_t minPacketSize = 0, maxPacketSize = 0, maxBitrate = 0;

  uint64_t headerObjectSize = 0;  // the Header Object's declared size
  bool dataObject = false;        // the Data Object's header follows the Header Object
  uint64_t dataObjectSize = 0;    // its declared size (0 while a stream is being written)
  uint64_t totalDataPackets = 0;  // Data Object

  std::string title, author, copyright, description, rating;
  std::vector<AsfExtendedEntry> extended;
  std::vector<AsfStreamDescription> streams;  // header order
  std::vector<AsfBitrateRecord> bitrateRecords;
  std::vector<AsfCodecEntry> codecs;
};

// False when the block does not start with a Header Object.
bool DescribeAsfHeader(const uint8_t* block, size_t length, AsfDescription& out);

// A Simple Index Object: the packet to start from for each interval of the presentation.
struct AsfSimpleIndex {
  uint64_t interval = 0;  // 100-ns units
  uint32_t maxPacketCount = 0;
  struct Entry {
    uint32_t packet = 0;
    uint16_t packetCount = 0;
  };
  std::vector<Entry> entries;
};

// Parses one whole Simple Index Object (GUID first); entries beyond the block are not read.
std::optional<AsfSimpleIndex> ParseSimpleIndex(const uint8_t* object, size_t length);

// "2026-12-08T07:00:00Z" of a FILETIME; empty when it lies outside years 1601 to 9999.
std::string FileTimeIso8601(uint64_t fileTime);

// The name scripts know a codec by (as ffprobe names it), from the stream type and codec tag;
// the tag in lower case for an unknown video code, empty for an unknown audio tag.
std::string CodecNameOf(const AsfStreamDescription& stream);

}  // namespace qor
