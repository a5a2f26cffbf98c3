// The MMS command exchange: the client's commands and what each server reply leads to, from the
// connect command to the start of play, and the notices that arrive while playing.

#include <algorithm>

#include "asf/asf.h"
#include "platform/window_thread.h"
#include "session/media_packet_path.h"
#include "session/mms_protocol.h"
#include "session/mms_reply.h"
#include "session/session_input.h"
#include "session/session_port.h"
#include "support/helper.h"

namespace qor {

namespace {

constexpr uint32_t kMinPacketSize = 1;
constexpr uint32_t kMaxPacketSize = 1000000;

uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

// ---- Sending ----

void MmsProtocol::Send(const mms::Bytes& message) {
  port_.SendTcp(message.data(), static_cast<int32_t>(message.size()));
  command_sequence_.fetch_add(1);
}

void MmsProtocol::SendTransportSelect() {
  const SessionConfig& config = port_.Config();
  const bool udp = MediaOverUdp();
  // The server starts sending to the port once it knows it; a receiver thread that has not bound
  // it yet would miss the timing test and the first packets.
  if (udp) {
    port_.WaitForUdpReceiver();
    const int32_t bound = port_.UdpLocalPort();
    if (bound == 0) {
      // Telling the server a port nobody here listens on would send the clip to whoever holds it.
      if (!port_.Terminated())
        port_.Post("TMMS: no UDP port could be bound, the data cannot be received", mcFatal);
      port_.Terminate();
      return;
    }
    if (bound == config.UdpPort) {
      port_.Post("Local UDP Port \t" + THelper::IntText(bound), mcNormal);
    } else {
      port_.Post("UDP port " + THelper::IntText(config.UdpPort) + " is in use; receiving on " +
                     THelper::IntText(bound) + " instead",
                 mcWarning);
    }
  }
  const auto port = static_cast<uint32_t>(udp ? port_.UdpLocalPort() : port_.LocalPort());
  Send(mms::BuildTransportSelect(command_sequence_, server_incarnation_, port_.LocalAddress(), udp,
                                 port));
}

void MmsProtocol::SendOpenFile() {
  Send(mms::BuildOpenFile(command_sequence_, file_number_, port_.Config().Path));
}

void MmsProtocol::SendStartPlay(uint32_t positionMs) {
  if (mms::StartPlayRefused(positionMs, port_.Counters().StreamKind.load())) {
    port_.Post(mms::kLiveSeekRefusal, mcFatal);
    return;
  }
  Send(mms::BuildStartPlay(command_sequence_, file_number_, positionMs));
}

void MmsProtocol::SendHeaderRequest() {
  Enter(State::kHeader);
  Send(mms::BuildHeaderRequest(command_sequence_, file_number_));
}

void MmsProtocol::SendTimingRequest() {
  int32_t state = timing_state_;
  const mms::Bytes message = mms::BuildTimingRequest(command_sequence_, state, MediaOverUdp());
  timing_state_ = state;
  Send(message);
}

void MmsProtocol::SendPong() {
  Send(mms::BuildPong(command_sequence_, file_number_));
  port_.Counters().Acknowledgements.fetch_add(1);
}

void MmsProtocol::SendStreamSelection() {
  std::vector<uint16_t> streams;
  const TASF& asf = port_.Asf();
  const uint32_t count = std::min<uint32_t>(asf.StreamCount, kAsfSlots);
  for (uint32_t i = 0; i < count; ++i) streams.push_back(asf.StreamNumbers[i]);
  const std::vector<uint8_t>& leftOut = port_.Media().LeftOutStreams();
  const std::vector<uint16_t> off(leftOut.begin(), leftOut.end());
  Send(mms::BuildStreamSelection(command_sequence_, streams, off));
}

// ---- Replies ----

void MmsProtocol::HandleCommand(uint32_t total) {
  const mms::ReplyView reply(buffer_.data(), total);
  const uint8_t id = reply.CommandId();
  // After the end, pings are still answered so the server does not drop us before we stop.
  if (Ended() && id != mms::kReplyPing) return;
  switch (id) {
    case mms::kReplyConnected:
      HandleConnected(total);
      break;
    case mms::kReplyTransportAccepted:
      SendOpenFile();
      break;
    case mms::kReplyTransportRefused:
      port_.Post("Error: 02 protocol select failure", mcFatal);
      break;
    case mms::kReplyStartedPlaying:
      port_.Post("", mcStarted);
      break;
    case mms::kReplyFileOpened:
      HandleFileOpened(total);
      break;
    case mms::kReplyHeaderNotification:
      port_.Post("- Header notification received...", mcNormal);
      break;
    case mms::kReplyFunnelInfo:
      HandleFunnelInfo(total);
      break;
    case mms::kReplyPasswordRequired:
      HandlePasswordRequired(total);
      break;
    case mms::kReplyPing:
      SendPong();
      break;
    case mms::kReplyEndOfStream:
      // Result 1: this play-list entry is over and a stream change follows; the change is what
      // the window acts on.
      if (reply.ResultCode() != 1) EndOfStream(mcCompleted);
      break;
    case mms::kReplyStreamChange:
      HandleStreamChange();
      break;
    case mms::kReplyStreamSelectionAccepted:
      HandleStreamSelectionAccepted();
      break;
    default:
      port_.Post("The current MMS command was unhandled", mcMedia);
      PostHexDump(buffer_.data(), total, mcFatal);
      port_.Terminate();
      break;
  }
}

void MmsProtocol::HandleConnected(uint32_t total) {
  const mms::ReplyView reply(buffer_.data(), total);
  SessionCounters& counters = port_.Counters();
  counters.SetServerTexts({});
  if (mms::ServerRunsNoTimingTests(reply)) {
    port_.Post("Server does not support timing packets", mcWarning);
    timing_state_ = 0;
  } else {
    timing_state_ = 3;
  }
  const mms::ServerTexts texts = mms::ReadServerTexts(reply);
  counters.SetServerTexts(
      {texts.ServerVersion, texts.ToolVersion, texts.UpdateUrl, texts.EncryptionType});
  SendTimingRequest();
}

void MmsProtocol::HandleFileOpened(uint32_t total) {
  const mms::OpenFileFields fields = mms::ReadOpenFile(mms::ReplyView(buffer_.data(), total));
  SessionCounters& counters = port_.Counters();
  counters.StreamKind = fields.Live() ? skLive : skPrerecorded;
  if (fields.packetSize < kMinPacketSize || fields.packetSize > kMaxPacketSize) {
    port_.Post("TMMS: invalid packet size from server", mcFatal);
    port_.Terminate();
    return;
  }
  const std::function<void()>& accepted = port_.Config().Prompts.MmsCredentialsAccepted;
  if (credentials_sent_ && accepted) {
    credentials_sent_ = false;
    WindowThread* window = WindowThread::Current();
    if (window == nullptr || window->IsWindowThread()) {
      accepted();
    } else {
      window->Queue(accepted);
    }
  }
  counters.PacketSize = fields.packetSize;
  counters.MaxStreamRate = fields.maxStreamRate;
  counters.HeaderLength = fields.headerLength;
  if (fields.Live() && port_.Config().Resuming()) {
    port_.Post("Error: - A live stream was detected !", mcWarning);
    port_.Post("You cannot resume live streams, please select overwrite", mcFatal);
    return;
  }
  port_.Post("- Requesting ASF header...waiting", mcNormal);
  SendHeaderRequest();
}

void MmsProtocol::HandleFunnelInfo(uint32_t total) {
  const mms::ReplyView reply(buffer_.data(), total);
  uint8_t id[4];
  mms::ReadClientId(reply, id);
  port_.Counters().ClientId = LoadU32(id);
  ++timing_replies_;
  if (timing_state_ == 1) {
    // A server that cannot run the test says so in its one funnel reply instead of sending three.
    const bool declined = reply.SecondWord() == mms::kNoTimingTestsAlt;
    if (timing_replies_ < 3 && !declined) return;
    timing_replies_ = 0;
    if (!declined) port_.Post("TCP network timing packets received", mcNormal);
  }
  SendTransportSelect();
}

void MmsProtocol::HandlePasswordRequired(uint32_t total) {
  challenge_text_ += mms::ReadChallenge(mms::ReplyView(buffer_.data(), total));
  const std::optional<std::string> credentials = WaitForCredentials(challenge_text_);
  if (!credentials) {
    if (!port_.Terminated()) port_.Post("Session aborted, connection now closing", mcFatal);
    return;
  }
  credentials_sent_ = true;
  port_.Input().RestartStageClock();
  Send(mms::BuildPasswordResponse(command_sequence_, file_number_, *credentials));
  file_number_.fetch_add(1);
}

std::optional<std::string> MmsProtocol::WaitForCredentials(const std::string& challenge) {
  const auto& prompt = port_.Config().Prompts.AskMmsCredentials;
  if (!prompt) return std::nullopt;
  // A stop while the user is still looking at the dialog wakes the wait (WakeWaits).
  std::optional<std::string> answer;
  credentials_answer_.Ask(
      [prompt, host = port_.Config().Host, challenge] { return prompt(host, challenge); },
      [this] { return port_.Terminated(); }, answer);
  return answer;
}

void MmsProtocol::WakeWaits() {
  credentials_answer_.Wake();
}

void MmsProtocol::HandleStreamSelectionAccepted() {
  if (!port_.Config().Resuming()) {
    SendStartPlay(port_.Config().OffsetMs);
    return;
  }
  uint32_t start = 0;
  uint32_t missing = 0;
  const bool resumes = port_.Media().BeginResume(start, missing);
  if (missing > 0) {
    tracker_.AddLost(missing);
    port_.Counters().LostPackets = tracker_.LostPackets();
  }
  if (resumes) SendStartPlay(start);
}

void MmsProtocol::HandleStreamChange() {
  MediaPacketPath& media = port_.Media();
  const State state = state_.load();
  if (state == State::kTail) return;  // the end already reported counts
  if (media.StartedByChange() && !media.AnyWritten()) {
    // Started by a change, this session joined the ended entry's tail: the entry it is for
    // begins now, and its header replaces the one in the file.
    media.DropHeader();
    Enter(State::kHeaderAgain);
    return;
  }
  media.EntryEnded();
  EndOfStream(mcNewTrack);
}

}  // namespace qor
