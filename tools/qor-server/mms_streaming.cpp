// The media of an MMS session: the start command, then the packets paced (or batched when
// unpaced) over the TCP connection or as UDP datagrams kept for resends, and the end.

#include <algorithm>
#include <chrono>
#include <cmath>

#include "data_units.h"
#include "mms_session.h"

namespace qor::server {

bool MmsSession::OnStartPlay(const ClientCommand& command) {
  if (entry_.kind == Catalog::Kind::kMissing)
    return Reply(mms::kReportStartedPlaying, kInvalidArgument, 0);
  const double seconds = command.Double(48);
  const uint32_t location = command.Word(60);
  const uint8_t tag = Reader(command.message).U8(68);
  mediaTag_ = tag != 0 ? tag : kTagMedia;
  const bool strip = faults_.stripPadding.value_or(server_.Options().stripPadding);
  if (entry_.kind == Catalog::Kind::kStream) {
    const MediaSource& m = *entry_.media;
    uint64_t first = 0;
    if (location != 0xFFFFFFFF && location < m.PacketCount())
      first = location;
    else if (std::isfinite(seconds) && seconds > 0)
      first = m.PacketForTime(static_cast<uint32_t>(std::min(seconds * 1000.0, 4.0e9)));
    feed_.emplace(entry_.media, first, strip);
    Log("mms-play", openName_ + " from packet " + std::to_string(first));
  } else {
    if (!feed_) feed_.emplace(entry_.live, strip);
    Log("mms-play", openName_ + " live");
  }
  feed_->Choose(choice_);
  // The start command's optional fields ask for an accelerated start; MMS has no way to ask
  // for a whole clip faster than real time.
  DeliveryAsk ask;
  ask.accelBandwidth = command.Word(72);
  ask.accelDurationMs = command.Word(76);
  const bool live = entry_.kind == Catalog::Kind::kLive;
  const DeliveryGrant grant =
      GrantDelivery(ask, live, server_.Options().delivery, live ? 0 : entry_.media->BitRate());
  if (ask.Any())
    Log("delivery", (live ? "live " : "") + DeliveryText(ask, grant) +
                        " link=" + std::to_string(command.Word(80)) + "bps");
  Bytes f(16, 0);  // file id 1, then 12 zero bytes
  f[0] = 1;
  if (!Reply(mms::kReportStartedPlaying, 0, 0, f)) return false;
  playing_ = true;
  pending_.reset();
  playStart_ = Clock::now();
  pacer_.emplace(server_.RateFor(live), grant, playStart_, feed_->StartScheduleMs());
  sent_ = 0;
  return true;
}

bool MmsSession::SendDatagram(uint32_t sequence, const Bytes& datagram) {
  if (server_.Options().blockUdp) return true;
  if (faults_.dropList.count(sequence) != 0 || Chance(faults_.dropShare)) {
    Log("fault-drop", std::to_string(sequence));
    return true;
  }
  if (!heldDatagram_ && Chance(faults_.reorderShare)) {
    Log("fault-reorder", std::to_string(sequence));
    heldDatagram_ = datagram;
    return true;
  }
  server_.Udp().Send(udp_->Destination(), datagram);
  if (Chance(faults_.duplicateShare)) {
    Log("fault-duplicate", std::to_string(sequence));
    server_.Udp().Send(udp_->Destination(), datagram);
  }
  if (heldDatagram_) {
    server_.Udp().Send(udp_->Destination(), *heldDatagram_);
    heldDatagram_.reset();
  }
  return true;
}

bool MmsSession::SendMedia(const FeedItem& item) {
  const auto n = static_cast<int64_t>(sent_);
  if (faults_.disconnectAfter >= 0 && n >= faults_.disconnectAfter) {
    Log("fault-disconnect", std::to_string(sent_) + " packets");
    return false;
  }
  if (entry_.kind == Catalog::Kind::kLive && server_.LiveDropDue(playStart_, Clock::now())) {
    Log("live-drop", std::to_string(sent_) + " packets");
    return false;
  }
  if (n == faults_.trickleAfter) {
    Log("fault-trickle", std::to_string(faults_.trickleMs) + " ms a byte");
    if (!Flush()) return false;
    c_.Trickle(faults_.trickleMs);
  }
  if (faults_.stallSeconds > 0 && n == faults_.stallAfter) {
    Log("fault-stall", std::to_string(faults_.stallSeconds) + " s");
    const double seconds = faults_.stallSeconds;
    faults_.stallSeconds = 0;
    if (!Flush() || !c_.Pause(static_cast<int64_t>(seconds * 1000))) return false;
  }
  if (n == faults_.unknownTagAfter) {
    Log("fault-unknown-tag");
    if (!Send(BuildDataPacket(item.locationId, 0x03, 0, item.bytes.data(), 16))) return false;
  }
  if (n == faults_.unknownCommandAfter) {
    Log("fault-unknown-command");
    if (!Send(BuildServerCommand(0x77, 0, 0, {}, sequence_++))) return false;
  }
  const uint8_t flags = udp_ ? static_cast<uint8_t>(udpSequence_) : packetSequence_++;
  const bool badLength = n == faults_.badLengthAfter;
  if (badLength) Log("fault-bad-length");
  // The unit is built where it stays: the batch being gathered, or its UDP resend slot.
  const auto build = [&](Bytes& out) {
    const size_t at = out.size();
    AppendDataPacket(out, item.locationId, mediaTag_, flags, item.bytes.data(), item.bytes.size());
    if (badLength) StoreU16(out.data() + at + 6, 4);  // shorter than the packet's own header
  };
  ++sent_;
  if (udp_) {
    const uint32_t sequence = udpSequence_++;
    return SendDatagram(sequence, udp_->Keep(sequence, build));
  }
  if (!pacer_->Paced()) {
    build(queued_);
    return true;
  }
  Bytes unit;
  build(unit);
  return Send(unit);
}

int MmsSession::NextLookMs(int pingMs) const {
  const auto now = Clock::now();
  auto until = lastPing_ + std::chrono::milliseconds(pingMs);
  if (!playing_)
    until =
        std::min(until, lastCommand_ + std::chrono::milliseconds(server_.Options().idleTimeoutMs));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count() + 1;
  return static_cast<int>(std::clamp<int64_t>(ms, 0, INT32_MAX));
}

bool MmsSession::Pump(int& waitMs) {
  // What the batch queued goes out before anything else happens (a disconnection fault too).
  const bool pumped = PumpBatch(waitMs);
  return Flush() && pumped;
}

bool MmsSession::PumpBatch(int& waitMs) {
  for (int batch = 0; playing_ && batch < kBatch; ++batch) {
    if (!pending_) pending_ = feed_->Next();
    FeedItem& item = *pending_;
    if (item.kind == FeedItem::Kind::kEnd) {
      playing_ = false;
      pending_.reset();
      if (heldDatagram_) {
        server_.Udp().Send(udp_->Destination(), *heldDatagram_);
        heldDatagram_.reset();
      }
      Log("mms-end", std::to_string(sent_) + " packets");
      Log("streams-sent", CountsText(feed_->Counts()));
      return Reply(mms::kReportEndOfStream, 0, 0, {});
    }
    if (item.kind == FeedItem::Kind::kEntryChange) {
      Log("mms-entry-change");
      Bytes f;
      PutU32(f, 0);
      // Some clients take the next header's tag from the byte at offset 47.
      if (!Reply(mms::kReportEndOfStream, 1, 0, {}) ||
          !Reply(mms::kReportStreamChange, 0, static_cast<uint32_t>(headerTag_) << 24, f) ||
          !SendHeaderPieces(item.bytes))
        return false;
      pending_.reset();
      continue;
    }
    if (const auto due = pacer_->Due(item.scheduleMs); due && *due > Clock::now()) {
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(*due - Clock::now());
      waitMs = static_cast<int>(std::min<int64_t>(ms.count() + 1, waitMs));
      return true;
    }
    if (!SendMedia(item)) return false;
    pending_.reset();
  }
  waitMs = 0;
  return true;
}

}  // namespace qor::server
