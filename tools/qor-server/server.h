#pragma once
// qor-server: a Windows Media stream server for loopback tests. One thread accepts on each
// service and one thread serves each connection; a UDP socket on the MMS port carries media
// datagrams out and resend requests in.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "catalog.h"
#include "request_log.h"
#include "socket_io.h"
#include "udp_hub.h"

namespace qor::server {

struct ServerOptions {
  std::string host = "127.0.0.1";
  bool hostGiven = false;  // --host: that address alone; otherwise ::1 as well where it exists
  int mmsPort = 1755;      // -1: no MMS service
  int httpPort = 8080;     // -1: no HTTP service
  int rtspPort = -1;       // -1: no RTSP service
  std::string root = ".";
  std::vector<std::pair<std::string, std::vector<std::string>>> lives;  // name, files
  std::optional<double> rate;  // unset: 1 for live, 0 for pre-recorded
  bool packetPair = true;
  bool stripPadding = false;
  std::string logPath;  // "-" for stdout
  int pingIntervalMs = 5000;
  std::string password;  // user:pass required of every client when set
  std::map<std::string, std::pair<int, std::string>> redirects;  // name -> status, location
  int maxConnections = 64;
  int idleTimeoutMs = 60000;
  std::string faults;  // fault query applied to every request before its own
  // Set: HTTP answers as a plain web server, every file as it is with this Content-Type.
  std::string plainType;
  // Transports switched off (--transports): the MMS transport selection is refused for them.
  bool mmsUdp = true;
  bool mmsTcp = true;
  // UDP media datagrams are dropped unsent, as by a firewall on the way (--block-udp).
  bool blockUdp = false;
  // --drop-live: seconds after the start at which every client of a live feed is dropped.
  std::vector<double> liveDrops;
  // --auth digest: HTTP asks for the password with a Digest challenge instead of Basic.
  bool digestAuth = false;
  // --rtp-length packet-only: the payload format header's Length field counts the ASF packet
  // alone, instead of the payload format header and the packet as Windows Media servers do.
  bool rtpLengthPacketOnly = false;
  // --session-timeout: seconds an RTSP session lives without a request (media over TCP aside).
  int rtspTimeoutSeconds = 60;
};

class Server {
 public:
  explicit Server(ServerOptions options);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Loads the live play lists, binds and starts serving.
  bool Start(std::string& error);
  // Stops accepting, ends every connection and waits for their threads.
  void Stop();

  uint16_t MmsPort() const { return mmsPort_; }
  uint16_t HttpPort() const { return httpPort_; }
  uint16_t RtspPort() const { return rtspPort_; }
  RequestLog& Log() { return log_; }
  const ServerOptions& Options() const { return options_; }
  Catalog& Media() { return catalog_; }
  UdpHub& Udp() { return udp_; }
  const StopSignal& Stopping() const { return stopping_; }
  double RateFor(bool live) const;
  // A drop moment of --drop-live lies after joined and at or before now: a live client that
  // joined at joined is to be dropped.
  bool LiveDropDue(std::chrono::steady_clock::time_point joined,
                   std::chrono::steady_clock::time_point now) const;

 private:
  using Handler = void (*)(Server&, Connection&, uint64_t, const sockaddr_storage&);
  void AcceptLoop(const Socket& listener, Handler handler);
  void ReapFinished();

  struct Worker {
    std::thread thread;
    std::atomic<bool> done{false};
  };

  ServerOptions options_;
  RequestLog log_;
  Catalog catalog_;
  UdpHub udp_;
  StopSignal stopping_;
  std::atomic<uint64_t> nextConnection_{1};
  Socket mmsListener_, httpListener_, rtspListener_;
  // Without --host: the same services on the IPv6 loopback too, where the system has one.
  Socket mmsListener6_, httpListener6_, rtspListener6_;
  void ListenOnIpv6Loopback();
  uint16_t mmsPort_ = 0, httpPort_ = 0, rtspPort_ = 0;
  std::vector<std::thread> acceptors_;
  std::mutex workersMutex_;
  std::list<std::unique_ptr<Worker>> workers_;
  bool started_ = false;
  std::chrono::steady_clock::time_point startedAt_ = std::chrono::steady_clock::now();
};

void ServeHttp(Server& server, Connection& connection, uint64_t id, const sockaddr_storage& peer);
void ServeMms(Server& server, Connection& connection, uint64_t id, const sockaddr_storage& peer);
void ServeRtsp(Server& server, Connection& connection, uint64_t id, const sockaddr_storage& peer);

}  // namespace qor::server
