#pragma once
// Helpers for the server tests: sample media made by ffmpeg, an in-process server on ports
// picked by the system, and small raw clients for TCP, HTTP and MMS.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "server.h"
#include "wire.h"

namespace qor::server::testing {

using namespace std::chrono_literals;

// Folder with clip.wmv, audio.wma, twovideo.asf; empty when ffmpeg is missing.
const std::string& SampleDir();
std::string FindProgram(const std::string& name);  // full path from PATH, or empty
// Runs a shell command; returns its exit status and (when output is given) its stdout.
int RunShell(const std::string& command, std::string* output = nullptr);
// Number of packets ffprobe reads from a media file (-1 when ffprobe fails).
int CountFfprobePackets(const std::string& path);
std::string TempDir();

#define QOR_NEED_SAMPLES()                                              \
  do {                                                                  \
    if (::qor::server::testing::SampleDir().empty())                    \
      GTEST_SKIP() << "ffmpeg not found on PATH: no sample media made"; \
  } while (0)

class TestServer {
 public:
  explicit TestServer(ServerOptions options = Defaults());
  ~TestServer();
  static ServerOptions Defaults();
  Server& Get() { return *server_; }
  uint16_t Http() const { return server_->HttpPort(); }
  uint16_t Mms() const { return server_->MmsPort(); }
  RequestLog& Log() { return server_->Log(); }

 private:
  std::unique_ptr<Server> server_;
};

class TcpClient {
 public:
  explicit TcpClient(uint16_t port);
  ~TcpClient();
  bool Connected() const { return fd_ >= 0; }
  bool Send(const std::string& text);
  bool Send(const Bytes& bytes);
  // Appends what arrives until size bytes are buffered, the peer closes or the timeout passes.
  bool ReadAtLeast(size_t size, std::chrono::milliseconds timeout = 20s);
  // Everything until the peer closes (false on timeout).
  bool ReadToClose(std::chrono::milliseconds timeout = 60s);
  bool PeerClosed() const { return closed_; }
  Bytes& Received() { return received_; }
  void Close();

 private:
  int fd_ = -1;
  bool closed_ = false;
  Bytes received_;
};

// One HTTP exchange: request head (CR LF lines), then everything until close.
struct HttpResult {
  std::string head;  // status line and headers
  Bytes body;
  int status = 0;
};
HttpResult HttpGet(uint16_t port, const std::string& path, const std::vector<std::string>& headers,
                   std::chrono::milliseconds timeout = 60s);
std::vector<std::string> PlayerHeaders(bool play, uint32_t streamTimeMs = 0);

// A unit the MMS server sent: a command or a data packet.
struct MmsUnit {
  bool command = false;
  uint16_t id = 0;  // command id
  uint32_t hr = 0, secondWord = 0;
  uint32_t locationId = 0;  // data packet
  uint8_t tag = 0, flags = 0;
  Bytes bytes;    // the whole unit
  Bytes payload;  // data packet payload
};

class MmsClient {
 public:
  explicit MmsClient(uint16_t port) : tcp_(port) {}
  TcpClient& Tcp() { return tcp_; }
  bool SendCommand(uint16_t id, const Bytes& fields);
  // The next unit, or nullopt when the connection ends or the timeout passes.
  std::optional<MmsUnit> Next(std::chrono::milliseconds timeout = 20s);
  // Next command, answering pings and skipping nothing else: nullopt if a data packet came.
  std::optional<MmsUnit> NextCommand(std::chrono::milliseconds timeout = 20s);

  // Handshake steps, each checking the reply id; return false when the reply differs.
  bool Connect(uint32_t* incarnation = nullptr);
  bool Timing(uint32_t word, int replies, uint32_t* clientId = nullptr);
  bool Transport(const std::string& text, uint16_t expect = 0x02);
  bool Open(const std::string& name, uint32_t* hr = nullptr, Bytes* reply = nullptr);
  // Header request: returns the header (pieces joined) or empty.
  Bytes Header(std::vector<uint8_t>* pieceFlags = nullptr);
  bool SelectStreams();
  bool Start(double seconds = 0, uint32_t location = 0xFFFFFFFF, uint8_t tag = 4);
  // The usual dialogue up to the started reply.
  bool HandshakeTcp(const std::string& name, Bytes* header = nullptr);

 private:
  TcpClient tcp_;
  uint16_t sequence_ = 0;
  size_t consumed_ = 0;
};

// A UDP socket on an ephemeral loopback port.
class UdpClient {
 public:
  UdpClient();
  ~UdpClient();
  uint16_t Port() const { return port_; }
  // One datagram, or nullopt after the timeout.
  std::optional<Bytes> Receive(std::chrono::milliseconds timeout);
  bool SendTo(uint16_t port, const Bytes& datagram);

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

}  // namespace qor::server::testing
