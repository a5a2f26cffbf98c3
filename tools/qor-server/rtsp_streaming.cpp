// The media of an RTSP session: each ASF packet of the feed goes, in the RTP packets of the
// payload format, to the session of the stream it carries (a packet mixing streams is taken
// apart); paced or as fast as the client reads, with the end-of-stream notice, the new
// description at a live play-list change, resends for UDP and the requested faults.

#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>

#include "asf/asf.h"
#include "rtsp_description.h"
#include "rtsp_session.h"

namespace qor::server {

namespace {

constexpr int kBatch = 32;  // packets between looks at the client when unpaced
constexpr size_t kKeptForResend = 4096;
// Paced, packets due within this much go out together (and small ones share RTP packets), as
// servers send in short bursts rather than one packet at its exact moment.
constexpr int kAheadMs = 250;
constexpr int64_t kByeAfterMs = 200;

}  // namespace

void RtspSession::StartFeed(uint32_t fromMs) {
  // Padding stays unless asked off: a client that does not pad packets back needs it.
  const bool strip = faults_.stripPadding.value_or(server_.Options().stripPadding);
  feed_.reset();
  if (entry_.kind == Catalog::Kind::kLive)
    feed_.emplace(entry_.live, strip);
  else
    feed_.emplace(entry_.media, entry_.media->PacketForTime(fromMs), strip);
  StreamChoice choice;
  for (const Stream& s : streams_) choice.streams.insert(static_cast<uint8_t>(s.number & 0x7F));
  const MediaSource& media = entry_.kind == Catalog::Kind::kLive
                                 ? entry_.live->Entry(entry_.live->At(Clock::now()).entry)
                                 : *entry_.media;
  for (uint16_t n : media.StreamNumbers()) choice.named.insert(static_cast<uint8_t>(n & 0x7F));
  feed_->Choose(choice);
  next_ = feed_->Next();
  sent_ = 0;
  ended_ = false;
}

bool RtspSession::FlushBatch() {
  const bool written = batch_.empty() || c_.WriteAll(batch_.data(), batch_.size());
  batch_.clear();
  return written;
}

bool RtspSession::SendRtp(Stream& stream, Bytes&& packet) {
  uint16_t sequence = 0;
  if (ReadRtpSequence(packet, sequence)) {
    stream.sent[sequence] = packet;
    stream.sentOrder.push_back(sequence);
    if (stream.sentOrder.size() > kKeptForResend) {
      stream.sent.erase(stream.sentOrder.front());
      stream.sentOrder.pop_front();
    }
  }
  if (!stream.udp) {
    batch_.push_back('$');
    batch_.push_back(stream.channel);
    batch_.push_back(static_cast<uint8_t>(packet.size() >> 8));
    batch_.push_back(static_cast<uint8_t>(packet.size()));
    batch_.insert(batch_.end(), packet.begin(), packet.end());
    return true;
  }
  const uint64_t index = udpDatagrams_++;
  if (server_.Options().blockUdp) return true;
  if (faults_.dropList.count(static_cast<uint32_t>(index)) != 0 || Chance(faults_.dropShare)) {
    Log("fault-drop", std::to_string(sequence));
    return true;
  }
  const auto send = [&](const Bytes& datagram, const sockaddr_storage& to) {
    ::sendto(rtpSocket_.Fd(), datagram.data(), datagram.size(), MSG_NOSIGNAL,
             reinterpret_cast<const sockaddr*>(&to), AddressSize(to));
  };
  if (Chance(faults_.duplicateShare)) send(packet, stream.rtpTo);
  if (heldDatagram_) {
    send(packet, stream.rtpTo);
    send(*heldDatagram_, heldTo_);
    heldDatagram_.reset();
    return true;
  }
  if (Chance(faults_.reorderShare)) {
    heldDatagram_ = packet;
    heldTo_ = stream.rtpTo;
    return true;
  }
  send(packet, stream.rtpTo);
  return true;
}

bool RtspSession::SendRtcp(Stream& stream, const Bytes& packet) {
  if (!stream.udp) {
    batch_.push_back('$');
    batch_.push_back(static_cast<uint8_t>(stream.channel + 1));
    batch_.push_back(static_cast<uint8_t>(packet.size() >> 8));
    batch_.push_back(static_cast<uint8_t>(packet.size()));
    batch_.insert(batch_.end(), packet.begin(), packet.end());
    return true;
  }
  ::sendto(rtcpSocket_.Fd(), packet.data(), packet.size(), MSG_NOSIGNAL,
           reinterpret_cast<const sockaddr*>(&stream.rtcpTo), AddressSize(stream.rtcpTo));
  return true;
}

bool RtspSession::SendAsfPacket(const FeedItem& item) {
  // The ASF packets, each whole and in order, travel in the RTP session of the first stream set
  // up: they already hold only the streams set up, and a packet mixing streams is not torn apart
  // (the client gets the packets the server holds).
  AsfPacketInfo info;
  AsfPacketTimes times;
  ReadAsfPacketTimes(item.bytes.data(), item.bytes.size(), times);
  info.sendTime = times.sendTime;
  info.keyFrame = times.keyFrame;
  info.locationId = item.locationId;
  Stream& s = streams_.front();
  std::vector<Bytes> out;
  s.packetizer->Add(item.bytes.data(), item.bytes.size(), info, out);
  for (Bytes& p : out) SendRtp(s, std::move(p));
  return true;
}

bool RtspSession::FlushStreams() {
  std::vector<Bytes> out;
  for (Stream& s : streams_) {
    s.packetizer->Flush(out);
    for (Bytes& p : out) SendRtp(s, std::move(p));
    out.clear();
  }
  return FlushBatch();
}

bool RtspSession::EndOfStream(bool entryOnly) {
  if (!FlushStreams()) return false;
  // Over UDP the goodbye goes out on the control port and may overtake the last media datagrams;
  // a client whose jitter buffer ends at the BYE (GStreamer's) would drop them.
  if (!entryOnly && !streams_.empty() && streams_.front().udp && !c_.Pause(kByeAfterMs))
    return false;
  std::string info;
  for (Stream& s : streams_) {
    if (!entryOnly)
      SendRtcp(s, BuildRtcpGoodbye(s.packetizer->Ssrc(), s.packetizer->LastTimestamp(),
                                   s.packetizer->PacketsSent(), s.packetizer->OctetsSent()));
    if (!info.empty()) info += ", ";
    info += "url=" + s.control + ";seq=" + std::to_string(s.packetizer->NextSequence());
  }
  // A client counts a BYE from every session it set up, the retransmission one too.
  if (!entryOnly && rtx_ && rtx_->udp)
    SendRtcp(*rtx_, BuildRtcpGoodbye(rtx_->packetizer->Ssrc(), 0, 0, 0));
  if (!FlushBatch()) return false;
  if (!eosNotice_) return true;
  const std::string body = "Session: " + std::to_string(sessionId_) + "\r\nEOF: true\r\n" +
                           (entryOnly ? "End-Of-Playlist-Entry: true\r\n" : "");
  Log("rtsp-end-of-stream", entryOnly ? "entry" : "stream");
  return SendText("SET_PARAMETER " + baseUrl_ +
                  " RTSP/1.0\r\nCSeq: " + std::to_string(serverCSeq_++) +
                  "\r\nContent-Type: application/x-wms-extension-cmd\r\n"
                  "X-Notice: 2101 \"End-of-Stream Reached\"\r\nRTP-Info: " +
                  info + "\r\nX-Playlist-Gen-Id: " + std::to_string(generation_) +
                  "\r\nContent-Length: " + std::to_string(body.size()) +
                  "\r\nServer: WMServer/9.1.1.5001\r\n\r\n" + body);
}

bool RtspSession::OnEntryChange(const FeedItem& item) {
  Log("rtsp-entry-change");
  if (!EndOfStream(true)) return false;
  if (!eosNotice_) return true;  // a plain RTSP client just gets the next entry's packets
  ++generation_;
  const std::string sdp = DescriptionFor(item.bytes);
  return SendText("ANNOUNCE " + baseUrl_ + " RTSP/1.0\r\nCSeq: " + std::to_string(serverCSeq_++) +
                  "\r\nContent-Type: application/sdp\r\n" + SessionHeader() +
                  "X-Playlist-Gen-Id: " + std::to_string(generation_) +
                  "\r\nX-Broadcast-Id: 1\r\nContent-Length: " + std::to_string(sdp.size()) +
                  "\r\nServer: WMServer/9.1.1.5001\r\n\r\n" + sdp);
}

bool RtspSession::Pump(int& waitMs) {
  int n = 0;
  for (; n < kBatch && playing_; ++n) {
    if (!next_ || next_->kind == FeedItem::Kind::kEnd) {
      if (!FlushBatch()) return false;
      Log("rtsp-end", std::to_string(sent_) + " packets");
      Log("streams-sent", CountsText(feed_->Counts()));
      playing_ = false;
      ended_ = true;
      if (!EndOfStream(false)) return false;
      // A client without the end-of-stream notice learns the end over TCP from the connection's
      // close (a BYE does not reach the streams it never set up).
      const bool tcp = !streams_.front().udp;
      if (tcp && !eosNotice_) Log("rtsp-close-at-end");
      return !(tcp && !eosNotice_);
    }
    if (next_->kind == FeedItem::Kind::kEntryChange) {
      const FeedItem change = std::move(*next_);
      next_ = feed_->Next();
      if (!OnEntryChange(change)) return false;
      continue;
    }
    if (const auto due = pacer_->Due(next_->scheduleMs)) {
      const auto now = Clock::now();
      if (*due > now + std::chrono::milliseconds(kAheadMs)) {
        waitMs = std::min<int>(
            waitMs, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(
                                         *due - now - std::chrono::milliseconds(kAheadMs))
                                         .count()));
        return FlushStreams();
      }
    }
    if (faults_.disconnectAfter >= 0 && static_cast<int64_t>(sent_) >= faults_.disconnectAfter) {
      FlushStreams();
      Log("fault-disconnect", std::to_string(sent_) + " packets");
      return false;
    }
    if (entry_.kind == Catalog::Kind::kLive && server_.LiveDropDue(playStart_, Clock::now())) {
      Log("live-drop", std::to_string(sent_) + " packets");
      return false;
    }
    if (faults_.stallSeconds > 0 && static_cast<int64_t>(sent_) == faults_.stallAfter &&
        faults_.stallSeconds > 0) {
      if (!FlushStreams()) return false;
      Log("fault-stall", std::to_string(faults_.stallSeconds) + " s");
      if (!c_.Pause(static_cast<int64_t>(faults_.stallSeconds * 1000))) return false;
      faults_.stallSeconds = 0;  // once
    }
    if (static_cast<int64_t>(sent_) == faults_.unknownCommandAfter ||
        static_cast<int64_t>(sent_) == faults_.unknownTagAfter) {
      Log("fault-unknown-frame");
      const uint8_t odd[] = {'$', 0xC8, 0, 4, 1, 2, 3, 4};  // a channel nobody set up
      batch_.insert(batch_.end(), odd, odd + sizeof odd);
    }
    if (static_cast<int64_t>(sent_) == faults_.badLengthAfter) {
      Log("fault-bad-length");
      for (Stream& s : streams_) s.packetizer->LieOnce();
    }
    const FeedItem item = std::move(*next_);
    next_ = feed_->Next();
    if (!SendAsfPacket(item)) return false;
    ++sent_;
    if (batch_.size() >= 64 * 1024 && !FlushBatch()) return false;
  }
  if (!FlushStreams()) return false;
  // A whole batch went out without reaching a packet not yet due: more may be due already (a
  // faster delivery than the batch covers in one wait), so the next look comes at once.
  if (playing_ && (!pacer_->Paced() || n == kBatch)) waitMs = 0;
  return true;
}

void RtspSession::ReadRtcp() {
  uint8_t buffer[2048];
  for (;;) {
    const ssize_t n = ::recv(rtcpSocket_.Fd(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (n <= 0) return;
    bool matched = false;
    for (Stream& s : streams_) {
      const auto wanted = ReadRtcpNacks(buffer, static_cast<size_t>(n), s.packetizer->Ssrc());
      if (wanted.empty()) continue;
      matched = true;
      Resend(wanted, &s);
    }
    if (!matched && rtx_) {
      // A NACK naming the retransmission stream's source: the numbers are the media streams'.
      const auto wanted = ReadRtcpNacks(buffer, static_cast<size_t>(n), rtx_->packetizer->Ssrc());
      if (!wanted.empty()) Resend(wanted, nullptr);
    }
  }
}

void RtspSession::Resend(const std::vector<uint16_t>& sequences, Stream* only) {
  for (uint16_t sequence : sequences) {
    bool answered = false;
    for (Stream& s : streams_) {
      if (only != nullptr && &s != only) continue;
      const auto it = s.sent.find(sequence);
      if (it == s.sent.end()) continue;
      if (!faults_.ignoreResends && s.udp) {
        // A copy, RTP header and all, on the retransmission session when there is one.
        const sockaddr_storage& to = rtx_ && rtx_->udp ? rtx_->rtpTo : s.rtpTo;
        ::sendto(rtpSocket_.Fd(), it->second.data(), it->second.size(), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&to), AddressSize(to));
        answered = true;
      }
      break;
    }
    Log("rtsp-resend", std::to_string(sequence) + (answered                ? " answered"
                                                   : faults_.ignoreResends ? " ignored"
                                                                           : " unknown"));
  }
}

}  // namespace qor::server
