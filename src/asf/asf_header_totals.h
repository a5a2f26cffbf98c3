#pragma once
// The fields of a saved file's header that describe its packets: the file size, the packet
// counts, the durations and the broadcast and seekable flags. A header as a server sends it
// describes the server's whole stream (or nothing, for a live one); these functions find those
// fields in a header block and make them describe exactly the whole packets on disk, in memory,
// so the caller writes the block back in one piece (repairing a file, or bringing a recording's
// header up to date while it grows).
//
// Objects are found by walking the Header Object's children, not by searching for a GUID: a
// field is only ever written where an object of that kind really begins.

#include <cstddef>
#include <cstdint>
#include <optional>

namespace qor {

// Where the objects that describe the packets lie in a header block (offsets from its start).
struct AsfHeaderLayout {
  uint64_t headerObjectSize = 0;  // the Data Object starts here
  uint64_t filePropertiesAt = 0;  // the File Properties Object's GUID
  uint64_t firstPacketAt = 0;     // the Data Object's header ends here
  uint32_t packetSize = 0;        // File Properties' (fixed) packet size
  uint32_t preroll = 0;           // milliseconds (low half of the 64-bit field)
};

// Finds the File Properties Object among the Header Object's children and the Data Object's
// header right after the Header Object, both whole inside [0, length). False when one of them
// is missing or cut, or the packet size is not fixed or is 0.
bool LocateAsfHeader(const uint8_t* header, size_t length, AsfHeaderLayout& layout);

// What the header is to say about the packets.
struct AsfWholePackets {
  uint64_t count = 0;         // whole packets from the first
  uint32_t lastSendTime = 0;  // milliseconds, as stored in the last of them: the durations
  uint64_t fileSize = 0;      // the file's length as the header is to give it
  bool broadcast = false;     // a live stream still growing (its sizes are then only a floor)
  bool seekable = true;
  // When set, stored where a resumed download reads its end timecode (the first 4 bytes of the
  // File Properties' and the Data Object's File ID), as finishing stores it.
  std::optional<uint32_t> resumeTimecode;
};

// Rewrites, in the header block, the fields that describe the packets: File Properties' file
// size, data packets count, play duration ((lastSendTime + preroll) x 10000), send duration
// (lastSendTime x 10000) and the broadcast and seekable flags (its other flags are kept); the
// Data Object's size (count x packet size + 50) and total data packets. The values are those
// finishing writes, so a header made here equals a finished file's (the play duration's sum is
// taken in 64 bits, where finishing's wraps past 49 days). False, with the block unchanged, when
// LocateAsfHeader fails.
bool DescribeWholePackets(uint8_t* header, size_t length, const AsfWholePackets& packets);

// What a recording's header says while the file still grows: the first `count` packets, the last
// of them sent at lastSendTime. Not a broadcast (it is a file of known length, whose duration
// readers then take from the header), seekable only when it has no video stream (a video stream
// is seeked through the index that finishing adds), and no file size: the file is longer than
// its described packets by whatever arrived since, and a reader that finds a size other than
// the file's own (by more than a twentieth, for ffmpeg) distrusts the durations too. False, with
// the block unchanged, when LocateAsfHeader fails.
bool DescribeRecordingSoFar(uint8_t* header, size_t length, uint64_t count, uint32_t lastSendTime);

}  // namespace qor
