#pragma once
// One RTSP control connection of the server: the requests (OPTIONS, DESCRIBE, SETUP, PLAY, PAUSE,
// GET_PARAMETER, SET_PARAMETER, TEARDOWN), sign-in, and the media of the streams set up, as RTP
// over UDP to the client's ports or interleaved in the connection. The requests live in
// rtsp_service.cpp, the sending in rtsp_streaming.cpp.

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <netinet/in.h>

#include "faults.h"
#include "packet_feed.h"
#include "rtp_packetizer.h"
#include "rtsp_message.h"
#include "server.h"

namespace qor::server {

class RtspSession {
 public:
  RtspSession(Server& server, Connection& connection, uint64_t id, const sockaddr_storage& peer);
  void Run();

 private:
  using Clock = std::chrono::steady_clock;
  struct Stream {
    uint16_t number = 0;
    std::string control;
    bool udp = false;
    uint8_t channel = 0;                 // interleaved: RTP on channel, RTCP on channel + 1
    sockaddr_storage rtpTo{}, rtcpTo{};  // UDP: the client's port pair
    std::unique_ptr<RtpPacketizer> packetizer;
    std::map<uint16_t, Bytes> sent;  // recent RTP packets by sequence, for resends
    std::deque<uint16_t> sentOrder;
  };

  void Log(const std::string& kind, const std::string& text = "") {
    server_.Log().Add(id_, kind, text);
  }
  // Requests.
  bool Handle(const RtspRequest& request);
  bool Answer(const RtspRequest& request, int status, const std::string& headers = "",
              const std::string& body = "");
  bool Authorized(const RtspRequest& request) const;
  bool OnDescribe(const RtspRequest& request);
  bool OnSetup(const RtspRequest& request);
  bool OnPlay(const RtspRequest& request);
  bool OnTeardown(const RtspRequest& request);
  bool FindEntry(const RtspRequest& request, std::string& name);
  // The faults of the request's query, once per session; false when they cannot be read.
  bool ReadFaults(const RtspRequest& request);
  std::string SessionHeader() const;
  std::string BaseUrl(const RtspRequest& request) const;
  std::string DescriptionFor(const Bytes& header);
  bool OpenUdp(std::string& error);
  bool SendText(const std::string& text);

  // Sending (rtsp_streaming.cpp).
  void StartFeed(uint32_t fromMs);
  // Sends what is due; waitMs becomes the time until the next packet is due.
  bool Pump(int& waitMs);
  bool SendAsfPacket(const FeedItem& item);
  bool SendRtp(Stream& stream, Bytes&& packet);
  bool SendRtcp(Stream& stream, const Bytes& packet);
  bool FlushStreams();
  bool EndOfStream(bool entryOnly);
  bool OnEntryChange(const FeedItem& item);
  void ReadRtcp();
  void Resend(const std::vector<uint16_t>& sequences, Stream* only);
  bool FlushBatch();
  bool Chance(double share) {
    return share > 0 && std::uniform_real_distribution<double>(0, 1)(random_) < share;
  }
  // Waits up to ms for the control connection (true when it is readable) while reading the
  // client's RTCP; false only when the server stops.
  bool Wait(int ms, bool& readable);

  Server& server_;
  Connection& c_;
  uint64_t id_;
  sockaddr_storage peer_;
  Faults faults_;
  bool faultsRead_ = false;
  std::mt19937 random_;
  std::string input_;
  uint64_t sessionId_;
  bool sessionMade_ = false;
  Catalog::Entry entry_;
  std::string entryName_;
  std::string baseUrl_;
  bool dialect_ = false;      // the client said it speaks the Windows Media extensions
  bool eosNotice_ = false;    // ... and takes end-of-stream notices
  bool locationIds_ = false;  // ... and wants location ids in the payload format headers
  uint32_t generation_ = 1;   // X-Playlist-Gen-Id: counts the descriptions sent
  std::vector<Stream> streams_;
  std::optional<Stream> rtx_;
  Socket rtpSocket_, rtcpSocket_;
  uint16_t serverRtpPort_ = 0;
  std::optional<PacketFeed> feed_;
  std::optional<FeedItem> next_;  // taken from the feed, not yet sent
  bool playing_ = false;
  bool ended_ = false;
  Clock::time_point playStart_;
  // Paces the packets of the current PLAY: the server's rate and what the client was granted.
  std::optional<DeliveryPacer> pacer_;
  uint64_t sent_ = 0;          // ASF packets sent since the play began
  uint64_t udpDatagrams_ = 0;  // RTP datagrams handed to UDP, dropped ones included
  std::optional<Bytes> heldDatagram_;
  sockaddr_storage heldTo_{};
  Bytes batch_;  // interleaved frames waiting for one socket write
  uint32_t serverCSeq_ = 1;
  Clock::time_point lastRequest_ = Clock::now();
};

}  // namespace qor::server
