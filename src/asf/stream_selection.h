#pragma once
// Which streams of a multiple-bit-rate header to ask a server for. A header may publish the same
// content at several rates: Mutual Exclusion objects name the streams of which a player takes one,
// and the rates come from the Stream Bitrate Properties object, else from each stream's Extended
// Stream Properties, else (audio) from the byte rate of its format. Headers made without those
// objects still carry several audio and several video streams; those are taken as one group of
// each kind.
//
// Every read stays inside the header block given; a damaged object ends the walk with what was
// read before it.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qor {

enum class OfferedKind : uint8_t { kAudio, kVideo, kOther };

struct OfferedStream {
  uint8_t number = 0;  // 7-bit
  OfferedKind kind = OfferedKind::kOther;
  uint32_t bitrate = 0;  // bits per second; 0 when the header does not say
  int32_t group = -1;    // index of its mutual-exclusion group; -1: in none
};

struct StreamOffer {
  std::vector<OfferedStream> streams;  // header order
  int32_t groupCount = 0;
  bool exclusionInHeader = false;  // groups come from Mutual Exclusion objects
  const OfferedStream* Find(uint8_t number) const;
};

StreamOffer ReadStreamOffer(const uint8_t* header, size_t length);

struct StreamRequest {
  uint32_t maxRate = 0;          // bits per second the chosen streams may take together; 0: any
  bool audioOnly = false;        // no video stream
  std::vector<uint8_t> numbers;  // exactly these streams (those the header offers)
  bool Everything() const { return maxRate == 0 && !audioOnly && numbers.empty(); }
};

struct StreamSelection {
  std::vector<uint8_t> chosen;   // header order
  std::vector<uint8_t> leftOut;  // header order
  uint64_t rate = 0;             // known rates of the chosen streams together
  bool overBudget = false;       // even the lowest rates do not fit maxRate
  bool unmatched = false;        // none of the numbers asked for is offered: every stream
};

// Streams not in a group are always taken (within audioOnly). Of each group one stream: with a
// rate, the combination of the highest total that fits it (the lowest of each group when none
// does); without one, the highest rate of each group. Numbers, when given, decide alone.
StreamSelection SelectStreams(const StreamOffer& offer, const StreamRequest& request);

// Adds one to payloads[stream] for every payload of a data packet; false when the packet cannot be
// walked inside size (the payloads before the fault are counted). This is how a saved file tells
// which streams it really holds: its header describes every stream of the title.
bool CountPacketStreams(const uint8_t* packet, size_t size, std::map<uint8_t, uint64_t>& payloads);

// "2 (video, 80 kbps)" style description of the streams, for logs and reports.
std::string DescribeStreams(const StreamOffer& offer, const std::vector<uint8_t>& numbers);

}  // namespace qor
