#include "packet_feed.h"

namespace qor::server {

PacketFeed::PacketFeed(std::shared_ptr<const MediaSource> media, uint64_t firstPacket, bool strip)
    : media_(std::move(media)), strip_(strip), next_(firstPacket) {
  if (next_ < media_->PacketCount()) startScheduleMs_ = media_->SendTime(next_);
}

PacketFeed::PacketFeed(std::shared_ptr<const LiveChannel> live, bool strip)
    : live_(std::move(live)), strip_(strip) {
  cursor_ = live_->At(std::chrono::steady_clock::now());
  startScheduleMs_ = live_->ScheduleMs(cursor_);
}

const Bytes& PacketFeed::Header() const {
  return live_ ? live_->Entry(cursor_.entry).BroadcastHeader() : media_->Header();
}

uint32_t PacketFeed::PacketSize() const {
  return live_ ? live_->Entry(cursor_.entry).PacketSize() : media_->PacketSize();
}

FeedItem PacketFeed::Prepare(const uint8_t* packet, uint32_t size, uint32_t delta,
                             uint32_t locationId, uint64_t scheduleMs) const {
  FeedItem item;
  item.kind = FeedItem::Kind::kPacket;
  item.bytes.assign(packet, packet + size);
  if (delta != 0) ShiftPacketTimes(item.bytes.data(), item.bytes.size(), delta);
  if (strip_) item.bytes.resize(StripPacketPadding(item.bytes.data(), item.bytes.size()));
  item.locationId = locationId;
  item.scheduleMs = scheduleMs;
  return item;
}

FeedItem PacketFeed::Next() {
  if (!live_) {
    if (next_ >= media_->PacketCount()) return {};
    const uint64_t i = next_++;
    return Prepare(media_->Packet(i), media_->PacketSize(), 0, static_cast<uint32_t>(i),
                   media_->SendTime(i));
  }
  if (started_ && live_->Advance(cursor_)) {
    FeedItem change;
    change.kind = FeedItem::Kind::kEntryChange;
    change.bytes = live_->Entry(cursor_.entry).BroadcastHeader();
    change.scheduleMs = live_->ScheduleMs(cursor_);
    started_ = false;  // the entry's first packet comes with the next call
    return change;
  }
  started_ = true;
  const MediaSource& media = live_->Entry(cursor_.entry);
  return Prepare(media.Packet(cursor_.packet), media.PacketSize(), live_->TimeDelta(cursor_),
                 live_->LocationId(cursor_), live_->ScheduleMs(cursor_));
}

}  // namespace qor::server
