#pragma once
// A live play list: its files broadcast one after another (and again from the first) on a clock
// that starts when the server starts. Nothing runs in the background: every client computes from
// the clock where the broadcast is, joins at the current packet and walks on from there. Location
// ids and send times continue across entries as in one endless virtual file that does not start
// at 0.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media_source.h"

namespace qor::server {

class LiveChannel {
 public:
  static constexpr uint32_t kFirstLocationId = 1000;
  static constexpr uint32_t kFirstSendTimeMs = 3'600'000;

  struct Cursor {
    uint64_t cycle = 0;
    size_t entry = 0;
    uint64_t packet = 0;  // within the entry
  };

  // pace: media milliseconds the broadcast moves on per real millisecond (the server's --rate),
  // so that every client, joining whenever, finds the broadcast where the others are.
  LiveChannel(std::string name, std::vector<std::shared_ptr<const MediaSource>> entries,
              std::chrono::steady_clock::time_point start, double pace = 1.0);

  const std::string& Name() const { return name_; }
  bool Playlist() const { return entries_.size() > 1; }
  size_t EntryCount() const { return entries_.size(); }
  const MediaSource& Entry(size_t index) const { return *entries_[index]; }

  // Where the broadcast is at the given moment.
  Cursor At(std::chrono::steady_clock::time_point when) const;
  // Moves to the next packet; true when that crossed into the next entry.
  bool Advance(Cursor& cursor) const;
  // Milliseconds of the broadcast's timeline at which the packet goes out.
  uint64_t ScheduleMs(const Cursor& cursor) const;
  uint32_t LocationId(const Cursor& cursor) const;
  // Added to the packet's own times so that they continue the broadcast's timeline.
  uint32_t TimeDelta(const Cursor& cursor) const;
  uint64_t TimelineMs(std::chrono::steady_clock::time_point when) const;

 private:
  std::string name_;
  std::vector<std::shared_ptr<const MediaSource>> entries_;
  std::vector<uint64_t> entryStartMs_;
  std::vector<uint64_t> entryFirstPacket_;
  uint64_t cycleMs_ = 0;
  uint64_t cyclePackets_ = 0;
  std::chrono::steady_clock::time_point start_;
  double pace_ = 1.0;
};

}  // namespace qor::server
