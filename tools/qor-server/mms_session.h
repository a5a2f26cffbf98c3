#pragma once
// One MMS client's session on the server: the command dialogue (mms_service.cpp) and the media it
// is sent, paced and batched, over TCP or as UDP datagrams (mms_streaming.cpp).

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string>

#include "delivery_pace.h"
#include "faults.h"
#include "mms_message.h"
#include "packet_feed.h"
#include "server.h"
#include "stream_filter.h"

namespace qor::server {

using Clock = std::chrono::steady_clock;

inline constexpr uint32_t kInvalidArgument = 0x80070057;
inline constexpr int kBatch = 32;  // packets between looks at the client's commands when unpaced

class MmsSession {
 public:
  MmsSession(Server& server, Connection& connection, uint64_t id, const sockaddr_storage& peer)
      : server_(server), c_(connection), id_(id), peer_(peer), random_(1) {
    clientId_ = 0x51000000u + static_cast<uint32_t>(id & 0xFFFFFF);
  }
  ~MmsSession() {
    if (udp_) server_.Udp().Unregister(udp_->ClientId());
  }
  void Run();

 private:
  void Log(const std::string& kind, const std::string& text = "") {
    server_.Log().Add(id_, kind, text);
  }
  bool Reply(uint16_t id, uint32_t hr, uint32_t secondWord, const Bytes& fields = {});
  // Whatever is queued goes first, so every unit keeps its place in the stream.
  bool Send(const Bytes& unit) { return Flush() && c_.WriteAll(unit.data(), unit.size()); }
  bool Flush() {
    const bool written = queued_.empty() || c_.WriteAll(queued_.data(), queued_.size());
    queued_.clear();
    return written;
  }
  bool Handle(const ClientCommand& command);
  bool OnConnect(const ClientCommand& command);
  bool OnTiming(const ClientCommand& command);
  bool OnTransport(const ClientCommand& command);
  bool OnOpenFile(const ClientCommand& command);
  bool FinishOpen();
  bool OnPassword(const ClientCommand& command);
  bool OnHeaderRequest(const ClientCommand& command);
  bool OnStartPlay(const ClientCommand& command);
  bool SendHeaderPieces(const Bytes& header);
  bool SendChallenge();
  // Sends what is due; sets waitMs to the time until the next packet is due.
  // waitMs: at most this long already; made shorter when a packet falls due sooner.
  bool Pump(int& waitMs);
  bool PumpBatch(int& waitMs);
  // Milliseconds until the next ping is due or, when not playing, the idle limit is reached.
  int NextLookMs(int pingMs) const;
  bool SendMedia(const FeedItem& item);
  // Sends datagram number sequence (kept for resends) with whatever the faults make of it.
  bool SendDatagram(uint32_t sequence, const Bytes& datagram);
  bool Chance(double share) {
    return share > 0 && std::uniform_real_distribution<double>(0, 1)(random_) < share;
  }

  Server& server_;
  Connection& c_;
  uint64_t id_;
  sockaddr_storage peer_;
  Faults faults_;
  std::mt19937 random_;
  uint16_t sequence_ = 0;
  uint32_t clientId_;
  bool udpTimingWanted_ = false;
  std::shared_ptr<UdpStream> udp_;
  uint32_t udpSequence_ = 0;
  std::optional<Bytes> heldDatagram_;
  Catalog::Entry entry_;
  std::string openName_;
  bool passwordPassed_ = false;
  bool openPending_ = false;
  int passwordTries_ = 0;
  std::optional<PacketFeed> feed_;
  uint8_t headerTag_ = kTagHeader;
  uint8_t mediaTag_ = kTagMedia;
  bool playing_ = false;
  // Unpaced media over TCP: the data packets of one batch, built here and sent in one write.
  Bytes queued_;
  std::optional<FeedItem> pending_;
  StreamChoice choice_;
  Clock::time_point playStart_;
  std::optional<DeliveryPacer> pacer_;
  uint64_t sent_ = 0;
  uint8_t packetSequence_ = 0;
  int unansweredPings_ = 0;
  Clock::time_point lastPing_ = Clock::now();
  Clock::time_point lastCommand_ = Clock::now();
};

}  // namespace qor::server
