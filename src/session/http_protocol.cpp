#include "session/http_protocol.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "asf/asf.h"
#include "session/carry_over.h"
#include "session/http_requests.h"
#include "session/http_response.h"
#include "session/save_file.h"
#include "session/session.h"

namespace qor {

namespace {

constexpr uint16_t kHeaderChunk = 0x4824;
constexpr uint16_t kDataChunk = 0x4424;
constexpr uint16_t kEndChunk = 0x4524;
constexpr uint16_t kChangeChunk = 0x4324;
constexpr uint32_t kExtensionLength = 8;
constexpr uint32_t kMaxPacketSize = 1000000;

uint16_t U16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

HttpProtocol::HttpProtocol(TMMS& session) : session_(session) {}

void HttpProtocol::InitFields() {
  first_sequence_ = 0;
  first_timecode_ = 0;
  last_time_ = 0;
  seen_first_data_ = false;
  ended_ = false;
  wrote_media_ = false;
  track_changed_ = false;
  carry_checked_ = false;
  replacing_header_ = false;
  highest_location_ = 0;
  progressive_position_ = 0;
}

// ---- Requests (window thread) ----

bool HttpProtocol::Send(const std::string& request) {
  return session_.SendTcp(request.data(), static_cast<int32_t>(request.size())) ==
         static_cast<int32_t>(request.size());
}

void HttpProtocol::SendRequest() {
  switch (session_.StreamKind.load()) {
    case skUnknown:
      SendDescribeRequest();
      break;
    case skPrerecorded:
      SendPrerecordedPlayRequest();
      break;
    case skLive:
      SendLivePlayRequest();
      break;
    default:
      session_.Post("HTTP: invalid stream type flag status on http startup", mcFatal);
      break;
  }
}

static HttpRequestTarget TargetOf(const TMMS& s) {
  return HttpRequestTarget{s.Host, s.Path, s.ClientGuid, s.UseProxy != 0};
}

void HttpProtocol::SendDescribeRequest() {
  Send(BuildDescribeRequest(TargetOf(session_)));
}

void HttpProtocol::SendPrerecordedPlayRequest() {
  uint32_t resumeTime = 0;
  if (session_.Resuming()) {
    if (!session_.SaveFile || !session_.SaveFile->GetLastTimeCode(*session_.Asf, resumeTime)) {
      session_.Post("HTTP: Error retrieving resume data from file", mcFatal);
      return;
    }
  }
  uint32_t start = 0;
  uint32_t context = 2;
  if (resumeTime != 0) {
    start = resumeTime;
    context = 4;
  } else if (session_.OffsetMs != 0) {
    start = session_.OffsetMs;
    context = 4;
  }
  Send(BuildPrerecordedPlayRequest(TargetOf(session_), start, context, *session_.Asf));
}

void HttpProtocol::SendLivePlayRequest() {
  if (session_.Resuming()) {
    session_.Post("HTTP: live stream detected !", mcWarning);
    session_.Post("HTTP: you cannot resume live streams, please select 'overwrite'", mcFatal);
    return;
  }
  if (session_.OffsetMs != 0) {
    session_.Post("HTTP: seeking into live streams is not allowed !", mcWarning);
    session_.Post("HTTP: please select 0 for offset time", mcFatal);
    return;
  }
  Send(BuildLivePlayRequest(TargetOf(session_), *session_.Asf));
}

// ---- Response header (window thread) ----

void HttpProtocol::ParseResponseHeader(const std::string& header) {
  session_.HeaderLines = SplitHeaderLines(header);
  const std::vector<std::string>& lines = session_.HeaderLines;
  if (lines.empty()) {
    session_.Post("HTTP: http header contains no data", mcFatal);
    session_.Terminate();
    return;
  }
  if (lines[0].find("200") == std::string::npos) {
    session_.Post(lines[0], mcFatal);
    session_.Terminate();
    return;
  }
  for (const std::string& line : lines) {
    const std::string lower = THelper::LowerCase(line);
    if (lower.find("server:") != std::string::npos) session_.ServerText = THelper::Trim(line);
    if (lower.find("content-type:") != std::string::npos) session_.ContentType = lower;
  }
  switch (ClassifyContentType(session_.ContentType)) {
    case HttpBodyKind::Chunked:
      break;
    case HttpBodyKind::PlainFile:
      session_.Progressive = 1;
      session_.StreamKind = skProgressive;
      session_.MarkMediaArrived();
      session_.Post("", mcStarted);
      session_.Post("HTTP: Media is simple progressive http downloading...", mcNotice);
      break;
    case HttpBodyKind::Unknown:
      session_.Stop();
      session_.Post("HTTP: Unknnown content type: " + session_.ContentType, mcFatal);
      break;
  }
}

// ---- The loop (session thread) ----

void HttpProtocol::RunHttpLoop() {
  first_sequence_ = 0;
  seen_first_data_ = false;
  while (!session_.Terminated()) {
    if (session_.Progressive) {
      if (!RunProgressive()) return;
    } else {
      while (session_.Ring().Available() >= 4 && !session_.Terminated()) {
        if (!HandleChunk()) return;
        if (ended_) {
          if (track_changed_) {
            CarryUntilStopped();
          } else {
            DrainUntilStopped();
          }
          return;
        }
      }
    }
    // A chunk's first four bytes, or any byte of a plain file, is what the loop can act on.
    const int32_t needed = session_.Progressive ? 1 : 4;
    if (session_.Ring().Available() < needed && !session_.FlushSaveFile()) return;
    if (!session_.Ring().WaitForAvailable(needed, TMMS::kRingWaitStep) && !session_.Watch(needed))
      return;
  }
}

bool HttpProtocol::RunProgressive() {
  // Read the end mark first: every block of the connection is in the ring before it is set.
  const bool ended = session_.ProgressiveEnded();
  TCB& ring = session_.Ring();
  while (ring.Available() > 0 && !session_.Terminated()) {
    int32_t count = -1;
    if (buffer_.size() < static_cast<size_t>(TMMS::kRingSize)) buffer_.resize(TMMS::kRingSize);
    count = ring.Available();
    ring.Read(buffer_.data(), count);
    if (count <= 0) break;
    const auto result = session_.SaveFile
                            ? session_.SaveFile->WriteAt(progressive_position_, buffer_.data(),
                                                         static_cast<size_t>(count))
                            : TSaveFile::WriteResult::Failed;
    if (result == TSaveFile::WriteResult::Failed) {
      session_.Post("Could not access local file to write data packet", mcFatal);
      session_.Terminate();
      return false;
    }
    progressive_position_ += count;
  }
  if (ended && ring.Available() == 0 && !session_.Terminated()) {
    session_.MarkEndPosted();
    session_.Post("", mcCompleted);
    ended_ = true;
    DrainUntilStopped();
    return false;
  }
  return true;
}

void HttpProtocol::DrainUntilStopped() {
  TCB& ring = session_.Ring();
  uint8_t scrap[4096];
  while (!session_.Terminated()) {
    int32_t count = sizeof scrap;
    if (ring.Available() > 0) {
      ring.Read(scrap, count);
    } else {
      ring.WaitForAvailable(1, TMMS::kRingWaitStep);
    }
  }
}

void HttpProtocol::UnknownChunk(uint16_t type, uint16_t length) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(type));
  session_.Post("The current HTTP command failed - Closing now", mcMedia);
  session_.Post(
      std::string("Unknown command reads: ") + hex + "  of length: " + THelper::IntText(length),
      mcFatal);
  session_.Terminate();
}

bool HttpProtocol::HandleChunk() {
  TCB& ring = session_.Ring();
  uint8_t head[4];
  int32_t count = 4;
  ring.Read(head, count);
  // A server marks a burst by setting the top bit of the '$'.
  if (head[0] == 0xA4) head[0] = 0x24;
  const uint16_t type = U16(head);
  const uint16_t length = U16(head + 2);
  switch (type) {
    case kHeaderChunk:
    case kDataChunk: {
      if (!session_.WaitForBytes(length)) return false;
      if (buffer_.size() < 65536) buffer_.resize(65536);
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
    case kChangeChunk: {
      uint8_t reason[4];
      if (!session_.WaitForBytes(4)) return false;
      count = 4;
      ring.Read(reason, count);
      if (type == kChangeChunk && session_.PreviousEntry && !wrote_media_) {
        // Started by a change, this session joined the ended entry's tail: the entry it is for
        // begins now, and its header replaces the one in the file.
        session_.Header().Clear();
        replacing_header_ = true;
      } else if (type == kChangeChunk) {
        if (session_.NextEntry && wrote_media_)
          session_.NextEntry->SetPreviousLast(highest_location_);
        track_changed_ = true;
        session_.MarkEndPosted();
        session_.Post("", mcNewTrack);
        ended_ = true;
      } else if (U32(reason) == 1) {
        // Only the end of a play-list entry: the change that follows reports the new track.
      } else if (!wrote_media_ && !session_.Resuming()) {
        // A stream that ends with nothing saved is no recording.
        session_.MarkEndPosted();
        session_.Post(kNothingReceived, mcFatal);
        ended_ = true;
      } else {
        session_.MarkEndPosted();
        // A failed write of what was gathered ends the download as a failure instead.
        if (!session_.FlushSaveFile()) return false;
        session_.Post("", mcCompleted);
        ended_ = true;
      }
      return true;
    }
    default:
      UnknownChunk(type, length);
      return false;
  }
}

bool HttpProtocol::HandleHeaderChunk(const uint8_t* body, uint16_t length) {
  const uint8_t flags = body[5];
  const bool resuming = session_.Resuming();
  HeaderCollector& header = session_.Header();
  switch (header.Append(body + kExtensionLength, length - kExtensionLength, flags,
                        session_.SaveFile.get(), resuming)) {
    case HeaderCollector::Step::More:
      return true;
    case HeaderCollector::Step::TooLarge:
      session_.Post("- Header extraction failed, cannot continue", mcFatal);
      session_.Terminate();
      return false;
    case HeaderCollector::Step::WriteFailed:
      session_.HeaderLength = static_cast<uint32_t>(header.Length());
      header.Clear();
      session_.Post("Could not access local file to write header", mcFatal);
      return true;
    case HeaderCollector::Step::Complete:
      break;
  }
  const uint32_t headerLength = static_cast<uint32_t>(header.Length());
  session_.HeaderLength = headerLength;
  if (session_.StreamKind != skUnknown && replacing_header_) {
    replacing_header_ = false;
    TASF& next = *session_.Asf;
    if (!next.ParseHeader(header.Bytes(), header.Length()) || next.PacketSize < 1 ||
        next.PacketSize > kMaxPacketSize) {
      header.Clear();
      session_.Post("- Header extraction failed, cannot continue", mcFatal);
      session_.Terminate();
      return false;
    }
    header.Clear();
    session_.PacketSize = next.PacketSize;
    session_.Packets().SetLayout(headerLength, next.PacketSize);
    return true;
  }
  if (session_.StreamKind != skUnknown) {
    // The header again, on the play connection: it is the one at the start of the file now.
    session_.Packets().SetLayout(headerLength, session_.Packets().PacketSize());
    header.Clear();
    return true;
  }
  session_.Post(resuming ? "- Header received but not saved, resuming session"
                         : "- Header received and saving",
                mcNormal);
  session_.Post("- Extracting header object data...", mcNormal);
  TASF& asf = *session_.Asf;
  if (!asf.ParseHeader(header.Bytes(), header.Length())) {
    header.Clear();
    session_.Post("- Header extraction failed, cannot continue", mcFatal);
    return true;
  }
  header.Clear();
  if (asf.PacketSize < 1 || asf.PacketSize > kMaxPacketSize) {
    session_.Post("TMMS: invalid packet size from server", mcFatal);
    session_.Terminate();
    return false;
  }
  session_.MarkHeaderComplete();
  session_.Post("- Data extracted ok, receiving streams...", mcNotice | mcStarted);
  session_.PacketSize = asf.PacketSize;
  session_.Packets().SetLayout(headerLength, asf.PacketSize);
  session_.StreamKind = (asf.FileFlags & ffBroadcast) ? skLive : skPrerecorded;
  session_.StartTcpTransport();
  return true;
}

bool HttpProtocol::HandleDataChunk(uint8_t* body, uint16_t length) {
  if (session_.Packets().PacketSize() == 0) return true;  // no header yet: nowhere to put it
  const uint32_t locationId = U32(body);
  if (session_.PreviousEntry) {
    bool ours = true;
    if (!TakeCarriedPackets(locationId, ours)) return false;
    if (!ours) return true;
  }
  return WritePacket(body + kExtensionLength, length - kExtensionLength, locationId, body, length);
}

bool HttpProtocol::TakeCarriedPackets(uint32_t locationId, bool& ours) {
  uint32_t previous = 0;
  const bool knowPrevious = session_.PreviousEntry->PreviousLast(previous);
  ours = !(knowPrevious && locationId <= previous);
  if (!ours || carry_checked_) return true;
  carry_checked_ = true;
  std::vector<CarryOver::Packet> carried = session_.PreviousEntry->Take();
  bool any = false;
  uint32_t last = 0;
  for (CarryOver::Packet& p : carried) {
    if (p.location >= locationId) break;  // from here on this connection brings them itself
    if ((knowPrevious && p.location <= previous) || p.bytes.empty()) continue;
    if (!WritePacket(p.bytes.data(), p.bytes.size(), p.location, p.bytes.data(), p.bytes.size()))
      return false;
    any = true;
    last = p.location;
  }
  if (any && locationId > last + 1) {
    // Sent while the old connection was closing and the new one joining: nobody received them.
    const uint32_t gap = locationId - last - 1;
    session_.LostPackets += gap;
    session_.Post("Warning, packets sent while reconnecting for the next entry are missing: " +
                      THelper::IntText(gap),
                  mcWarning);
  }
  return true;
}

void HttpProtocol::CarryUntilStopped() {
  TCB& ring = session_.Ring();
  const auto wait = [&](int32_t count) {
    while (ring.Available() < count) {
      if (session_.Terminated()) return false;
      ring.WaitForAvailable(count, TMMS::kRingWaitStep);
    }
    return !session_.Terminated();
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
    if (buffer_.size() < 65536) buffer_.resize(65536);
    count = length;
    ring.Read(buffer_.data(), count);
    if (type == kDataChunk && length >= static_cast<int32_t>(kExtensionLength) &&
        U16(buffer_.data() + 6) == length && session_.NextEntry) {
      session_.NextEntry->Keep(U32(buffer_.data()), buffer_.data() + kExtensionLength,
                               static_cast<size_t>(length) - kExtensionLength);
    }
  }
  DrainUntilStopped();
}

bool HttpProtocol::WritePacket(uint8_t* payload, size_t payloadLength, uint32_t locationId,
                               const uint8_t* body, size_t bodyLength) {
  TASF& asf = *session_.Asf;
  const bool resuming = session_.Resuming();
  const auto dumpLength = static_cast<int32_t>(std::min<size_t>(bodyLength, 64));
  if (!seen_first_data_) first_sequence_ = locationId;
  uint16_t duration = 0;
  bool keyFrame = false;
  if (!asf.ParsePacket(payload, payloadLength, last_time_, duration, 0, false, keyFrame)) {
    session_.Post("ASF timecode parse failure, continuing...", mcWarning);
    session_.Post(THelper::HexDump(body, dumpLength), mcMedia);
  }
  if (!seen_first_data_) {
    first_timecode_ = last_time_;
    seen_first_data_ = true;
  }
  int64_t index = 0;
  uint32_t sendTime = 0;
  if (resuming) {
    index = locationId;
    sendTime = last_time_;
  } else {
    index = static_cast<int64_t>(locationId) - static_cast<int64_t>(first_sequence_);
    sendTime = last_time_ - first_timecode_;
    uint32_t shifted = 0;
    if (!asf.ParsePacket(payload, payloadLength, shifted, duration,
                         static_cast<int32_t>(first_timecode_), true, keyFrame)) {
      session_.Post("ASF timecode update failure, continuing...", mcWarning);
      session_.Post(THelper::HexDump(body, dumpLength), mcMedia);
    }
  }
  session_.PacketNumber = static_cast<int32_t>(index);
  session_.SendTime = sendTime;
  const auto post = [this](const std::string& text, uint32_t code) { session_.Post(text, code); };
  const auto outcome = session_.Packets().Write(session_.SaveFile.get(), resuming, payload,
                                                payloadLength, index, sendTime, post);
  if (outcome == PacketWriter::Outcome::Stop) {
    session_.Terminate();
    return false;
  }
  if (outcome == PacketWriter::Outcome::Written) {
    wrote_media_ = true;
    highest_location_ = std::max(highest_location_, locationId);
    session_.MarkMediaArrived();
  }
  return true;
}

}  // namespace qor
