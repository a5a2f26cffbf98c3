// The MMS side: the command dialogue on the TCP connection, the header and media packets on it
// or as UDP datagrams, pings, play-list entry changes and the requested faults.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>
#include <random>
#include <string>

#include <arpa/inet.h>

#include "data_units.h"
#include "faults.h"
#include "mms_message.h"
#include "packet_feed.h"
#include "server.h"
#include "stream_filter.h"
#include "support/base64.h"

namespace qor::server {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kFileNotFound = 0x80070002;
constexpr uint32_t kAccessDenied = 0x80070005;
constexpr uint32_t kInvalidArgument = 0x80070057;
constexpr int kMaxPasswordTries = 3;
constexpr int kMaxUnansweredPings = 3;
constexpr int kBatch = 32;  // packets between looks at the client's commands when unpaced

std::string Hex(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", v);
  return text;
}

// The reply a failure code is given on, for each command.
uint16_t ReplyIdFor(uint16_t command) {
  switch (command) {
    case mms::kConnect:
      return mms::kReportConnected;
    case mms::kTimingRequest:
      return mms::kReportFunnelInfo;
    case mms::kTransportSelect:
      return mms::kReportConnectedFunnel;
    case mms::kOpenFile:
      return mms::kReportOpenFile;
    case mms::kPasswordResponse:
      return mms::kReportOpenFile;
    case mms::kHeaderRequest:
      return mms::kReportReadBlock;
    case mms::kStreamSelection:
      return mms::kReportStreamSwitch;
    case mms::kStartPlay:
      return mms::kReportStartedPlaying;
    default:
      return command;
  }
}

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
  uint64_t sent_ = 0;
  uint8_t packetSequence_ = 0;
  int unansweredPings_ = 0;
  Clock::time_point lastPing_ = Clock::now();
  Clock::time_point lastCommand_ = Clock::now();
};

bool MmsSession::Reply(uint16_t id, uint32_t hr, uint32_t secondWord, const Bytes& fields) {
  Log("mms-reply", Hex(id) + (hr != 0 ? " hr=" + Hex(hr) : ""));
  return Send(BuildServerCommand(id, hr, secondWord, fields, sequence_++));
}

void MmsSession::Run() {
  std::string error;
  if (!ParseFaults(server_.Options().faults, faults_, error)) Log("mms-bad-faults", error);
  random_.seed(faults_.seed);
  CommandSplitter splitter;
  uint8_t block[8192];
  const int pingMs = std::max(100, server_.Options().pingIntervalMs);
  for (;;) {
    // Until the next packet is due, the next ping or the idle limit: the connection's thread
    // sleeps through a paced stream's gaps instead of waking on a period.
    int waitMs = NextLookMs(pingMs);
    if (playing_ && !Pump(waitMs)) return;
    size_t got = 0;
    const auto read = c_.ReadSome(block, sizeof block, got, std::max(waitMs, 0));
    if (read == Connection::Read::kData) {
      splitter.Feed(block, got);
      ClientCommand command;
      std::string reason;
      for (;;) {
        const auto next = splitter.Next(command, reason);
        if (next == CommandSplitter::Result::kNeedMore) break;
        if (next == CommandSplitter::Result::kGarbage) {
          Log("mms-garbage", reason);
          return;
        }
        lastCommand_ = Clock::now();
        if (!Handle(command)) return;
      }
      continue;
    }
    if (read != Connection::Read::kTimeout) {
      Log("mms-disconnect");
      return;
    }
    const auto now = Clock::now();
    if (now - lastPing_ >= std::chrono::milliseconds(pingMs)) {
      if (unansweredPings_ >= kMaxUnansweredPings) {
        Log("mms-no-pong", "closing");
        return;
      }
      lastPing_ = now;
      ++unansweredPings_;
      if (!Reply(mms::kPing, 0, 0, {})) return;
    }
    if (!playing_ &&
        now - lastCommand_ > std::chrono::milliseconds(server_.Options().idleTimeoutMs)) {
      Log("mms-idle", "closing");
      return;
    }
  }
}

bool MmsSession::Handle(const ClientCommand& command) {
  const uint16_t id = command.Id();
  Log("mms-command", Hex(id));
  if (const auto fail = faults_.failCommand.find(id); fail != faults_.failCommand.end()) {
    Log("fault-fail", Hex(id) + " " + Hex(fail->second));
    return Reply(ReplyIdFor(id), fail->second, 0, {});
  }
  switch (id) {
    case mms::kConnect:
      return OnConnect(command);
    case mms::kTimingRequest:
      return OnTiming(command);
    case mms::kTransportSelect:
      return OnTransport(command);
    case mms::kOpenFile:
      return OnOpenFile(command);
    case mms::kPasswordResponse:
      return OnPassword(command);
    case mms::kHeaderRequest:
      return OnHeaderRequest(command);
    case mms::kStreamSelection: {
      const uint32_t count = std::min<uint32_t>(command.Word(40), 64);
      const Reader reader(command.message);
      std::string streams;
      choice_ = {};
      for (uint32_t i = 0; i < count; ++i) {
        const uint16_t stream = reader.U16(44 + 6 * i + 2);
        const uint16_t action = reader.U16(44 + 6 * i + 4);
        streams += " " + std::to_string(stream) + (action == 0 ? "" : "/off");
        if (stream > 0 && stream < 0x80) choice_.named.insert(static_cast<uint8_t>(stream));
        // Action 0 sends the stream; anything else (2 is off) leaves it out.
        if (action == 0 && stream > 0 && stream < 0x80)
          choice_.streams.insert(static_cast<uint8_t>(stream));
      }
      Log("mms-streams", std::to_string(count) + ":" + streams);
      return Reply(mms::kReportStreamSwitch, 0, 0, {});
    }
    case mms::kStartPlay:
      return OnStartPlay(command);
    case mms::kStopPlay:
      playing_ = false;
      pending_.reset();
      return Reply(mms::kReportEndOfStream, 0, 0, {});
    case mms::kPong:
      unansweredPings_ = 0;
      return true;
    case mms::kCloseFile:
      Log("mms-close");
      return false;
    default:
      Log("mms-unknown-command", Hex(id));
      return true;
  }
}

bool MmsSession::OnConnect(const ClientCommand& command) {
  Log("mms-connect", command.Text(44));
  const bool challenge = !server_.Options().password.empty() || !faults_.password.empty();
  const std::string texts[4] = {"9.01.01.3814", "9.01.01.3814", "", challenge ? "BASIC" : ""};
  Bytes f;
  PutU32(f, 0x0004000B);
  PutU32(f, 0x0003001C);
  PutDouble(f, 1.0);
  PutU32(f, 1);
  PutU32(f, 1);
  PutU32(f, 0x8000);
  PutU32(f, 0x00989680);
  for (const auto& t : texts) PutU32(f, t.empty() ? 0 : static_cast<uint32_t>(t.size() + 1));
  for (const auto& t : texts)
    if (!t.empty()) PutUtf16(f, t, true);
  return Reply(mms::kReportConnected, 0,
               server_.Options().packetPair ? mms::kTimingSupported : mms::kTimingUnsupported, f);
}

bool MmsSession::OnTiming(const ClientCommand& command) {
  const uint32_t word = command.Word(40);
  Log("mms-timing", Hex(word));
  const bool pairs = server_.Options().packetPair;
  int replies = 1;
  uint32_t incarnation = mms::kTimingUnsupported;
  if (pairs && word == mms::kTcpPacketPair) {
    replies = 3;
    incarnation = mms::kTcpPacketPair;
  } else if (pairs && word == mms::kUdpPacketPair) {
    incarnation = mms::kUdpPacketPair;
    udpTimingWanted_ = true;
  }
  Bytes f;
  PutU32(f, 8);
  PutU32(f, 1);
  PutU32(f, 0x10000);
  PutU32(f, clientId_);
  PutU32(f, 0);
  PutU32(f, 1);
  PutU32(f, 0);
  PutU32(f, 0);
  for (int i = 0; i < replies; ++i)
    if (!Reply(mms::kReportFunnelInfo, 0, incarnation, f)) return false;
  return true;
}

bool MmsSession::OnTransport(const ClientCommand& command) {
  const std::string text = command.Text(60);
  Log("mms-transport", text);
  // "\\address\TCP\port" or "\\address\UDP\port"
  const size_t udpAt = text.find("\\UDP\\");
  const bool tcp = text.find("\\TCP\\") != std::string::npos;
  const bool switchedOff =
      udpAt == std::string::npos ? !server_.Options().mmsTcp : !server_.Options().mmsUdp;
  if (faults_.refuseTransport || switchedOff || (!tcp && udpAt == std::string::npos)) {
    if (faults_.refuseTransport) Log("fault-refuse-transport");
    if (switchedOff) Log("transport-off");
    return Reply(mms::kReportDisconnectedFunnel, kInvalidArgument, 0, {});
  }
  Bytes f;
  PutU32(f, 0);  // packet payload size
  PutUtf16(f, "Funnel Of The Gods", true);
  if (udpAt == std::string::npos) {
    udp_.reset();
    return Reply(mms::kReportConnectedFunnel, 0, 0, f);
  }
  const long port = std::strtol(text.c_str() + udpAt + 5, nullptr, 10);
  if (!server_.Udp().Running() || port <= 0 || port > 65535)
    return Reply(mms::kReportDisconnectedFunnel, kInvalidArgument, 0, {});
  // Datagrams only ever go to the address the control connection came from.
  sockaddr_storage to = peer_;
  SetAddressPort(to, static_cast<uint16_t>(port));
  udp_ = std::make_shared<UdpStream>(id_, clientId_, to, !faults_.ignoreResends);
  server_.Udp().Register(udp_);
  if (!Reply(mms::kReportConnectedFunnel, 0, 0, f)) return false;
  if (udpTimingWanted_ && !server_.Options().blockUdp) {
    const Bytes filler(64, 0);
    for (int i = 0; i < 4; ++i)
      server_.Udp().Send(to, BuildDataPacket(0, kTagTiming, 0x10, filler.data(), filler.size()));
    Log("mms-udp-timing", "4 datagrams");
  }
  return true;
}

bool MmsSession::OnOpenFile(const ClientCommand& command) {
  std::string name, query, error;
  SplitQuery(command.Text(56), name, query);
  while (!name.empty() && name.front() == '/') name.erase(0, 1);
  Log("mms-open", name + (query.empty() ? "" : "?" + query));
  if (!ParseFaults(query, faults_, error)) {
    Log("mms-bad-faults", error);
    return Reply(mms::kReportOpenFile, kInvalidArgument, 0, {});
  }
  random_.seed(faults_.seed);
  if (udp_)
    udp_ = std::make_shared<UdpStream>(id_, clientId_, udp_->Destination(), !faults_.ignoreResends);
  if (udp_) server_.Udp().Register(udp_);
  openName_ = PercentDecode(name);
  const std::string& credentials =
      faults_.password.empty() ? server_.Options().password : faults_.password;
  if (!credentials.empty() && !passwordPassed_) {
    openPending_ = true;
    return SendChallenge();
  }
  return FinishOpen();
}

bool MmsSession::SendChallenge() {
  const std::string text = "Basic realm=\"qor-server\"";
  Bytes f;
  PutU32(f, static_cast<uint32_t>(text.size() * 2));
  PutUtf16(f, text, false);
  return Reply(mms::kSecurityChallenge, 0, 0, f);
}

bool MmsSession::OnPassword(const ClientCommand& command) {
  const Reader r(command.message);
  const uint32_t declared = r.U32(48);
  // Clients count the field as the text plus 4 or plus 5; take the text up to the first NUL.
  std::string given;
  for (size_t i = 0; i < declared && r.Has(52 + i, 1); ++i) {
    const char c = static_cast<char>(r.U8(52 + i));
    if (c == '\0') break;
    given.push_back(c);
  }
  const std::string& credentials =
      faults_.password.empty() ? server_.Options().password : faults_.password;
  const bool good = !credentials.empty() &&
                    (given == credentials || Base64Coder::DecodeString(given) == credentials);
  Log("mms-password", good ? "accepted" : "refused");
  if (good) {
    passwordPassed_ = true;
    if (!openPending_) return true;
    openPending_ = false;
    return FinishOpen();
  }
  if (++passwordTries_ < kMaxPasswordTries) return SendChallenge();
  return Reply(mms::kReportOpenFile, kAccessDenied, 0, {});
}

bool MmsSession::FinishOpen() {
  entry_ = server_.Media().Find(openName_);
  if (entry_.kind != Catalog::Kind::kStream && entry_.kind != Catalog::Kind::kLive) {
    entry_ = {};
    return Reply(mms::kReportOpenFile, kFileNotFound, 0, {});
  }
  const bool live = entry_.kind == Catalog::Kind::kLive;
  const bool strip = faults_.stripPadding.value_or(server_.Options().stripPadding);
  if (live) feed_.emplace(entry_.live, strip);
  uint32_t attributes = 0;
  double duration = 0;
  uint64_t packets = 0;
  uint32_t packetSize = 0, bitRate = 0;
  size_t headerSize = 0;
  if (live) {
    attributes = 0x02000000 | 0x04000000 | (entry_.live->Playlist() ? 0x40000000 : 0);
    packetSize = feed_->PacketSize();
    headerSize = feed_->Header().size();
    bitRate = entry_.live->Entry(0).BitRate();
  } else {
    const MediaSource& m = *entry_.media;
    attributes = 0x00800000 | 0x01000000;
    duration = m.DurationSeconds();
    packets = m.PacketCount();
    packetSize = m.PacketSize();
    bitRate = m.BitRate();
    headerSize = m.Header().size();
  }
  Bytes f;
  PutU32(f, 1);  // open file id
  PutU32(f, 0);
  PutU32(f, 0);  // file name (unused)
  PutU32(f, attributes);
  PutDouble(f, duration);
  PutU32(f, static_cast<uint32_t>(std::ceil(duration)));
  f.resize(f.size() + 16, 0);
  PutU32(f, packetSize);
  PutU64(f, packets);
  PutU32(f, bitRate);
  PutU32(f, static_cast<uint32_t>(headerSize));
  f.resize(f.size() + 36, 0);
  return Reply(mms::kReportOpenFile, 0, 0, f);
}

bool MmsSession::SendHeaderPieces(const Bytes& header) {
  if (faults_.trickleAfter == kTrickleHeader) {
    Log("fault-trickle", "the header on, " + std::to_string(faults_.trickleMs) + " ms a byte");
    if (!Flush()) return false;
    c_.Trickle(faults_.trickleMs);
  }
  size_t pieces = (header.size() + kMaxDataPayload - 1) / kMaxDataPayload;
  if (faults_.headerPieces > 0)
    pieces = std::max(pieces, static_cast<size_t>(faults_.headerPieces));
  pieces = std::max<size_t>(pieces, 1);
  const size_t step = (header.size() + pieces - 1) / pieces;
  uint32_t index = 0;
  for (size_t at = 0; at < header.size(); at += step, ++index) {
    const size_t size = std::min(step, header.size() - at);
    const bool first = at == 0, last = at + size >= header.size();
    const uint8_t flags = first && last ? 0x0C : first ? 0x04 : last ? 0x08 : 0x00;
    const Bytes unit = BuildDataPacket(index, headerTag_, flags, header.data() + at, size);
    if (faults_.cutHeader) {
      c_.WriteAll(unit.data(), kDataPacketHeaderLength + size / 2);
      Log("fault-cut-header");
      return false;
    }
    if (!Send(unit)) return false;
  }
  Log("mms-header",
      std::to_string(header.size()) + " bytes in " + std::to_string(index) + " pieces");
  return true;
}

bool MmsSession::OnHeaderRequest(const ClientCommand& command) {
  if (entry_.kind == Catalog::Kind::kMissing)
    return Reply(mms::kReportReadBlock, kInvalidArgument, 0);
  const uint8_t tag = Reader(command.message).U8(80);
  headerTag_ = tag != 0 ? tag : kTagHeader;
  Bytes f;
  PutU32(f, 0);
  if (!Reply(mms::kReportReadBlock, 0, 0, f)) return false;
  return SendHeaderPieces(feed_ ? feed_->Header() : entry_.media->Header());
}

bool MmsSession::OnStartPlay(const ClientCommand& command) {
  if (entry_.kind == Catalog::Kind::kMissing)
    return Reply(mms::kReportStartedPlaying, kInvalidArgument, 0);
  const double seconds = command.Double(48);
  const uint32_t location = command.Word(60);
  const uint8_t tag = Reader(command.message).U8(68);
  mediaTag_ = tag != 0 ? tag : kTagMedia;
  const bool strip = faults_.stripPadding.value_or(server_.Options().stripPadding);
  if (entry_.kind == Catalog::Kind::kStream) {
    const MediaSource& m = *entry_.media;
    uint64_t first = 0;
    if (location != 0xFFFFFFFF && location < m.PacketCount())
      first = location;
    else if (std::isfinite(seconds) && seconds > 0)
      first = m.PacketForTime(static_cast<uint32_t>(std::min(seconds * 1000.0, 4.0e9)));
    feed_.emplace(entry_.media, first, strip);
    Log("mms-play", openName_ + " from packet " + std::to_string(first));
  } else {
    if (!feed_) feed_.emplace(entry_.live, strip);
    Log("mms-play", openName_ + " live");
  }
  feed_->Choose(choice_);
  Bytes f(16, 0);  // file id 1, then 12 zero bytes
  f[0] = 1;
  if (!Reply(mms::kReportStartedPlaying, 0, 0, f)) return false;
  playing_ = true;
  pending_.reset();
  playStart_ = Clock::now();
  sent_ = 0;
  return true;
}

bool MmsSession::SendDatagram(uint32_t sequence, const Bytes& datagram) {
  if (server_.Options().blockUdp) return true;
  if (faults_.dropList.count(sequence) != 0 || Chance(faults_.dropShare)) {
    Log("fault-drop", std::to_string(sequence));
    return true;
  }
  if (!heldDatagram_ && Chance(faults_.reorderShare)) {
    Log("fault-reorder", std::to_string(sequence));
    heldDatagram_ = datagram;
    return true;
  }
  server_.Udp().Send(udp_->Destination(), datagram);
  if (Chance(faults_.duplicateShare)) {
    Log("fault-duplicate", std::to_string(sequence));
    server_.Udp().Send(udp_->Destination(), datagram);
  }
  if (heldDatagram_) {
    server_.Udp().Send(udp_->Destination(), *heldDatagram_);
    heldDatagram_.reset();
  }
  return true;
}

bool MmsSession::SendMedia(const FeedItem& item) {
  const auto n = static_cast<int64_t>(sent_);
  if (faults_.disconnectAfter >= 0 && n >= faults_.disconnectAfter) {
    Log("fault-disconnect", std::to_string(sent_) + " packets");
    return false;
  }
  if (entry_.kind == Catalog::Kind::kLive && server_.LiveDropDue(playStart_, Clock::now())) {
    Log("live-drop", std::to_string(sent_) + " packets");
    return false;
  }
  if (n == faults_.trickleAfter) {
    Log("fault-trickle", std::to_string(faults_.trickleMs) + " ms a byte");
    if (!Flush()) return false;
    c_.Trickle(faults_.trickleMs);
  }
  if (faults_.stallSeconds > 0 && n == faults_.stallAfter) {
    Log("fault-stall", std::to_string(faults_.stallSeconds) + " s");
    const double seconds = faults_.stallSeconds;
    faults_.stallSeconds = 0;
    if (!Flush() || !c_.Pause(static_cast<int64_t>(seconds * 1000))) return false;
  }
  if (n == faults_.unknownTagAfter) {
    Log("fault-unknown-tag");
    if (!Send(BuildDataPacket(item.locationId, 0x03, 0, item.bytes.data(), 16))) return false;
  }
  if (n == faults_.unknownCommandAfter) {
    Log("fault-unknown-command");
    if (!Send(BuildServerCommand(0x77, 0, 0, {}, sequence_++))) return false;
  }
  const uint8_t flags = udp_ ? static_cast<uint8_t>(udpSequence_) : packetSequence_++;
  const bool badLength = n == faults_.badLengthAfter;
  if (badLength) Log("fault-bad-length");
  // The unit is built where it stays: the batch being gathered, or its UDP resend slot.
  const auto build = [&](Bytes& out) {
    const size_t at = out.size();
    AppendDataPacket(out, item.locationId, mediaTag_, flags, item.bytes.data(), item.bytes.size());
    if (badLength) StoreU16(out.data() + at + 6, 4);  // shorter than the packet's own header
  };
  ++sent_;
  if (udp_) {
    const uint32_t sequence = udpSequence_++;
    return SendDatagram(sequence, udp_->Keep(sequence, build));
  }
  if (server_.RateFor(entry_.kind == Catalog::Kind::kLive) <= 0) {
    build(queued_);
    return true;
  }
  Bytes unit;
  build(unit);
  return Send(unit);
}

int MmsSession::NextLookMs(int pingMs) const {
  const auto now = Clock::now();
  auto until = lastPing_ + std::chrono::milliseconds(pingMs);
  if (!playing_)
    until =
        std::min(until, lastCommand_ + std::chrono::milliseconds(server_.Options().idleTimeoutMs));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count() + 1;
  return static_cast<int>(std::clamp<int64_t>(ms, 0, INT32_MAX));
}

bool MmsSession::Pump(int& waitMs) {
  // What the batch queued goes out before anything else happens (a disconnection fault too).
  const bool pumped = PumpBatch(waitMs);
  return Flush() && pumped;
}

bool MmsSession::PumpBatch(int& waitMs) {
  const double rate = server_.RateFor(entry_.kind == Catalog::Kind::kLive);
  for (int batch = 0; playing_ && batch < kBatch; ++batch) {
    if (!pending_) pending_ = feed_->Next();
    FeedItem& item = *pending_;
    if (item.kind == FeedItem::Kind::kEnd) {
      playing_ = false;
      pending_.reset();
      if (heldDatagram_) {
        server_.Udp().Send(udp_->Destination(), *heldDatagram_);
        heldDatagram_.reset();
      }
      Log("mms-end", std::to_string(sent_) + " packets");
      Log("streams-sent", CountsText(feed_->Counts()));
      return Reply(mms::kReportEndOfStream, 0, 0, {});
    }
    if (item.kind == FeedItem::Kind::kEntryChange) {
      Log("mms-entry-change");
      Bytes f;
      PutU32(f, 0);
      // Some clients take the next header's tag from the byte at offset 47.
      if (!Reply(mms::kReportEndOfStream, 1, 0, {}) ||
          !Reply(mms::kReportStreamChange, 0, static_cast<uint32_t>(headerTag_) << 24, f) ||
          !SendHeaderPieces(item.bytes))
        return false;
      pending_.reset();
      continue;
    }
    if (rate > 0) {
      const auto due =
          playStart_ + std::chrono::milliseconds(static_cast<int64_t>(
                           static_cast<double>(item.scheduleMs - feed_->StartScheduleMs()) / rate));
      const auto now = Clock::now();
      if (due > now) {
        waitMs = static_cast<int>(std::min<int64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count() + 1, waitMs));
        return true;
      }
    }
    if (!SendMedia(item)) return false;
    pending_.reset();
  }
  waitMs = 0;
  return true;
}

}  // namespace

void ServeMms(Server& server, Connection& connection, uint64_t id, const sockaddr_storage& peer) {
  server.Log().Add(id, "mms-connect", AddressText(peer));
  MmsSession(server, connection, id, peer).Run();
}

}  // namespace qor::server
