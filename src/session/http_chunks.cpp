// The chunks of an HTTP stream ($H header pieces, $D packets, $E end, $C change of entry), taken
// by the loop on the session thread.

#include <algorithm>
#include <cstdio>

#include "asf/asf.h"
#include "session/http_protocol.h"
#include "session/media_packet_path.h"
#include "session/session_input.h"
#include "support/helper.h"

namespace qor {

namespace {

constexpr uint16_t kHeaderChunk = 0x4824;
constexpr uint16_t kDataChunk = 0x4424;
constexpr uint16_t kEndChunk = 0x4524;
constexpr uint16_t kChangeChunk = 0x4324;
constexpr uint32_t kExtensionLength = 8;
constexpr uint32_t kMaxPacketSize = 1000000;
constexpr size_t kChunkBufferSize = 65536;
// A play list that keeps moving on is followed this many times, then recorded as it comes.
constexpr int kMaxAsksAgain = 3;

std::vector<uint16_t> StreamNumbersOf(const TASF& asf) {
  const uint32_t count = std::min<uint32_t>(asf.StreamCount, kAsfSlots);
  return std::vector<uint16_t>(asf.StreamNumbers, asf.StreamNumbers + count);
}

uint16_t U16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

void HttpProtocol::UnknownChunk(uint16_t type, uint16_t length) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(type));
  port_.Post("The current HTTP command failed - Closing now", mcMedia);
  port_.Post(
      std::string("Unknown command reads: ") + hex + "  of length: " + THelper::IntText(length),
      mcFatal);
  port_.Terminate();
}

bool HttpProtocol::HandleChunk() {
  TCB& ring = port_.Input().Ring();
  uint8_t head[4];
  int32_t count = 4;
  if (has_sniffed_head_) {
    std::copy(sniffed_head_, sniffed_head_ + 4, head);
    has_sniffed_head_ = false;
  } else {
    ring.Read(head, count);
  }
  // A server marks a burst by setting the top bit of the '$'.
  if (head[0] == 0xA4) head[0] = 0x24;
  const uint16_t type = U16(head);
  const uint16_t length = U16(head + 2);
  switch (type) {
    case kHeaderChunk:
    case kDataChunk: {
      if (!port_.Input().WaitForBytes(length)) return false;
      port_.Input().NoteProgress();
      if (buffer_.size() < kChunkBufferSize) buffer_.resize(kChunkBufferSize);
      count = length;
      ring.Read(buffer_.data(), count);
      // The extension must be there and must agree with the chunk about the packet's length.
      if (length < kExtensionLength || U16(buffer_.data() + 6) != length) {
        UnknownChunk(type, length);
        return false;
      }
      return type == kHeaderChunk ? HandleHeaderChunk(buffer_.data(), length)
                                  : HandleDataChunk(buffer_.data(), length);
    }
    case kEndChunk:
    case kChangeChunk:
      return HandleEndOrChange(type);
    default:
      UnknownChunk(type, length);
      return false;
  }
}

bool HttpProtocol::HandleEndOrChange(uint16_t type) {
  uint8_t reason[4];
  if (!port_.Input().WaitForBytes(4)) return false;
  int32_t count = 4;
  port_.Input().Ring().Read(reason, count);
  MediaPacketPath& media = port_.Media();
  const bool resuming = port_.Config().Resuming();
  if (type == kChangeChunk && media.StartedByChange() && !media.AnyWritten()) {
    // Started by a change, this session joined the ended entry's tail: the entry it is for
    // begins now, and its header replaces the one in the file.
    media.DropHeader();
    Enter(State::kHeaderAgain);
    return true;
  }
  if (type == kEndChunk && U32(reason) == 1) {
    // Only the end of a play-list entry: the change that follows reports the new track.
    return true;
  }
  port_.Input().MarkEndPosted();
  if (type == kChangeChunk) {
    media.EntryEnded();
    port_.Post("", mcNewTrack);
    Enter(State::kTrackChanged);
  } else if (!media.AnyWritten() && !resuming) {
    // A stream that ends with nothing saved is no recording.
    port_.Post(kNothingReceived, mcFatal);
    Enter(State::kEnded);
  } else {
    // A failed write of what was gathered ends the download as a failure instead.
    if (!media.Flush()) return false;
    port_.Post("", mcCompleted);
    Enter(State::kEnded);
  }
  return true;
}

bool HttpProtocol::HandleHeaderChunk(const uint8_t* body, uint16_t length) {
  MediaPacketPath& media = port_.Media();
  switch (media.CollectHeader(body + kExtensionLength, length - kExtensionLength, body[5])) {
    case HeaderCollector::Step::More:
      return true;
    case HeaderCollector::Step::TooLarge:
    case HeaderCollector::Step::Malformed:
      port_.Terminate();
      return false;
    case HeaderCollector::Step::WriteFailed:
      return true;
    case HeaderCollector::Step::Complete:
      break;
  }
  const auto headerLength = static_cast<uint32_t>(media.Header().Length());
  const int32_t kind = port_.Counters().StreamKind.load();
  if (kind != skUnknown && state_.load() == State::kHeaderAgain) {
    Enter(State::kChunks);
    if (media.AdoptHeader()) return true;
    port_.Terminate();
    return false;
  }
  if (kind == skLive && !port_.Config().Resuming() && !media.KeptHeaderIs(media.Header())) {
    // A play list that moved on between the describe and the play request answers the play with
    // the next entry's header: the file is that entry's. The streams asked for were the other
    // header's, which a server may hold to: ask again with this one's.
    const std::vector<uint16_t> asked = StreamNumbersOf(port_.Asf());
    if (!media.AdoptHeader(true)) {
      port_.Terminate();
      return false;
    }
    if (StreamNumbersOf(port_.Asf()) != asked && asks_again_ < kMaxAsksAgain) {
      ++asks_again_;
      port_.Post("- The stream's header changed since it was asked for: asking again", mcNormal);
      port_.Input().ExpectNewConnection();
      ConnectAgain();
    }
    return true;
  }
  if (kind != skUnknown) {
    // The header again, on the play connection: it is the one at the start of the file now.
    media.RelayOut(headerLength);
    media.DropHeader();
    return true;
  }
  return TakeFirstHeader();
}

bool HttpProtocol::TakeFirstHeader() {
  MediaPacketPath& media = port_.Media();
  if (!media.ReadHeader()) return true;  // posted (8): the window ends the session
  const TASF& asf = port_.Asf();
  if (asf.PacketSize < 1 || asf.PacketSize > kMaxPacketSize) {
    media.DropHeader();
    port_.Post("TMMS: invalid packet size from server", mcFatal);
    port_.Terminate();
    return false;
  }
  media.KeepHeader(asf.PacketSize);
  SessionCounters& counters = port_.Counters();
  port_.Input().MarkHeaderComplete();
  port_.Post("- Data extracted ok, receiving streams...", mcNotice | mcStarted);
  counters.PacketSize = asf.PacketSize;
  counters.StreamKind = (asf.FileFlags & ffBroadcast) ? skLive : skPrerecorded;
  ConnectAgain();
  return true;
}

bool HttpProtocol::HandleDataChunk(uint8_t* body, uint16_t length) {
  MediaPacketPath& media = port_.Media();
  if (media.PacketSize() == 0) return true;  // no header yet: nowhere to put it
  const uint32_t location = U32(body);
  if (media.StartedByChange()) {
    uint32_t lost = 0;
    const bool own = media.TakeCarried(location, lost);
    port_.Counters().LostPackets += lost;
    if (!own) return true;
  }
  if (media.Write(body + kExtensionLength, length - kExtensionLength, location, 0, body, length) ==
      MediaPacketPath::Outcome::Stop) {
    port_.Terminate();
    return false;
  }
  return true;
}

void HttpProtocol::CarryUntilStopped() {
  SessionInput& input = port_.Input();
  TCB& ring = input.Ring();
  const auto wait = [&](int32_t count) {
    for (;;) {
      const uint64_t mark = input.WakeMark();  // the stop request wakes the wait
      if (port_.Terminated()) return false;
      if (ring.Available() >= count) return true;
      ring.WaitForAvailable(count, TCB::Deadline::max(), mark);
    }
  };
  while (wait(4)) {
    uint8_t head[4];
    int32_t count = 4;
    ring.Read(head, count);
    if (head[0] == 0xA4) head[0] = 0x24;
    const uint16_t type = U16(head);
    const int32_t length = (type == kEndChunk || type == kChangeChunk) ? 4 : U16(head + 2);
    if (type != kDataChunk && type != kHeaderChunk && type != kEndChunk && type != kChangeChunk)
      break;  // not a stream any more: nothing further is worth keeping
    if (!wait(length)) return;
    if (buffer_.size() < kChunkBufferSize) buffer_.resize(kChunkBufferSize);
    count = length;
    ring.Read(buffer_.data(), count);
    if (type == kDataChunk && length >= static_cast<int32_t>(kExtensionLength) &&
        U16(buffer_.data() + 6) == length) {
      port_.Media().KeepForNextEntry(U32(buffer_.data()), buffer_.data() + kExtensionLength,
                                     static_cast<size_t>(length) - kExtensionLength);
    }
  }
  DrainUntilStopped();
}

void HttpProtocol::DrainUntilStopped() {
  SessionInput& input = port_.Input();
  TCB& ring = input.Ring();
  uint8_t scrap[4096];
  for (;;) {
    const uint64_t mark = input.WakeMark();  // the stop request wakes the wait
    if (port_.Terminated()) return;
    int32_t count = sizeof scrap;
    if (ring.Available() > 0) {
      ring.Read(scrap, count);
    } else {
      ring.WaitForAvailable(1, TCB::Deadline::max(), mark);
    }
  }
}

}  // namespace qor
