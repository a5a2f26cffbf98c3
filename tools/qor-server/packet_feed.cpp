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

const Bytes& PacketFeed::PreviousEntryHeader() const {
  if (!live_) return media_->Header();
  const size_t count = live_->EntryCount();
  return live_->Entry((cursor_.entry + count - 1) % count).BroadcastHeader();
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
  item.locationId = locationId;
  item.scheduleMs = scheduleMs;
  return item;
}

void PacketFeed::Choose(const StreamChoice& choice) {
  asked_ = choice;
  FitChoice();
}

void PacketFeed::FitChoice() {
  choice_ = asked_;
  if (asked_.All()) return;
  const MediaSource& media = live_ ? live_->Entry(cursor_.entry) : *media_;
  std::set<uint8_t> streams;
  bool every = true;
  for (uint16_t number : media.StreamNumbers()) {
    streams.insert(static_cast<uint8_t>(number & 0x7F));
    if (!asked_.Wants(static_cast<uint8_t>(number))) every = false;
  }
  // A choice of every stream the header has is no choice: the packets go as they are. Nor is one
  // made from another header's streams (a choice read from text that named none is kept).
  const bool sameStreams = sticky_ || asked_.named.empty() || asked_.named == streams;
  if (every || !sameStreams) choice_ = {};
}

FeedItem PacketFeed::Next() {
  // Payloads queued under a choice, and the item after them, go first whatever holds now.
  const bool chosen = !choice_.All() || !queue_.empty() || held_.has_value();
  FeedItem item = chosen ? NextChosen() : NextWhole();
  if (item.kind == FeedItem::Kind::kPacket) {
    Count(item.bytes);
    if (strip_) item.bytes.resize(StripPacketPadding(item.bytes.data(), item.bytes.size()));
  }
  return item;
}

void PacketFeed::Count(const Bytes& packet) {
  if (!SplitPacket(packet.data(), packet.size(), counted_, false)) return;
  for (const auto& p : counted_.payloads) {
    StreamCount& c = counts_[p.stream];
    ++c.payloads;
    c.bytes += p.length;
  }
}

size_t PacketFeed::QueuedBytes() const {
  size_t total = 0;
  for (const Queued& q : queue_) total += q.payload.bytes.size();
  return total;
}

FeedItem PacketFeed::NextChosen() {
  for (;;) {
    // Gather until the queue holds more than one packet can take, or the run of packets ends.
    while (!held_ && (queue_.empty() || QueuedBytes() + BuiltHeaderLength(queue_.front().ecc) <=
                                            queue_.front().packetSize)) {
      FeedItem item = NextWhole();
      PacketParts parts;
      if (item.kind != FeedItem::Kind::kPacket ||
          !SplitPacket(item.bytes.data(), item.bytes.size(), parts)) {
        held_ = std::move(item);  // an unreadable packet goes as it is, in its place
        break;
      }
      for (auto& p : parts.payloads) {
        if (!choice_.Wants(p.stream)) continue;
        Queued q;
        q.payload = std::move(p);
        q.ecc = parts.ecc;
        q.propertyFlags = parts.propertyFlags;
        std::copy(parts.times, parts.times + 6, q.times);
        q.scheduleMs = item.scheduleMs;
        q.locationId = item.locationId;
        q.packetSize = PacketSize();  // the cursor is still on this packet's entry
        queue_.push_back(std::move(q));
      }
    }
    if (!queue_.empty()) {
      FeedItem item = TakePacket();
      if (!item.bytes.empty()) return item;
      queue_.pop_front();  // a payload no packet of this size can carry
      continue;
    }
    FeedItem item = std::move(*held_);
    held_.reset();
    if (item.kind == FeedItem::Kind::kPacket) {
      if (!numbered_) nextLocationId_ = item.locationId;
      numbered_ = true;
      item.locationId = nextLocationId_++;
    } else {
      numbered_ = false;  // a new entry numbers its packets afresh
    }
    return item;
  }
}

FeedItem PacketFeed::TakePacket() {
  const Queued& first = queue_.front();
  const size_t size = first.packetSize;
  std::vector<const PacketParts::Payload*> payloads;
  size_t used = BuiltHeaderLength(first.ecc);
  size_t taken = 0;
  for (const Queued& q : queue_) {
    if (q.propertyFlags != first.propertyFlags || q.ecc != first.ecc ||
        q.packetSize != first.packetSize || payloads.size() == 0x3F ||
        used + q.payload.bytes.size() > size)
      break;
    used += q.payload.bytes.size();
    payloads.push_back(&q.payload);
    ++taken;
  }
  FeedItem item;
  item.kind = FeedItem::Kind::kPacket;
  if (payloads.empty()) {
    // Too large for the multiple-payload layout: it filled its packet alone, and does so again.
    item.bytes =
        BuildSinglePayloadPacket(first.ecc, first.propertyFlags, first.times, first.payload, size);
    taken = 1;
  } else {
    item.bytes = BuildPacket(first.ecc, first.propertyFlags, first.times, payloads, size);
  }
  if (item.bytes.empty()) return item;
  item.scheduleMs = first.scheduleMs;
  if (!numbered_) nextLocationId_ = first.locationId;
  numbered_ = true;
  item.locationId = nextLocationId_++;
  queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(taken));
  return item;
}

FeedItem PacketFeed::NextWhole() {
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
    const bool filtered = !choice_.All();
    FitChoice();
    // A run of repacked packets ends here; one that begins numbers afresh from the entry's own.
    if (filtered != !choice_.All()) numbered_ = false;
    return change;
  }
  started_ = true;
  const MediaSource& media = live_->Entry(cursor_.entry);
  return Prepare(media.Packet(cursor_.packet), media.PacketSize(), live_->TimeDelta(cursor_),
                 live_->LocationId(cursor_), live_->ScheduleMs(cursor_));
}

}  // namespace qor::server
