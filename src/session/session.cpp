#include "session/session.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include "asf/asf.h"
#include "net/tcp_client.h"
#include "net/udp_receiver.h"
#include "session/carry_over.h"
#include "session/http_protocol.h"
#include "session/mms_protocol.h"
#include "session/save_file.h"

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

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

TMMS::TMMS(int32_t ringSize)
    : mms_(std::make_unique<MmsProtocol>(*this)), http_(std::make_unique<HttpProtocol>(*this)) {
  ring_.Allocate(ringSize);
  resend_timer_.OnTimer = [this](TMMTimer*) { mms_->ResendScan(); };
  InitFields();
}

TMMS::~TMMS() {
  TerminateAndWait();
  // No resend tick may run once the transports it sends on are gone.
  resend_timer_.Stop();
  std::shared_ptr<TTCP> tcp;
  std::shared_ptr<TUDP> udp;
  std::vector<std::shared_ptr<TTCP>> retiredTcp;
  std::vector<std::shared_ptr<TUDP>> retiredUdp;
  {
    std::lock_guard<std::mutex> lock(transport_mutex_);
    tcp = std::move(tcp_);
    udp = std::move(udp_);
    retiredTcp.swap(retired_tcp_);
    retiredUdp.swap(retired_udp_);
  }
  tcp.reset();
  udp.reset();
  retiredTcp.clear();
  retiredUdp.clear();
}

void TMMS::InitFields() {
  Asf = nullptr;
  Messages = nullptr;
  SaveFile.reset();
  NextEntry = std::make_shared<CarryOver>();
  PreviousEntry.reset();
  ResumeSession = 0;
  HttpPort = ConnectPort = UdpPort = MaxUdpSize = 0;
  ProtocolFlags = 0;
  UseProxy = 0;
  ProxyPort = 0;
  ProxyHost.clear();
  BypassDns = 0;
  Streams = {};
  LeftOutStreams.clear();
  Host.clear();
  Path.clear();
  OffsetMs = 0;
  StreamKind = 0;
  HeaderLength = 0;
  PacketSize = 0;
  PacketNumber = 0;
  SendTime = 0;
  RecoveredPackets = 0;
  LostPackets = 0;
  Acknowledgements = 0;
  ClientId = 0;
  MaxStreamRate = 0;
  BytesSinceTick = 0;
  ReceivesSinceTick = 0;
  ProxyInUse = 0;
  Progressive = 0;
  LocalPort = 0;
  ServerText.clear();
  ContentType.clear();
  LocalAddress.clear();
  HeaderLines.clear();
  ChallengeText.clear();
  Credentials.clear();
  SetServerTexts({});
  ClientGuid = THelper::NewGuidText();
  packets_.Reset();
  header_.Clear();
  mms_->InitFields();
  http_->InitFields();
  awaiting_response_header_ = true;
  response_header_.clear();
  progressive_ended_ = false;
  StreamCut = false;
  stage_ = kConnecting;
  stage_since_ms_ = NowMs();
  last_receive_ms_ = NowMs();
  connection_closed_ = false;
  end_posted_ = false;
}

MmsServerTexts TMMS::GetServerTexts() const {
  std::lock_guard<std::mutex> lock(texts_mutex_);
  return server_texts_;
}

void TMMS::SetServerTexts(const MmsServerTexts& texts) {
  std::lock_guard<std::mutex> lock(texts_mutex_);
  server_texts_ = texts;
}

void TMMS::Post(const std::string& text, uint32_t code) const {
  if (Messages) Messages->Post(text, code, Source);
}

void TMMS::Start() {
  // UDP data always comes with the TCP command connection.
  if (ProtocolFlags & pfMmsUdp) ProtocolFlags = pfMmsTcp | pfMmsUdp;
  if (!Messages) {
    if (ShowMessageBox) ShowMessageBox("MMS Class - no message callback handler object specified");
    return;
  }
  if (ProtocolFlags == 0) {
    Post("MMS Class - No protocol was specified", mcFatal);
    return;
  }
  if (!Asf) {
    Post("MMS Class - No ASF object specified, cannot parse data", mcFatal);
    return;
  }
  if (!SaveFile) {
    Post("MMS Class - No save file specified", mcFatal);
    return;
  }
  if (ring_.Size() == 0) {
    Post("MMS Class - No circular buffer object specified", mcFatal);
    return;
  }
  // The helper and the error-code handler are members of the session, so they always exist.
  if (ProtocolFlags & pfHttp) ConnectPort = HttpPort;
  stage_since_ms_ = NowMs();
  last_receive_ms_ = NowMs();
  if (ProtocolFlags & (pfHttp | pfMmsTcp)) StartTcpTransport();
  TThread::Start();
}

void TMMS::StartTcpTransport() {
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

  if (Host.empty()) {
    Post("MMS class - server host not specified", mcFatal);
    return;
  }
  std::string target;
  int32_t port = 0;
  if (UseProxy) {
    if (ProxyPort < 1 || ProxyPort > 65535) {
      Post("MMS class - Proxy port is out of range", mcFatal);
      return;
    }
    if (ProxyHost.empty()) {
      Post("MMS class - Proxy IP not specified", mcFatal);
      return;
    }
    target = ProxyHost;
    port = ProxyPort;
    ProxyInUse = 1;
  } else {
    if (ConnectPort < 1 || ConnectPort > 65535) {
      Post("MMS class - TCP port out of range", mcFatal);
      return;
    }
    target = Host;
    port = ConnectPort;
    ProxyInUse = 0;
  }
  if (BypassDns) {
    tcp->RemoteAddress = target;
  } else {
    tcp->RemoteHost = target;
  }
  tcp->RemotePort = port;
  ring_.Clear();
  connection_closed_ = false;
  connection_replaced_ = false;
  tcp->BufferSize = kTcpBufferSize;
  tcp->Connect();
}

void TMMS::StartUdpTransport() {
  std::shared_ptr<TUDP> old;
  std::vector<std::shared_ptr<TUDP>> retired;
  std::string remote;
  {
    std::lock_guard<std::mutex> lock(transport_mutex_);
    if (stopped_) return;
    old = std::move(udp_);
    retired.swap(retired_udp_);
    if (tcp_) remote = tcp_->RemoteAddress;
  }
  old.reset();
  retired.clear();

  auto udp = std::make_shared<TUDP>();
  udp->OnData = [this](TUDP* s, const uint8_t* d, int32_t n, const std::string& a, uint16_t p) {
    UdpDataReceived(s, d, n, a, p);
  };
  udp->OnMessage = [this](TUDP* s, const std::string& t, uint32_t c) { UdpMessage(s, t, c); };
  udp->OnDataDone = [this](TUDP* s) { UdpDataDelivered(s); };
  udp->LocalPort = static_cast<uint32_t>(UdpPort);
  // Two recordings at once must not fight over the configured port.
  udp->FallBackToFreePort = true;
  udp->MaxPacketSize = static_cast<uint32_t>(MaxUdpSize);
  udp->LocalHost = std::string();
  udp->RemoteHost = remote;
  udp->RemotePort = static_cast<uint32_t>(ConnectPort);
  {
    std::lock_guard<std::mutex> lock(transport_mutex_);
    if (stopped_) return;
    udp_ = udp;
  }
  udp->Start();
}

void TMMS::EnterStage(Stage stage) {
  int32_t current = stage_.load();
  while (current < stage) {
    if (stage_.compare_exchange_weak(current, stage)) {
      stage_since_ms_ = NowMs();
      // The new stage has its own time-out, which a wait with none so far must learn of.
      WakeLoop();
      return;
    }
  }
}

void TMMS::MarkHeaderComplete() {
  EnterStage(kAwaitingData);
}

void TMMS::MarkMediaArrived() {
  EnterStage(kStreaming);
}

void TMMS::RestartStageClock() {
  stage_since_ms_ = NowMs();
  last_receive_ms_ = NowMs();
}

void TMMS::EndWithFailure(const std::string& text) {
  end_posted_ = true;
  if (stage_.load() == kStreaming) StreamCut = true;
  Post(text, mcFatal);
  Terminate();
}

bool TMMS::Watch(int32_t needed) {
  if (Terminated()) return false;
  if (EndPosted()) return true;
  const int32_t stage = stage_.load();
  const int64_t now = NowMs();
  // Datagrams sent before the command connection closed may still be on their way.
  const bool udpQuiet = !(ProtocolFlags & pfMmsUdp) || now - last_receive_ms_ >= kUdpCloseQuietMs;
  if (connection_closed_.load() && ring_.Available() < needed && udpQuiet) {
    EndWithFailure(stage == kStreaming
                       ? "The server closed the connection before the end of the stream"
                       : "The server closed the connection before the stream began");
    return false;
  }
  const auto past = [now](int64_t since, int32_t seconds) {
    return seconds > 0 && now - since >= int64_t{seconds} * 1000;
  };
  const std::string after = " seconds";
  switch (stage) {
    case kConnecting:
      if (!past(stage_since_ms_, Timeouts.ConnectSeconds)) return true;
      EndWithFailure("No connection to the server within " +
                     THelper::IntText(Timeouts.ConnectSeconds) + after);
      return false;
    case kAnswering:
      if (!past(stage_since_ms_, Timeouts.AnswerSeconds)) return true;
      EndWithFailure("The server did not answer within " +
                     THelper::IntText(Timeouts.AnswerSeconds) + after);
      return false;
    case kAwaitingData:
      if (!past(stage_since_ms_, Timeouts.FirstDataSeconds)) return true;
      EndWithFailure("No stream data arrived within " +
                     THelper::IntText(Timeouts.FirstDataSeconds) + after);
      return false;
    default:
      if (!past(last_receive_ms_, Timeouts.StallSeconds)) return true;
      EndWithFailure("The stream sent nothing for " + THelper::IntText(Timeouts.StallSeconds) +
                     after + " and is treated as cut");
      return false;
  }
}

TCB::Deadline TMMS::WatchDeadline() const {
  if (EndPosted()) return TCB::Deadline::max();
  const auto at = [](int64_t ms) {
    return TCB::Deadline(
        std::chrono::duration_cast<TCB::Deadline::duration>(std::chrono::milliseconds(ms)));
  };
  TCB::Deadline deadline = TCB::Deadline::max();
  const auto bound = [&](int64_t since, int32_t seconds) {
    if (seconds > 0) deadline = std::min(deadline, at(since + int64_t{seconds} * 1000));
  };
  switch (stage_.load()) {
    case kConnecting:
      bound(stage_since_ms_, Timeouts.ConnectSeconds);
      break;
    case kAnswering:
      bound(stage_since_ms_, Timeouts.AnswerSeconds);
      break;
    case kAwaitingData:
      bound(stage_since_ms_, Timeouts.FirstDataSeconds);
      break;
    default:
      bound(last_receive_ms_, Timeouts.StallSeconds);
      break;
  }
  if (connection_closed_.load() && (ProtocolFlags & pfMmsUdp))
    deadline = std::min(deadline, at(last_receive_ms_ + kUdpCloseQuietMs));
  return deadline;
}

bool TMMS::WaitForRing(int32_t count, uint64_t mark, TCB::Deadline until) {
  if (ring_.Available() >= count) return true;
  // The connection may have closed, or a stage run out, before the mark was taken: nothing
  // would wake the wait for that.
  if (Terminated() || !Watch(count)) return false;
  return ring_.WaitForAvailable(count, std::min(until, WatchDeadline()), mark);
}

void TMMS::TerminateRequested() {
  WakeLoop();
  mms_->WakeWaits();
  http_->WakeWaits();
  // Set by the window before Start and not replaced while the thread runs.
  if (PreviousEntry) PreviousEntry->Interrupt();
}

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

void TMMS::Stop() {
  Terminate();
  if (ProtocolFlags & pfMmsUdp) StopResendTimer();
  std::shared_ptr<TTCP> tcp;
  std::shared_ptr<TUDP> udp;
  {
    std::lock_guard<std::mutex> lock(transport_mutex_);
    stopped_ = true;
    tcp = tcp_;
    udp = udp_;
  }
  if (tcp) tcp->Close();
  if (udp) udp->Stop();
  Release(tcp);
  Release(udp);
}

bool TMMS::IsConnected() const {
  std::lock_guard<std::mutex> lock(transport_mutex_);
  return tcp_ && tcp_->IsActive();
}

std::shared_ptr<TTCP> TMMS::CurrentTcp() const {
  std::lock_guard<std::mutex> lock(transport_mutex_);
  return tcp_;
}

std::shared_ptr<TUDP> TMMS::CurrentUdp() const {
  std::lock_guard<std::mutex> lock(transport_mutex_);
  return udp_;
}

int32_t TMMS::SendTcp(const void* data, int32_t length) {
  std::shared_ptr<TTCP> tcp = CurrentTcp();
  const int32_t sent = tcp ? tcp->Send(data, length) : -1;
  Release(tcp);
  return sent;
}

int32_t TMMS::SendUdp(const void* data, int32_t length) {
  std::shared_ptr<TUDP> udp = CurrentUdp();
  const int32_t sent = udp ? udp->Send(data, length) : -1;
  Release(udp);
  return sent;
}

std::string TMMS::HostText(int32_t port, int32_t standardPort) const {
  if (port <= 0 || port == standardPort) return Host;
  return Host + ":" + std::to_string(port);
}

int32_t TMMS::UdpLocalPort() const {
  std::shared_ptr<TUDP> udp = CurrentUdp();
  const int32_t port = udp ? static_cast<int32_t>(udp->BoundPort()) : 0;
  Release(udp);
  return port;
}

void TMMS::WaitForUdpReceiver() {
  const std::shared_ptr<TUDP> udp = CurrentUdp();
  if (!udp) return;
  const auto deadline = std::chrono::steady_clock::now() + kUdpBindWait;
  // The receiver says when it has bound or given up; a stop of the session alone (without Stop,
  // which ends the receiver too) is looked at now and then while it binds, which takes moments.
  constexpr std::chrono::milliseconds kStopLook{100};
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    if (Terminated() || udp->Finished() || now >= deadline) return;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    if (udp->WaitUntilBound(std::min(left, kStopLook))) return;
  }
}

bool TMMS::FlushSaveFile() {
  if (!SaveFile || SaveFile->Flush() != TSaveFile::WriteResult::Failed) return true;
  Post("Could not access local file to write data packet", mcFatal);
  Terminate();
  return false;
}

bool TMMS::WaitForBytes(int32_t count) {
  if (ring_.Available() < count && !FlushSaveFile()) return false;
  // Woken by the handler's write, by a stop or a closed connection (WakeLoop), or when a
  // time-out may have run out.
  for (;;) {
    const uint64_t mark = WakeMark();
    if (ring_.Available() >= count) return true;
    if (Terminated() || !Watch(count)) return false;
    if (WaitForRing(count, mark)) return true;
  }
}

bool TMMS::WriteRing(const void* data, int32_t length, bool wakeReader) {
  if (wakeReader ? ring_.Write(data, length) : ring_.WriteQuietly(data, length)) return true;
  // The loop has to be awake to make room, whatever this block's quiet writes put off.
  ring_.WakeReaders();
  if (length < ring_.Size()) {
    // The loop is behind: give it a bounded time to make room.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kRingRoomWaitMs);
    for (;;) {
      const uint64_t mark = WakeMark();  // a stop wakes the wait (TerminateRequested)
      if (Terminated() || std::chrono::steady_clock::now() >= deadline) break;
      ring_.WaitForRoom(length, deadline, mark);
      if (ring_.Write(data, length)) return true;
    }
  }
  // A stopped session has nobody left to tell.
  if (!Terminated()) Post("The circular buffer has reached its size limit !", mcFatal);
  return false;
}

void TMMS::Execute() {
  // What the shared ASF model reports while this thread parses belongs to this session.
  ScopedThreadMessageSource tag(Source);
  if (ProtocolFlags & (pfMmsTcp | pfMmsUdp)) {
    mms_->RunReceiveLoop();
  } else if (ProtocolFlags & pfHttp) {
    http_->RunHttpLoop();
  } else {
    Post("TMMS: Invalid protocol selected", mcFatal);
  }
}

void TMMS::TcpConnecting(TTCP*) {
  Post("Connecting...", mcNormal);
}

void TMMS::TcpResolving(TTCP*) {
  if (ProxyInUse) Post("Using proxy host settings for connection", mcWarning);
  if (BypassDns) {
    Post("Not resolving DNS IP, trying direct...", mcWarning);
  } else {
    Post("Resolving DNS IP address, please wait...", mcNormal);
  }
}

void TMMS::TcpConnected(TTCP* sender) {
  EnterStage(kAnswering);
  last_receive_ms_ = NowMs();
  LocalAddress = sender->LocalAddress;
  LocalPort = sender->LocalPort;
  awaiting_response_header_ = true;
  response_header_.clear();
  if (ProtocolFlags & pfMmsUdp) {
    StartUdpTransport();
    // The tick itself starts when a datagram is first missed (ResendsPending).
    std::lock_guard<std::mutex> lock(resend_mutex_);
    resend_allowed_ = true;
  }
  Post("CONNECTED at: \t" + LocalTimeText("%X") + "  Date: " + LocalTimeText("%x"), mcNotice);
  Post("Server Address: \t" + THelper::Trim(sender->RemoteAddress), mcNormal);
  Post("Server Port: \t" + THelper::IntText(sender->RemotePort), mcNormal);
  Post("Local Address: \t" + THelper::Trim(LocalAddress), mcNormal);
  if (ProtocolFlags & pfHttp) {
    Post("Local HTTP Port \t" + THelper::IntText(LocalPort), mcNormal);
  } else if (ProtocolFlags & pfMmsUdp) {
    // The receiver may not have bound yet; a port taken instead is announced when it has.
    const int32_t bound = UdpLocalPort();
    Post("Local UDP Port \t" + THelper::IntText(bound != 0 ? bound : UdpPort), mcNormal);
  } else if (ProtocolFlags & pfMmsTcp) {
    Post("Local TCP Port \t" + THelper::IntText(LocalPort), mcNormal);
  } else {
    Post("Local Port \tunknown", mcWarning);
  }
  Post("Initialising streaming protocol, waiting for reply...", mcNotice);
  if (ProtocolFlags & (pfMmsTcp | pfMmsUdp)) {
    mms_->SendConnect();
  } else if (ProtocolFlags & pfHttp) {
    http_->SendRequest();
  }
}

int32_t TMMS::CollectResponseHeader(const uint8_t* block, int32_t length) {
  if (!awaiting_response_header_) return 0;
  static constexpr char kStatus[] = "HTTP";
  const size_t had = response_header_.size();
  // Only the first bytes of a connection may open a response header.
  const size_t check = std::min<size_t>(4, had + static_cast<size_t>(length));
  for (size_t i = had; i < check; ++i) {
    if (block[i - had] != static_cast<uint8_t>(kStatus[i])) {
      awaiting_response_header_ = false;
      if (had > 0) {
        std::string held;
        held.swap(response_header_);
        if (ProtocolFlags & (pfMmsTcp | pfMmsUdp)) {
          mms_->OnTcpData(reinterpret_cast<const uint8_t*>(held.data()),
                          static_cast<int32_t>(held.size()));
        } else {
          WriteRing(held.data(), static_cast<int32_t>(held.size()));
        }
      }
      return 0;
    }
  }
  const size_t room = kMaxResponseHeader - had;
  const size_t take = std::min<size_t>(room, static_cast<size_t>(length));
  response_header_.append(reinterpret_cast<const char*>(block), take);
  const size_t from = had >= 3 ? had - 3 : 0;
  const size_t end = response_header_.find("\r\n\r\n", from);
  if (end != std::string::npos) {
    const size_t headerLength = end + 4;
    response_header_.resize(headerLength);
    awaiting_response_header_ = false;
    http_->ParseResponseHeader(response_header_);
    return static_cast<int32_t>(headerLength - had);
  }
  if (response_header_.size() >= static_cast<size_t>(kMaxResponseHeader)) {
    awaiting_response_header_ = false;
    response_header_.clear();
    Post("HTTP: no http header has no ending", mcFatal);
    Terminate();
  }
  return length;  // all of it belongs to the header (or is dropped with it)
}

void TMMS::TcpDataReceived(TTCP*, const uint8_t* block, int32_t length) {
  if (length <= 0) return;
  last_receive_ms_ = NowMs();
  BytesSinceTick += static_cast<uint32_t>(length);
  ReceivesSinceTick += 1;
  const int32_t used = CollectResponseHeader(block, length);
  if (used < length) {
    if (ProtocolFlags & (pfMmsTcp | pfMmsUdp)) {
      mms_->OnTcpData(block + used, length - used);
    } else {
      WriteRing(block + used, length - used, false);
    }
  }
  // One wake for everything the block brought (the units were stored quietly).
  ring_.WakeReaders();
}

void TMMS::TransportMessage(TTCP*, const std::string& text, int32_t code) {
  if (ProtocolFlags & pfMmsUdp) StopResendTimer();
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
  if (connection_replaced_.load(std::memory_order_acquire)) return;
  if (ProtocolFlags & pfMmsUdp) StopResendTimer();
  if (awaiting_response_header_ && !response_header_.empty()) {
    awaiting_response_header_ = false;
    response_header_.clear();
    Post("HTTP: no http header has no ending", mcFatal);
    Terminate();
    return;
  }
  if (StreamKind & skProgressive) {
    // The loop reports completion once it has written everything the ring still holds.
    progressive_ended_.store(true, std::memory_order_release);
  } else {
    Post("Disconnected", mcNotice);
    // The loop ends the session once it has used what the ring still holds (unless the end of
    // the stream was among it).
    connection_closed_.store(true, std::memory_order_release);
  }
  WakeLoop();
}

void TMMS::UdpDataReceived(TUDP* sender, const uint8_t* block, int32_t length,
                           const std::string& address, uint16_t) {
  if (!(ProtocolFlags & pfMmsUdp) || length <= 0) return;
  // The port is open to every host: only the server we are talking to sends our media (from
  // whatever port it likes), and a neighbour's stream or a forged datagram must not reach the file.
  if (sender == nullptr || !sender->RemoteHost || address != *sender->RemoteHost) return;
  last_receive_ms_ = NowMs();
  BytesSinceTick += static_cast<uint32_t>(length);
  ReceivesSinceTick += 1;
  if (mms_->OnUdpDatagram(block, length)) WriteRing(block, length, false);
}

void TMMS::UdpDataDelivered(TUDP*) {
  // The datagrams of one handover were stored quietly: the loop wakes once for all of them.
  ring_.WakeReaders();
}

void TMMS::UdpMessage(TUDP*, const std::string& text, uint32_t code) {
  StopResendTimer();
  Post(text, code);
}

namespace {

// 1234567 -> "1 234 567": counts a person reads in a log line.
std::string GroupedCount(uint64_t value) {
  std::string digits = std::to_string(value);
  for (int64_t at = static_cast<int64_t>(digits.size()) - 3; at > 0; at -= 3)
    digits.insert(static_cast<size_t>(at), " ");
  return digits;
}

std::string ClockText(uint32_t ms) {
  const uint32_t seconds = ms / 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", seconds / 3600, seconds / 60 % 60,
                seconds % 60);
  return text;
}

}  // namespace

bool TMMS::BeginResume(uint32_t& start) {
  AsfResumePoint point;
  std::string why = "there is no save file";
  if (!SaveFile || !Asf || !SaveFile->FindResumePoint(point, why)) {
    Post("Cannot resume: " + why, mcFatal);
    return false;
  }
  packets_.BeginResume(point);
  start = point.lastSendTime + point.timeBase;
  const uint64_t total = Asf->DataPacketsCount;
  std::string text =
      "- Resuming at " + ClockText(point.lastSendTime) + " (packet " + GroupedCount(point.packets);
  if (total > 0 && point.timeBase == 0) text += " of " + GroupedCount(total);
  text += ")";
  Post(text, mcNormal);
  if (total > 0 && point.timeBase == 0 && point.packets >= total)
    Post("- The file already holds the whole clip: it is checked and left as it is", mcNormal);
  return true;
}

}  // namespace qor
