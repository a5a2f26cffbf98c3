#pragma once
// A session with no socket and no thread: a protocol is given this port, the server's bytes are
// handed to it as its transport handlers would, and its loop runs on the test's own thread until
// the bytes run out (the connection then counts as closed) or it posts an end. What it sends,
// posts and writes is kept for the test to look at.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "asf/asf.h"
#include "session/media_packet_path.h"
#include "session/response_header_collector.h"
#include "session/session_input.h"
#include "session/session_port.h"
#include "session/session_protocol.h"

namespace qor::testing {

class ScriptedPort final : public SessionPort {
 public:
  // savePath: the file the media path writes (created empty, or opened as it is when resuming).
  explicit ScriptedPort(SessionConfig config, const std::string& savePath = std::string(),
                        int32_t ringSize = SessionInput::kRingSize);
  ~ScriptedPort() override;

  // The protocol the port drives (made by the caller with this port).
  void Attach(SessionProtocol& protocol) { protocol_ = &protocol; }
  // What the transport handlers do with a connection, a block of it, a datagram, and its end.
  void Connect();
  void Receive(const std::string& bytes);
  void Receive(const uint8_t* data, size_t length);
  void Datagram(const std::vector<uint8_t>& bytes, UdpOrigin origin = {});
  void Close(bool progressive = false);
  // Runs the protocol's loop until it returns.
  void Run();
  // A whole conversation: each string is what the server sends on one connection before it
  // closes it. The first connection opens now; each time the protocol connects again, the next
  // one is played to it at once.
  void Serve(std::vector<std::string> connections);

  // What happened.
  const std::vector<std::pair<std::string, uint32_t>>& Posts() const { return posts_; }
  bool Posted(const std::string& text) const;
  // Texts posted with code, in order.
  std::vector<std::string> Texts(uint32_t code) const;
  const std::string& SentTcp() const { return sent_tcp_; }
  const std::vector<std::string>& SentUdp() const { return sent_udp_; }
  // Datagrams sent with SendUdpTo: from which receiver, to which port.
  struct Addressed {
    UdpOrigin from;
    int32_t port = 0;
    std::string bytes;
  };
  const std::vector<Addressed>& SentUdpTo() const { return sent_udp_to_; }
  const std::vector<Endpoint>& Connects() const { return connects_; }
  int ResendStarts() const { return resend_starts_; }
  bool Stopped() const { return stopped_; }

  // ---- SessionPort ----
  const SessionConfig& Config() const override { return config_; }
  SessionCounters& Counters() override { return counters_; }
  void Post(const std::string& text, uint32_t code) override;
  TASF& Asf() override { return asf_; }
  SessionInput& Input() override { return *input_; }
  MediaPacketPath& Media() override { return *media_; }
  bool Terminated() const override { return terminated_; }
  void Terminate() override;
  void StopAll() override;
  int32_t SendTcp(const void* data, int32_t length) override;
  int32_t SendUdp(const void* data, int32_t length) override;
  int32_t SendUdpTo(UdpOrigin from, int32_t port, const void* data, int32_t length) override;
  int32_t SendTcpNow(const void* data, int32_t length) override { return SendTcp(data, length); }
  void Connect(const Endpoint& where) override;
  std::string LocalAddress() const override { return "127.0.0.1"; }
  int32_t LocalPort() const override { return 40000; }
  int32_t UdpLocalPort() const override { return config_.UdpPort; }
  int32_t UdpControlPort() const override { return config_.UdpPort + 1; }
  void WaitForUdpReceiver() override {}
  void ResendsPending() override { ++resend_starts_; }
  void ResendsSettled(const std::function<bool()>&) override {}

 private:
  SessionConfig config_;
  SessionCounters counters_;
  TASF asf_;
  std::unique_ptr<SessionInput> input_;
  std::unique_ptr<MediaPacketPath> media_;
  SessionProtocol* protocol_ = nullptr;
  ResponseHeaderCollector header_;
  // What a resend tick driven beside the loop posts and sends is recorded under it.
  std::mutex posts_mutex_;
  std::vector<std::pair<std::string, uint32_t>> posts_;
  std::string sent_tcp_;
  std::vector<std::string> sent_udp_;
  std::vector<Addressed> sent_udp_to_;
  std::vector<Endpoint> connects_;
  std::vector<std::string> served_;
  size_t next_served_ = 0;
  void PlayNextConnection();
  int resend_starts_ = 0;
  bool terminated_ = false;
  bool stopped_ = false;
};

}  // namespace qor::testing
