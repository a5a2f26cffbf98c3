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
#include "mms_session.h"
#include "packet_feed.h"
#include "server.h"
#include "stream_filter.h"
#include "support/base64.h"

namespace qor::server {

namespace {

constexpr uint32_t kFileNotFound = 0x80070002;
constexpr uint32_t kAccessDenied = 0x80070005;
constexpr int kMaxPasswordTries = 3;
constexpr int kMaxUnansweredPings = 3;

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

}  // namespace

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

void ServeMms(Server& server, Connection& connection, uint64_t id, const sockaddr_storage& peer) {
  server.Log().Add(id, "mms-connect", AddressText(peer));
  MmsSession(server, connection, id, peer).Run();
}

}  // namespace qor::server
