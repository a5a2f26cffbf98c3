#pragma once
// The packets one client gets, in order, ready to send: from a pre-recorded file (from a start
// packet to its end) or from a live channel (from the current packet on, with the entry changes
// between files). Each packet carries the point of the feed's timeline at which it is due.

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>

#include "live_channel.h"
#include "media_source.h"
#include "stream_filter.h"
#include "wire.h"

namespace qor::server {

struct FeedItem {
  enum class Kind { kPacket, kEntryChange, kEnd };
  Kind kind = Kind::kEnd;
  Bytes bytes;  // the packet, or the next entry's header
  uint32_t locationId = 0;
  uint64_t scheduleMs = 0;
};

class PacketFeed {
 public:
  PacketFeed(std::shared_ptr<const MediaSource> media, uint64_t firstPacket, bool strip);
  PacketFeed(std::shared_ptr<const LiveChannel> live, bool strip);

  bool Live() const { return live_ != nullptr; }
  // The header the client is given first (the live one marked as a broadcast).
  const Bytes& Header() const;
  // A live feed's header of the play list entry before the current one (its own when alone).
  const Bytes& PreviousEntryHeader() const;
  uint32_t PacketSize() const;
  uint64_t StartScheduleMs() const { return startScheduleMs_; }
  // With a choice, only the chosen streams' payloads are sent, packed again into full packets
  // numbered on without gaps (the client counts them), each due when its first payload was.
  // A choice holds for the entries whose streams are the ones it named; an entry with other
  // streams (a live play list moved on between the client's describe and its play request, or
  // later) goes whole, as the client never chose among its streams.
  void Choose(const StreamChoice& choice);
  // The choice holds, by stream number, for every entry (its other streams are not sent).
  void KeepChoiceForEveryEntry() { sticky_ = true; }
  FeedItem Next();
  // What the packets handed out so far carried, per stream.
  const StreamCounts& Counts() const { return counts_; }

 private:
  FeedItem Prepare(const uint8_t* packet, uint32_t size, uint32_t delta, uint32_t locationId,
                   uint64_t scheduleMs) const;
  FeedItem NextWhole();
  FeedItem NextChosen();
  // Queued payloads of the chosen streams, each with what its packet said.
  struct Queued {
    PacketParts::Payload payload;
    Bytes ecc;
    uint8_t propertyFlags = 0;
    uint8_t times[6] = {};
    uint64_t scheduleMs = 0;
    uint32_t locationId = 0;
    uint32_t packetSize = 0;  // of its entry (a live play list's entries may differ)
  };
  size_t QueuedBytes() const;
  FeedItem TakePacket();
  void Count(const Bytes& packet);
  // The choice asked for, as it applies to the entry the feed is on.
  void FitChoice();

  std::shared_ptr<const MediaSource> media_;
  std::shared_ptr<const LiveChannel> live_;
  bool strip_;
  uint64_t next_ = 0;
  LiveChannel::Cursor cursor_;
  bool started_ = false;
  uint64_t startScheduleMs_ = 0;
  StreamChoice asked_;
  StreamChoice choice_;  // in force: empty when the entry goes whole
  bool sticky_ = false;
  StreamCounts counts_;
  PacketParts counted_;  // the last packet walked for counting, kept for its storage
  std::deque<Queued> queue_;
  std::optional<FeedItem> held_;  // the item that follows the queued payloads
  bool numbered_ = false;
  uint32_t nextLocationId_ = 0;
};

}  // namespace qor::server
