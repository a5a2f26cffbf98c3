// The session's connections: starting them, what their handlers do with each event (on the
// window thread), sending on them from any thread, and the resend tick of media over UDP.

#include <chrono>
#include <ctime>

#include "net/tcp_client.h"
#include "net/udp_receiver.h"
#include "session/session.h"
#include "session/session_input.h"
#include "session/session_protocol.h"
#include "support/helper.h"

namespace qor {

namespace {

std::string LocalTimeText(const char* format) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[64];
  size_t n = std::strftime(text, sizeof text, format, &local);
  return std::string(text, n);
}

}  // namespace

// ---- Starting connections ----

void TMMS::StartTcpTransport(const std::string& host, int32_t port) {
  std::shared_ptr<TTCP> old;
  std::vector<std::shared_ptr<TTCP>> retired;
  {
    std::lock_guard<std::mutex> lock(transport_mutex_);
    if (stopped_) return;
    old = std::move(tcp_);
    retired.swap(retired_tcp_);
  }
  old.reset();  // waits for the previous connection's thread
  retired.clear();

  auto tcp = std::make_shared<TTCP>();
  tcp->OnConnecting = [this](TTCP* s) { TcpConnecting(s); };
  tcp->OnResolving = [this](TTCP* s) { TcpResolving(s); };
  tcp->OnConnected = [this](TTCP* s) { TcpConnected(s); };
  tcp->OnData = [this](TTCP* s, const uint8_t* b, int32_t n) { TcpDataReceived(s, b, n); };
  tcp->OnMessage = [this](TTCP* s, const std::string& t, int32_t c) { TransportMessage(s, t, c); };
  tcp->OnDisconnected = [this](TTCP* s) { TcpDisconnected(s); };
  {
    std::lock_guard<std::mutex> lock(transport_mutex_);
    if (stopped_) return;
    tcp_ = tcp;
  }

  if (host.empty()) {
    Post("MMS class - server host not specified", mcFatal);
    return;
  }
  std::string target;
  int32_t targetPort = 0;
  if (config_.UseProxy) {
    if (config_.ProxyPort < 1 || config_.ProxyPort > 65535) {
      Post("MMS class - Proxy port is out of range", mcFatal);
      return;
    }
    if (config_.ProxyHost.empty()) {
      Post("MMS class - Proxy IP not specified", mcFatal);
      return;
    }
    target = config_.ProxyHost;
    targetPort = config_.ProxyPort;
    counters_.ProxyInUse = 1;
  } else {
    if (port < 1 || port > 65535) {
      Post("MMS class - TCP port out of range", mcFatal);
      return;
    }
    target = host;
    targetPort = port;
    counters_.ProxyInUse = 0;
  }
  if (config_.BypassDns) {
    tcp->RemoteAddress = target;
  } else {
    tcp->RemoteHost = target;
  }
  tcp->RemotePort = targetPort;
  input_->NewConnection();
  tcp->BufferSize = kTcpBufferSize;
  tcp->Connect();
}

std::shared_ptr<TUDP> TMMS::NewUdpReceiver(uint32_t localPort) {
  auto udp = std::make_shared<TUDP>();
  udp->OnData = [this](TUDP* s, const uint8_t* d, int32_t n, const std::string& a, uint16_t p) {
    UdpDataReceived(s, d, n, a, p);
  };
  udp->OnMessage = [this](TUDP* s, const std::string& t, uint32_t c) { UdpMessage(s, t, c); };
  udp->OnDataDone = [this](TUDP* s) { UdpDataDelivered(s); };
  udp->LocalPort = localPort;
  // Two recordings at once must not fight over the configured port.
  udp->FallBackToFreePort = true;
  udp->MaxPacketSize = static_cast<uint32_t>(config_.MaxUdpSize);
  udp->LocalHost = std::string();
  udp->RemotePort = static_cast<uint32_t>(config_.ConnectPort);
  return udp;
}

void TMMS::StartUdpTransport() {
  std::shared_ptr<TUDP> old, oldControl;
  std::vector<std::shared_ptr<TUDP>> retired;
  std::string remote;
  {
    std::lock_guard<std::mutex> lock(transport_mutex_);
    if (stopped_) return;
    old = std::move(udp_);
    oldControl = std::move(udp_control_);
    retired.swap(retired_udp_);
    if (tcp_) remote = tcp_->RemoteAddress;
  }
  old.reset();
  oldControl.reset();
  retired.clear();

  auto udp = NewUdpReceiver(static_cast<uint32_t>(config_.UdpPort));
  udp->RemoteHost = remote;
  // RTP's control (RTCP) goes to and from the port after the media's.
  std::shared_ptr<TUDP> control;
  if (config_.ProtocolFlags & pfRtspUdp) {
    const auto media = static_cast<uint32_t>(config_.UdpPort);
    control = NewUdpReceiver(media < 65535 ? media + 1 : media - 1);
    control->RemoteHost = remote;
    control->MaxPacketSize = TUDP::kLargestMaxPacketSize;
    // The RTP receiver takes whatever a server puts in one datagram.
    udp->MaxPacketSize = TUDP::kLargestMaxPacketSize;
  }
  {
    std::lock_guard<std::mutex> lock(transport_mutex_);
    if (stopped_) return;
    udp_ = udp;
    udp_control_ = control;
  }
  udp->Start();
  if (control) control->Start();
}

// ---- Using them (any thread) ----

std::shared_ptr<TTCP> TMMS::CurrentTcp() const {
  std::lock_guard<std::mutex> lock(transport_mutex_);
  return tcp_;
}

std::shared_ptr<TUDP> TMMS::CurrentUdp(bool control) const {
  std::lock_guard<std::mutex> lock(transport_mutex_);
  return control ? udp_control_ : udp_;
}

int32_t TMMS::SendTcp(const void* data, int32_t length) {
  std::shared_ptr<TTCP> tcp = CurrentTcp();
  const int32_t sent = tcp ? tcp->Send(data, length) : -1;
  Release(tcp);
  return sent;
}

int32_t TMMS::SendTcpNow(const void* data, int32_t length) {
  std::shared_ptr<TTCP> tcp = CurrentTcp();
  const int32_t sent = tcp ? tcp->SendNow(data, length) : -1;
  Release(tcp);
  return sent;
}

int32_t TMMS::SendUdpTo(UdpOrigin from, int32_t port, const void* data, int32_t length) {
  if (port < 1 || port > 65535) return -1;
  std::shared_ptr<TUDP> udp = CurrentUdp(from.control);
  const int32_t sent = udp ? udp->SendToPort(data, length, static_cast<uint16_t>(port)) : -1;
  Release(udp);
  return sent;
}

int32_t TMMS::SendUdp(const void* data, int32_t length) {
  std::shared_ptr<TUDP> udp = CurrentUdp();
  const int32_t sent = udp ? udp->Send(data, length) : -1;
  Release(udp);
  return sent;
}

int32_t TMMS::UdpLocalPort(bool control) const {
  std::shared_ptr<TUDP> udp = CurrentUdp(control);
  const int32_t port = udp ? static_cast<int32_t>(udp->BoundPort()) : 0;
  Release(udp);
  return port;
}

void TMMS::WaitForUdpReceiver() {
  const auto deadline = std::chrono::steady_clock::now() + kUdpBindWait;
  for (bool control : {false, true}) {
    std::shared_ptr<TUDP> udp = CurrentUdp(control);
    if (!udp) continue;
    // The receiver says when it has bound or given up; a stop of the session alone (without
    // Stop, which ends the receiver too) is looked at now and then while it binds, which takes
    // moments.
    constexpr std::chrono::milliseconds kStopLook{100};
    for (;;) {
      const auto now = std::chrono::steady_clock::now();
      if (Terminated() || udp->Finished() || now >= deadline) break;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
      if (udp->WaitUntilBound(std::min(left, kStopLook))) break;
    }
    Release(udp);
  }
}

// ---- The resend tick ----

void TMMS::StopResendTimer() {
  {
    std::lock_guard<std::mutex> lock(resend_mutex_);
    resend_allowed_ = false;
    resend_ticking_ = false;
  }
  // Joins a tick in progress, which may itself be waiting for the lock above: outside it.
  resend_timer_.Stop();
}

void TMMS::ResendsPending() {
  std::lock_guard<std::mutex> lock(resend_mutex_);
  if (!resend_allowed_ || resend_ticking_) return;
  uint32_t error = 0;
  // No tick runs now (it stopped itself under this lock, or was stopped for good), so the start
  // has no tick to wait for.
  if (!resend_timer_.Start(8, error, 2)) {
    resend_allowed_ = false;
    Post("TMMS: Error starting UDP reject timer class", mcFatal);
    return;
  }
  resend_ticking_ = true;
}

void TMMS::ResendsSettled(const std::function<bool()>& pending) {
  std::lock_guard<std::mutex> lock(resend_mutex_);
  if (!resend_ticking_ || pending()) return;
  resend_ticking_ = false;
  // From inside its own tick Stop returns at once; under the lock, so no start can slip between
  // the look at what is pending and the stop.
  resend_timer_.Stop();
}

// ---- Transport handlers (window thread) ----

void TMMS::TcpConnecting(TTCP*) {
  Post("Connecting...", mcNormal);
}

void TMMS::TcpResolving(TTCP*) {
  if (counters_.ProxyInUse) Post("Using proxy host settings for connection", mcWarning);
  if (config_.BypassDns) {
    Post("Not resolving DNS IP, trying direct...", mcWarning);
  } else {
    Post("Resolving DNS IP address, please wait...", mcNormal);
  }
}

void TMMS::TcpConnected(TTCP* sender) {
  input_->ConnectionUp();
  udp_source_port_[0] = udp_source_port_[1] = 0;
  local_address_ = sender->LocalAddress;
  counters_.LocalPort = sender->LocalPort;
  response_header_.Reset();
  const uint32_t flags = config_.ProtocolFlags;
  if (config_.MediaOverUdp()) {
    StartUdpTransport();
    // The tick itself starts when a datagram is first missed (ResendsPending).
    std::lock_guard<std::mutex> lock(resend_mutex_);
    resend_allowed_ = true;
  }
  Post("CONNECTED at: \t" + LocalTimeText("%X") + "  Date: " + LocalTimeText("%x"), mcNotice);
  Post("Server Address: \t" + THelper::Trim(sender->RemoteAddress), mcNormal);
  Post("Server Port: \t" + THelper::IntText(sender->RemotePort), mcNormal);
  Post("Local Address: \t" + THelper::Trim(local_address_), mcNormal);
  if (flags & pfHttp) {
    Post("Local HTTP Port \t" + THelper::IntText(sender->LocalPort), mcNormal);
  } else if (config_.MediaOverUdp()) {
    // The receiver may not have bound yet: the protocol says which port it took once it has.
  } else if (flags & (pfMmsTcp | pfRtspTcp)) {
    Post("Local TCP Port \t" + THelper::IntText(sender->LocalPort), mcNormal);
  } else {
    Post("Local Port \tunknown", mcWarning);
  }
  Post("Initialising streaming protocol, waiting for reply...", mcNotice);
  if (protocol_) protocol_->Connected();
}

int32_t TMMS::CollectResponseHeader(const uint8_t* block, int32_t length) {
  const auto result = response_header_.Feed(block, static_cast<size_t>(length));
  switch (result.step) {
    case ResponseHeaderCollector::Step::kNone:
      // What looked like the start of a header is the connection's first data.
      if (!result.held.empty() && protocol_)
        protocol_->TcpData(reinterpret_cast<const uint8_t*>(result.held.data()),
                           static_cast<int32_t>(result.held.size()));
      break;
    case ResponseHeaderCollector::Step::kMore:
      break;
    case ResponseHeaderCollector::Step::kComplete:
      if (protocol_) protocol_->ResponseHeader(response_header_.Header());
      break;
    case ResponseHeaderCollector::Step::kTooLong:
      Post("HTTP: no http header has no ending", mcFatal);
      Terminate();
      break;
  }
  return static_cast<int32_t>(result.used);
}

void TMMS::TcpDataReceived(TTCP*, const uint8_t* block, int32_t length) {
  if (length <= 0) return;
  input_->NoteReceive();
  counters_.BytesSinceTick += static_cast<uint32_t>(length);
  counters_.ReceivesSinceTick += 1;
  const int32_t used = CollectResponseHeader(block, length);
  if (used < length && protocol_) protocol_->TcpData(block + used, length - used);
  // One wake for everything the block brought (the units were stored quietly).
  input_->WakeReaders();
}

void TMMS::TransportMessage(TTCP*, const std::string& text, int32_t code) {
  if (config_.MediaOverUdp()) StopResendTimer();
  Post(text, static_cast<uint32_t>(code));
}

void TMMS::TcpDisconnected(TTCP* sender) {
  // A connection that was replaced (the describe connection of MMS over HTTP) ends nothing.
  // Compared without taking a reference: the session thread may replace the connection while
  // this runs, and a reference held here would then be the last one, destroying the connection
  // inside its own event, whose thread waits for this handler to return: neither would end.
  {
    std::lock_guard<std::mutex> lock(transport_mutex_);
    if (tcp_ && sender != tcp_.get()) return;
  }
  if (input_->ConnectionReplaced()) return;
  if (config_.MediaOverUdp()) StopResendTimer();
  if (response_header_.EndedInside()) {
    response_header_.Reset();
    Post("HTTP: no http header has no ending", mcFatal);
    Terminate();
    return;
  }
  const bool progressive = (counters_.StreamKind.load() & skProgressive) != 0;
  const bool answered = protocol_ && protocol_->EndsWhenAnswered();
  if (!progressive && !answered) Post("Disconnected", mcNotice);
  input_->ConnectionClosed(progressive, answered);
}

void TMMS::UdpDataReceived(TUDP* sender, const uint8_t* block, int32_t length,
                           const std::string& address, uint16_t port) {
  if (!config_.MediaOverUdp() || length <= 0) return;
  // The port is open to every host: only the server we are talking to sends our media, and a
  // neighbour's stream or a forged datagram must not reach the file. The server sends from one
  // port, the one its first datagram came from; another program on its host is someone else.
  if (sender == nullptr || !sender->RemoteHost || address != *sender->RemoteHost) return;
  UdpOrigin origin;
  origin.port = port;
  {
    std::lock_guard<std::mutex> lock(transport_mutex_);
    origin.control = udp_control_ && sender == udp_control_.get();
  }
  // RTP's control companion hears from the server's control port, next to its media port.
  uint16_t& source = udp_source_port_[origin.control ? 1 : 0];
  if (source == 0) source = port;
  if (port != source) return;
  input_->NoteReceive();
  counters_.BytesSinceTick += static_cast<uint32_t>(length);
  counters_.ReceivesSinceTick += 1;
  if (protocol_) protocol_->UdpDatagram(block, length, origin);
}

void TMMS::UdpDataDelivered(TUDP*) {
  // The datagrams of one handover were stored quietly: the loop wakes once for all of them.
  input_->WakeReaders();
}

void TMMS::UdpMessage(TUDP*, const std::string& text, uint32_t code) {
  StopResendTimer();
  Post(text, code);
}

}  // namespace qor
