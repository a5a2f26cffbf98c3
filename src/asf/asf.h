#pragma once
// TASF: the model of one ASF header (the values the rest of the program needs), the data packet
// parser with its time shift, and the operations that make a saved stream a finished, seekable
// and resumable file.
//
// Every read stays inside the bytes it is given: a header field or packet field that would lie
// beyond them is a failure, never a read past the end. Positions, sizes and products are 64-bit.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace qor {

class TMessageClass;
class FileHandle;

// Stream kinds as kept in TASF::StreamKinds.
enum StreamKindBits : uint8_t {
  skOther = 0x01,
  skAudio = 0x10,
  skVideo = 0x20,
  skCommand = 0x40,
  skErrorCorrected = 0x80,  // added to skAudio when the audio is error corrected
};

// Codec kinds as kept in TASF::CodecKinds.
enum CodecKindBits : uint32_t {
  ckUnknown = 0x01,
  ckAudio = 0x10,
  ckVideo = 0x20,
};

// TASF::FileFlags bits.
enum FileFlagBits : uint8_t {
  ffBroadcast = 0x01,  // live
  ffSeekable = 0x02,
};

// GUID prefixes (the first 6 stored bytes) by which objects are recognised.
namespace asf_guid {
using Prefix = uint8_t[6];
inline constexpr Prefix kHeaderObject = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66};
inline constexpr Prefix kDataObject = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66};
inline constexpr Prefix kHeaderExtension = {0xB5, 0x03, 0xBF, 0x5F, 0x2E, 0xA9};
inline constexpr Prefix kStreamBitrateProperties = {0xCE, 0x75, 0xF8, 0x7B, 0x8D, 0x46};
inline constexpr Prefix kStreamProperties = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9};
inline constexpr Prefix kAudioMedia = {0x40, 0x9E, 0x69, 0xF8, 0x4D, 0x5B};
inline constexpr Prefix kVideoMedia = {0xC0, 0xEF, 0x19, 0xBC, 0x4D, 0x5B};
inline constexpr Prefix kCommandMedia = {0xC0, 0xCF, 0xDA, 0x59, 0xE6, 0x59};
inline constexpr Prefix kNoErrorCorrection = {0x00, 0x57, 0xFB, 0x20, 0x55, 0x5B};
inline constexpr Prefix kFileProperties = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9};
inline constexpr Prefix kContentDescription = {0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66};
inline constexpr Prefix kExtendedContentDescription = {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3};
inline constexpr Prefix kCodecList = {0x40, 0x52, 0xD1, 0x86, 0x1D, 0x31};
// The full Simple Index Object GUID, as stored.
inline constexpr uint8_t kSimpleIndexObject[16] = {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11,
                                                   0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB};
}  // namespace asf_guid

// Bytes of the Data Object that a header block carries after the Header Object (its object header:
// GUID, size, File ID, total data packets, reserved). The first data packet follows them.
inline constexpr uint32_t kDataObjectHeaderLength = 50;
// A header block read from a file is never longer than this.
inline constexpr uint64_t kMaxHeaderLength = 64ull * 1024 * 1024;
// Entries kept of each table (streams, bitrate records, descriptors, codecs).
inline constexpr uint32_t kAsfSlots = 10;
// Length of one Simple Index Object appended by WriteIndexObject.
inline constexpr uint32_t kSimpleIndexObjectLength = 62;

// First position (from 1; position 0 is never examined) where the 6-byte prefix lies wholly inside
// block[0, length), or -1.
int64_t FindAsfPrefix(const uint8_t* block, size_t length, const uint8_t prefix[6]);

// What a reader of packets needs to know about one data packet, without changing it.
struct AsfPacketTimes {
  uint32_t sendTime = 0;  // milliseconds
  uint16_t duration = 0;  // milliseconds
  bool keyFrame = false;  // some payload's stream number byte has bit 7 set
  // Bytes of media the payloads carry (0: a packet of padding only, which holds no media).
  uint64_t payloadBytes = 0;
};
// Reads a packet's send time, duration and key-frame mark without posting anything. False when the
// packet cannot be walked inside length (the times read before the failure are kept in times).
bool ReadAsfPacketTimes(const uint8_t* packet, size_t length, AsfPacketTimes& times);
// Fills packet[0, packetSize) with a valid data packet that carries no payload, only padding, at
// sendTime: what stands in a slot whose packet never arrived, so that the packets after it keep
// their places, the file's times stay in order and every reader skips it. False when packetSize
// cannot hold one.
bool MakeAsfPaddingPacket(uint8_t* packet, size_t packetSize, uint32_t sendTime);

// What a saved file holds for a download that resumes into it.
struct AsfResumePoint {
  uint64_t headerLength = 0;  // where packet 0 starts
  uint32_t packetSize = 0;
  uint64_t packets = 0;       // slots up to and including the last packet that parses
  uint32_t lastSendTime = 0;  // of that packet, as stored
  uint32_t timeBase = 0;      // the server's time of stored time 0 (a download from an offset)
};
// Reads count bytes at offset of the saved file; the byte count read, or -1.
using AsfReadAt = std::function<int64_t(uint64_t offset, void* buffer, size_t count)>;
// Reads the file's header and walks its packet slots back from the end (a killed download leaves
// no stored timecode and may end inside a packet) to the last one that parses. False, with the
// reason in why, when there is no header or no whole packet.
bool FindAsfResumePoint(const AsfReadAt& readAt, uint64_t fileSize, AsfResumePoint& point,
                        std::string& why);
// Where in a header block the time base of a shifted download is stored, and the 8 bytes to
// store there. False when the block has no whole Data Object header.
bool AsfTimeBaseMark(const uint8_t* header, size_t length, uint64_t& at, uint8_t mark[8],
                     uint32_t base);
// True when two header blocks describe the same content: equal apart from the fields that
// finishing and the stored resume data rewrite.
bool SameAsfContent(const uint8_t* a, size_t aLength, const uint8_t* b, size_t bLength);
// True when a saved file's header (own) can describe part of the server's clip: the same content
// (SameAsfContent), and a packet count and durations that, where finishing or a checkpoint
// rewrote them, are no more than the clip's (a clip the server knows no count or length of
// leaves those unchecked). A longer clip whose start equals a shorter one is not the shorter one.
bool AsfFileIsPartOfClip(const uint8_t* own, size_t ownLength, const uint8_t* server,
                         size_t serverLength);

class TASF {
 public:
  TASF() { Reset(); }

  // Not owned; receives every failure text (code 8). May be null.
  TMessageClass* Messages = nullptr;

  // Content Description Object.
  std::string Title, Author, Copyright, Description, Rating;

  // Extended Content Description Object: ExtendedCount entries are kept (at most 10).
  uint32_t ExtendedCount = 0;
  std::string ExtendedNames[kAsfSlots];
  std::string ExtendedValues[kAsfSlots];

  // Codec List Object: CodecCount entries are kept (at most 10).
  uint32_t CodecCount = 0;
  uint32_t CodecKinds[kAsfSlots] = {};  // CodecKindBits, or 0
  std::string CodecNames[kAsfSlots];
  std::string CodecDescriptions[kAsfSlots];
  std::string CodecInformation[kAsfSlots];

  // Stream Properties Objects: StreamCount streams are kept (at most 10), in the order found.
  uint32_t StreamCount = 0;
  uint8_t StreamKinds[kAsfSlots] = {};    // StreamKindBits
  uint8_t StreamNumbers[kAsfSlots] = {};  // 7-bit
  int32_t AudioChannels[kAsfSlots] = {};
  uint32_t AudioSampleRates[kAsfSlots] = {};
  uint32_t VideoWidths[kAsfSlots] = {};
  uint32_t VideoHeights[kAsfSlots] = {};

  // File Properties creation date as text (or an error text); last write of a file that was read.
  std::string CreationText;
  std::string FileWrittenText;

  uint8_t FileFlags = 0;          // FileFlagBits
  double PlayDuration = 0;        // milliseconds
  double SendDuration = 0;        // milliseconds
  double Preroll = 0;             // milliseconds
  uint32_t MaxBitrate = 0;        // bits per second
  uint32_t PacketSize = 0;        // bytes (minimum = maximum)
  uint64_t DataPacketsCount = 0;  // File Properties
  uint64_t TotalDataPackets = 0;  // Data Object
  uint64_t FileSize = 0;          // File Properties
  // The length of the file the header was read from; 0 for a header that came from a stream.
  uint64_t FileLength = 0;
  // Length of the block parsed last; the finishing operations read this many bytes of the file.
  uint64_t HeaderLength = 0;

  // Stream Bitrate Properties Object: BitrateCount records kept (at most 10).
  uint32_t BitrateCount = 0;
  uint8_t BitrateStreamNumbers[kAsfSlots] = {};
  uint32_t AverageBitrates[kAsfSlots] = {};

  // Where the Data Object was found in the block parsed last (0 when not found). In a well-formed
  // file this is the Header Object's size, and the first data packet starts at FirstPacketOffset().
  uint64_t DataObjectOffset = 0;
  uint64_t FirstPacketOffset() const { return DataObjectOffset + kDataObjectHeaderLength; }

  // Empties every text and zeroes every number; the queue pointer is kept. Always true.
  bool Reset();

  // The window shows these on its timers while a session parses a header into this model on its
  // own thread; Reset and ParseHeader hold the same lock.
  struct Totals {
    double PlayDuration = 0;
    uint64_t TotalDataPackets = 0;
  };
  Totals ReadTotals() const;
  // A whole copy of the model taken under that lock, for a reader on another thread than the
  // parser's: it never sees a header half parsed.
  TASF Snapshot() const;

  // Parses a header block: the whole Header Object followed by (at least) the first 50 bytes of the
  // Data Object. Length 0 fails without clearing the model.
  bool ParseHeader(const uint8_t* block, size_t length);

  // Reads and parses the header of a saved file; the file is closed again before it returns.
  bool ReadHeaderFromFile(const std::string& fileName);

  // Reads the packet's send time and duration and, when shift is true, reduces every time in it by
  // base (modulo the field's width) in place. Allocates nothing and copies nothing. sendTime and
  // duration are set as soon as they are read, also when a later check fails.
  bool ParsePacket(uint8_t* packet, size_t length, uint32_t& sendTime, uint16_t& duration,
                   int32_t base, bool shift, bool& keyFrame);

  // Finishing a saved stream (in this order) and reading its resume timecode back. Each works on
  // the open file, reads its first HeaderLength bytes and writes single fields; false (with a
  // posted text, or silently on a failed seek or write) when something cannot be done.
  bool FixHeaderOnCompleted(FileHandle& file, uint64_t packetCount, uint32_t timecode);
  bool SetLastTimeCode(FileHandle& file, uint32_t timecode);
  bool WriteIndexObject(FileHandle& file);
  bool GetLastTimeCode(FileHandle& file, uint32_t& timecode);

 private:
  void Fail(const char* text);
  // The parse steps on a cleared model whose HeaderLength is set.
  bool ParseBlock(const uint8_t* block, size_t length);

  // A copy of the model gets a lock of its own.
  struct ModelLock {
    mutable std::recursive_mutex mutex;
    ModelLock() = default;
    ModelLock(const ModelLock&) {}
    ModelLock& operator=(const ModelLock&) { return *this; }
  };
  ModelLock model_lock_;
};

}  // namespace qor
