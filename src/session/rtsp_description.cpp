// The session description (the ASF header and the streams to set up) and the requests the server
// sends itself: the end-of-stream notice and, at a play-list change, the next description.

#include <algorithm>
#include <cstdlib>

#include "asf/asf.h"
#include "session/media_packet_path.h"
#include "session/rtsp_protocol.h"
#include "session/session_input.h"
#include "support/helper.h"

namespace qor {

namespace {

constexpr uint32_t kMaxPacketSize = 1000000;
// The flags of a header piece that is both the first and the last.
constexpr uint8_t kWholeHeader = 0x0C;

// "name: value" lines of a notice's body: whether name is there with the value "true".
bool BodySays(const std::string& body, const std::string& name) {
  const std::string lower = THelper::LowerCase(body);
  size_t at = 0;
  while (at < lower.size()) {
    size_t end = lower.find('\n', at);
    if (end == std::string::npos) end = lower.size();
    const std::string line = THelper::Trim(lower.substr(at, end - at));
    const size_t colon = line.find(':');
    if (colon != std::string::npos && THelper::Trim(line.substr(0, colon)) == name &&
        THelper::Trim(line.substr(colon + 1)) == "true")
      return true;
    at = end + 1;
  }
  return false;
}

}  // namespace

bool RtspProtocol::TakeDescription(const std::string& body, bool first) {
  SdpDescription description;
  std::string why;
  if (!ReadSdp(body.data(), body.size(), description, why)) {
    port_.Post("RTSP: " + why, mcFatal);
    port_.Terminate();
    return false;
  }
  description_ = std::move(description);
  if (!first) return true;
  return ReadFirstHeader() && ChooseSetups();
}

bool RtspProtocol::ReadFirstHeader() {
  MediaPacketPath& media = port_.Media();
  const std::vector<uint8_t>& header = description_.asfHeader;
  switch (media.CollectHeader(header.data(), header.size(), kWholeHeader)) {
    case HeaderCollector::Step::Complete:
      break;
    case HeaderCollector::Step::More:  // a whole piece cannot be part of more
    case HeaderCollector::Step::TooLarge:
    case HeaderCollector::Step::WriteFailed:
    case HeaderCollector::Step::Malformed:
      port_.Terminate();
      return false;
  }
  if (!media.ReadHeader()) {
    port_.Terminate();
    return false;
  }
  const TASF& asf = port_.Asf();
  if (asf.PacketSize < 1 || asf.PacketSize > kMaxPacketSize) {
    media.DropHeader();
    port_.Post("TMMS: invalid packet size from server", mcFatal);
    port_.Terminate();
    return false;
  }
  media.KeepHeader(asf.PacketSize);
  SessionCounters& counters = port_.Counters();
  counters.PacketSize = asf.PacketSize;
  counters.StreamKind =
      ((asf.FileFlags & ffBroadcast) || description_.live) ? skLive : skPrerecorded;
  port_.Input().MarkHeaderComplete();
  port_.Post("- Data extracted ok, waiting for streams...", mcNormal);
  receiver_.Reset(asf.PacketSize, MediaOverUdp());
  return true;
}

bool RtspProtocol::ChooseSetups() {
  const std::vector<uint8_t>& leftOut = port_.Media().LeftOutStreams();
  setups_.clear();
  next_setup_ = 0;
  // Resends come to the media's own ports: the retransmission stream first, as players do.
  if (MediaOverUdp() && description_.retransmission) {
    SetUpStream rtx;
    rtx.url = ResolveControl(base_url_, description_.retransmission->control);
    rtx.retransmission = true;
    setups_.push_back(rtx);
  }
  uint8_t channel = 0;
  for (const SdpStream& stream : description_.streams) {
    if (stream.streamNumber > 0 &&
        std::find(leftOut.begin(), leftOut.end(), static_cast<uint8_t>(stream.streamNumber)) !=
            leftOut.end())
      continue;
    SetUpStream setup;
    setup.url = ResolveControl(base_url_, stream.control);
    setup.streamNumber = stream.streamNumber;
    setup.channel = channel;
    channel = static_cast<uint8_t>(channel + 2);
    setups_.push_back(setup);
    if (channel == 0) break;  // 128 streams: the channels are all given
  }
  if (std::none_of(setups_.begin(), setups_.end(),
                   [](const SetUpStream& s) { return !s.retransmission; })) {
    port_.Post("RTSP: the server offers none of the streams chosen to record", mcFatal);
    port_.Terminate();
    return false;
  }
  {
    // PLAY, keep-alive and TEARDOWN go to the presentation as a whole.
    std::lock_guard<std::mutex> lock(session_mutex_);
    teardown_url_ = ResolveControl(base_url_, description_.control);
    while (teardown_url_.size() > 8 && teardown_url_.back() == '/') teardown_url_.pop_back();
  }
  SendNextSetup();
  return true;
}

// ---- What the server asks ----

bool RtspProtocol::TakeServerRequest(const RtspMessage& request) {
  std::string session;
  {
    std::lock_guard<std::mutex> lock(session_mutex_);
    session = session_id_;
  }
  const std::string& method = request.method;
  const bool known = method == "SET_PARAMETER" || method == "ANNOUNCE" ||
                     method == "GET_PARAMETER" || method == "OPTIONS";
  const std::string answer =
      known
          ? BuildRtspAnswer(request.CSeq(), session)
          : "RTSP/1.0 501 Not Implemented\r\nCSeq: " + std::to_string(request.CSeq()) + "\r\n\r\n";
  port_.SendTcp(answer.data(), static_cast<int32_t>(answer.size()));
  if (method == "SET_PARAMETER") return TakeEndNotice(request);
  if (method == "ANNOUNCE") return TakeAnnounce(request);
  return true;
}

bool RtspProtocol::TakeEndNotice(const RtspMessage& request) {
  const std::string& body = request.body;
  const bool notice = request.Header("X-Notice").rfind("2101", 0) == 0 || BodySays(body, "eof");
  if (!notice || Ended()) return true;
  // RTP-Info's seq is the next sequence number the server would have sent.
  std::optional<uint16_t> next;
  const std::string info = request.Header("RTP-Info");
  const size_t at = THelper::LowerCase(info).find("seq=");
  if (at != std::string::npos) {
    const std::string digits =
        info.substr(at + 4, info.find_first_not_of("0123456789", at + 4) - (at + 4));
    if (!digits.empty() && digits.size() <= 5 && std::atol(digits.c_str()) <= 65535)
      next = static_cast<uint16_t>(std::atol(digits.c_str()));
  }
  if (BodySays(body, "administrativedisconnection")) {
    if (port_.Input().MediaArrived()) port_.Counters().StreamCut = true;
    port_.Input().MarkEndPosted();
    port_.Post("RTSP: the server ended the stream (its administrator disconnected it)", mcFatal);
    port_.Terminate();
    return false;
  }
  if (BodySays(body, "end-of-playlist-entry")) {
    entry_ended_ = true;
    MediaPacketPath& media = port_.Media();
    if (media.StartedByChange() && !media.AnyWritten()) {
      // This session joined the entry that just ended: the description that follows is the one
      // its file is for, and what it holds of the ended entry (a live UDP stream's datagrams
      // wait a moment before they are written) is not.
      next_entry_from_ = next;
      if (!next) held_.clear();
      media.DropHeader();
      Enter(State::kHeaderAgain);
      return true;
    }
    EndOfStream(mcNewTrack, next);
    return true;
  }
  EndOfStream(mcCompleted, next);
  return true;
}

bool RtspProtocol::TakeAnnounce(const RtspMessage& request) {
  const State state = state_.load();
  if (state == State::kHeaderAgain) {
    if (!TakeDescription(request.body, false)) return false;
    playlist_gen_id_ = request.Header("X-Playlist-Gen-Id");
    MediaPacketPath& media = port_.Media();
    const std::vector<uint8_t>& header = description_.asfHeader;
    if (media.CollectHeader(header.data(), header.size(), kWholeHeader) !=
            HeaderCollector::Step::Complete ||
        !media.AdoptHeader()) {
      port_.Terminate();
      return false;
    }
    receiver_.SetPacketSize(port_.Asf().PacketSize);
    entry_ended_ = false;
    Enter(State::kStreaming);
    return true;
  }
  if (Ended() || state == State::kTail) return true;
  // A new description without the end-of-entry notice before it: the entry changed all the same.
  if (!entry_ended_ && (state == State::kStreaming || state == State::kPlay))
    EndOfStream(mcNewTrack, std::nullopt);
  return true;
}

}  // namespace qor
