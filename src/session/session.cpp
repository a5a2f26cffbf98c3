#include "session/session.h"

#include "asf/asf.h"
#include "net/tcp_client.h"
#include "net/udp_receiver.h"
#include "session/carry_over.h"
#include "session/http_protocol.h"
#include "session/media_packet_path.h"
#include "session/mms_protocol.h"
#include "session/rtsp_protocol.h"
#include "session/session_input.h"
#include "session/session_port.h"
#include "session/session_protocol.h"
#include "support/helper.h"

namespace qor {

// The session as its protocol sees it: each call goes to the part of TMMS that does it.
class TMMS::Port final : public SessionPort {
 public:
  explicit Port(TMMS& session) : s_(session) {}

  const SessionConfig& Config() const override { return s_.config_; }
  SessionCounters& Counters() override { return s_.counters_; }
  void Post(const std::string& text, uint32_t code) override { s_.Post(text, code); }
  TASF& Asf() override { return *s_.Asf; }
  SessionInput& Input() override { return *s_.input_; }
  MediaPacketPath& Media() override { return *s_.media_; }

  bool Terminated() const override { return s_.Terminated(); }
  void Terminate() override { s_.Terminate(); }
  void StopAll() override { s_.Stop(); }

  int32_t SendTcp(const void* data, int32_t length) override { return s_.SendTcp(data, length); }
  int32_t SendUdp(const void* data, int32_t length) override { return s_.SendUdp(data, length); }
  int32_t SendUdpTo(UdpOrigin from, int32_t port, const void* data, int32_t length) override {
    return s_.SendUdpTo(from, port, data, length);
  }
  int32_t SendTcpNow(const void* data, int32_t length) override {
    return s_.SendTcpNow(data, length);
  }
  void Connect(const Endpoint& where) override { s_.StartTcpTransport(where.host, where.port); }
  std::string LocalAddress() const override { return s_.local_address_; }
  int32_t LocalPort() const override { return s_.counters_.LocalPort.load(); }
  int32_t UdpLocalPort() const override { return s_.UdpLocalPort(); }
  int32_t UdpControlPort() const override { return s_.UdpLocalPort(true); }
  void WaitForUdpReceiver() override { s_.WaitForUdpReceiver(); }
  void ResendsPending() override { s_.ResendsPending(); }
  void ResendsSettled(const std::function<bool()>& pending) override { s_.ResendsSettled(pending); }

 private:
  TMMS& s_;
};

TMMS::TMMS(int32_t ringSize) : port_(std::make_unique<Port>(*this)) {
  input_ = std::make_unique<SessionInput>(*port_, ringSize);
  media_ = std::make_unique<MediaPacketPath>(*port_);
  resend_timer_.OnTimer = [this](TMMTimer*) {
    if (protocol_) protocol_->ResendTick();
  };
  InitFields();
}

TMMS::~TMMS() {
  TerminateAndWait();
  // No resend tick may run once the transports it sends on are gone.
  resend_timer_.Stop();
  std::shared_ptr<TTCP> tcp;
  std::shared_ptr<TUDP> udp, control;
  std::vector<std::shared_ptr<TTCP>> retiredTcp;
  std::vector<std::shared_ptr<TUDP>> retiredUdp;
  {
    std::lock_guard<std::mutex> lock(transport_mutex_);
    tcp = std::move(tcp_);
    udp = std::move(udp_);
    control = std::move(udp_control_);
    retiredTcp.swap(retired_tcp_);
    retiredUdp.swap(retired_udp_);
  }
  tcp.reset();
  udp.reset();
  control.reset();
  retiredTcp.clear();
  retiredUdp.clear();
}

void TMMS::InitFields() {
  // Which session this is, its time-outs and its questions to the user are the window's to set
  // and stay as they are.
  SessionConfig fresh;
  fresh.Source = Source;
  fresh.Timeouts = Timeouts;
  fresh.Prompts = std::move(Prompts);
  fresh.ClientGuid = THelper::NewGuidText();
  static_cast<SessionConfig&>(*this) = std::move(fresh);
  config_ = SessionConfig{};
  Asf = nullptr;
  Messages = nullptr;
  SaveFile.reset();
  NextEntry = std::make_shared<CarryOver>();
  PreviousEntry.reset();
  counters_.Reset();
  input_->Reset();
  media_->Reset();
  protocol_.reset();
  local_address_.clear();
  response_header_.Reset();
}

void TMMS::Post(const std::string& text, uint32_t code) const {
  if (Messages) Messages->Post(text, code, Source);
}

SessionStatus TMMS::Status() const {
  return counters_.Snapshot(input_->MediaArrived());
}

bool TMMS::MediaArrived() const {
  return input_->MediaArrived();
}

TMMS::TickCounts TMMS::TakeTickCounts() {
  return {counters_.BytesSinceTick.exchange(0), counters_.ReceivesSinceTick.exchange(0)};
}

MmsServerTexts TMMS::GetServerTexts() const {
  return counters_.GetServerTexts();
}

void TMMS::Start() {
  // UDP data always comes with the TCP command connection.
  if (ProtocolFlags & pfMmsUdp) ProtocolFlags = pfMmsTcp | pfMmsUdp;
  // One RTSP transport per try: UDP data when both are asked for.
  if (ProtocolFlags & pfRtspUdp) {
    ProtocolFlags = pfRtspUdp;
  } else if (ProtocolFlags & pfRtspTcp) {
    ProtocolFlags = pfRtspTcp;
  }
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
  if (input_->Ring().Size() == 0) {
    Post("MMS Class - No circular buffer object specified", mcFatal);
    return;
  }
  // The helper and the error-code handler belong to the protocols, so they always exist.
  if (ProtocolFlags & pfHttp) ConnectPort = HttpPort;
  config_ = *this;
  // The proxy setting names an HTTP proxy, which does not carry RTSP: an RTSP session goes to
  // the server itself.
  if (config_.Rtsp()) config_.UseProxy = 0;
  media_->Begin(SaveFile, PreviousEntry, NextEntry);
  if (config_.Rtsp()) {
    protocol_ = std::make_unique<RtspProtocol>(*port_);
  } else if (ProtocolFlags & (pfMmsTcp | pfMmsUdp)) {
    protocol_ = std::make_unique<MmsProtocol>(*port_);
  } else {
    protocol_ = std::make_unique<HttpProtocol>(*port_);
  }
  input_->RestartStageClock();
  if (ProtocolFlags & (pfHttp | pfMmsTcp | pfRtspUdp | pfRtspTcp))
    StartTcpTransport(Host, ConnectPort);
  TThread::Start();
}

void TMMS::Execute() {
  // What the shared ASF model reports while this thread parses belongs to this session.
  ScopedThreadMessageSource tag(Source);
  if (protocol_) {
    protocol_->Run();
  } else {
    Post("TMMS: Invalid protocol selected", mcFatal);
  }
}

void TMMS::TerminateRequested() {
  input_->WakeLoop();
  // Set at Start and not replaced while the thread runs.
  if (protocol_) protocol_->WakeWaits();
  if (PreviousEntry) PreviousEntry->Interrupt();
}

void TMMS::Stop() {
  // The protocol's last word goes out on the connection before it closes.
  if (protocol_) protocol_->Stopping();
  Terminate();
  if (config_.MediaOverUdp()) StopResendTimer();
  std::shared_ptr<TTCP> tcp;
  std::shared_ptr<TUDP> udp, control;
  {
    std::lock_guard<std::mutex> lock(transport_mutex_);
    stopped_ = true;
    tcp = tcp_;
    udp = udp_;
    control = udp_control_;
  }
  if (tcp) tcp->Close();
  if (udp) udp->Stop();
  if (control) control->Stop();
  Release(tcp);
  Release(udp);
  Release(control);
}

bool TMMS::IsConnected() const {
  std::lock_guard<std::mutex> lock(transport_mutex_);
  return tcp_ && tcp_->IsActive();
}

// ---- Counters ----

void SessionCounters::Reset() {
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
  ProxyInUse = 0;
  Progressive = 0;
  LocalPort = 0;
  StreamCut = false;
  BytesSinceTick = 0;
  ReceivesSinceTick = 0;
  SetServerTexts({});
}

SessionStatus SessionCounters::Snapshot(bool mediaArrived) const {
  SessionStatus s;
  s.StreamKind = StreamKind.load();
  s.HeaderLength = HeaderLength.load();
  s.PacketSize = PacketSize.load();
  s.PacketNumber = PacketNumber.load();
  s.SendTime = SendTime.load();
  s.RecoveredPackets = RecoveredPackets.load();
  s.LostPackets = LostPackets.load();
  s.Acknowledgements = Acknowledgements.load();
  s.ClientId = ClientId.load();
  s.MaxStreamRate = MaxStreamRate.load();
  s.ProxyInUse = ProxyInUse.load();
  s.Progressive = Progressive.load();
  s.LocalPort = LocalPort.load();
  s.MediaArrived = mediaArrived;
  s.StreamCut = StreamCut.load();
  return s;
}

MmsServerTexts SessionCounters::GetServerTexts() const {
  std::lock_guard<std::mutex> lock(texts_mutex_);
  return server_texts_;
}

void SessionCounters::SetServerTexts(const MmsServerTexts& texts) {
  std::lock_guard<std::mutex> lock(texts_mutex_);
  server_texts_ = texts;
}

}  // namespace qor
