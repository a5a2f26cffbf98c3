#include "session/http_protocol.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "asf/asf.h"
#include "session/carry_over.h"
#include "session/http_requests.h"
#include "session/http_response.h"
#include "session/save_file.h"
#include "session/session.h"
#include "platform/window_thread.h"

namespace qor {

namespace {

constexpr uint16_t kHeaderChunk = 0x4824;
// How long a session started by a change of entry waits for the previous session to keep the
// entry's packets before its own first one.
constexpr auto kCarryWait = std::chrono::milliseconds(1500);
constexpr uint16_t kDataChunk = 0x4424;
constexpr uint16_t kEndChunk = 0x4524;
constexpr uint16_t kChangeChunk = 0x4324;
constexpr uint32_t kExtensionLength = 8;
constexpr uint32_t kMaxPacketSize = 1000000;

uint16_t U16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

constexpr int kMaxRedirections = 10;

constexpr const char* kOctetStream = "application/octet-stream";

// The media type of a lower-cased content-type line, without its parameters:
// "content-type: video/x-ms-wmv; charset=binary" gives "video/x-ms-wmv".
std::string MediaTypeOf(const std::string& line) {
  static constexpr std::string_view kName = "content-type:";
  const size_t at = line.find(kName);
  if (at == std::string::npos) return std::string();
  const std::string value = line.substr(at + kName.size());
  return THelper::Trim(value.substr(0, value.find(';')));
}

// The status code of a status line ("HTTP/1.0 302 Found" gives 302); 0 when there is none.
int StatusCodeOf(const std::string& line) {
  const size_t blank = line.find(' ');
  if (line.rfind("HTTP/", 0) != 0 || blank == std::string::npos) return 0;
  int code = 0;
  size_t at = blank + 1;
  for (int digits = 0; digits < 3; ++digits, ++at) {
    if (at >= line.size() || line[at] < '0' || line[at] > '9') return 0;
    code = code * 10 + (line[at] - '0');
  }
  return code;
}

// The body of a chunked stream starts with a chunk ('$' or a burst's 0xA4, then H, D, E or C);
// a plain ASF file with the header object's GUID.
bool IsChunkHead(const uint8_t* head) {
  return (head[0] == 0x24 || head[0] == 0xA4) &&
         (head[1] == 'H' || head[1] == 'D' || head[1] == 'E' || head[1] == 'C');
}
bool IsAsfHeaderStart(const uint8_t* head) {
  return head[0] == 0x30 && head[1] == 0x26 && head[2] == 0xB2 && head[3] == 0x75;
}

// A play list served where media was asked for: its ASX element opens the text, after any
// byte-order mark and blanks (UTF-16 too: its zero bytes are passed over).
bool StartsPlayList(const uint8_t* data, size_t count) {
  size_t at = 0;
  if (count >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
    at = 3;
  } else if (count >= 2 &&
             ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF))) {
    at = 2;
  }
  std::string start;
  for (; at < count && start.size() < 4; ++at) {
    const uint8_t c = data[at];
    if (c == 0 || (start.empty() && (c == ' ' || c == '\t' || c == '\r' || c == '\n'))) continue;
    start += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  return start == "<asx";
}

constexpr const char* kPlayListText =
    "HTTP: this location is a play list, not media: open it to download its entries";
// Bytes enough to tell a play list from a plain file.
constexpr int32_t kPlayListProbe = 16;

}  // namespace

HttpProtocol::HttpProtocol(TMMS& session) : session_(session) {}

void HttpProtocol::InitFields() {
  first_sequence_ = 0;
  first_timecode_ = 0;
  last_time_ = 0;
  seen_first_data_ = false;
  ended_ = false;
  wrote_media_ = false;
  track_changed_ = false;
  carry_checked_ = false;
  replacing_header_ = false;
  highest_location_ = 0;
  progressive_position_ = 0;
  range_from_ = -1;
  sniffing_ = false;
  redirect_pending_ = false;
  redirections_ = 0;
  has_sniffed_head_ = false;
  sign_in_pending_ = false;
  signed_in_ = false;
  answer_reported_ = false;
  user_.clear();
  password_.clear();
  nonce_count_ = 0;
}

// ---- Requests (window thread) ----

bool HttpProtocol::Send(const std::string& request) {
  return session_.SendTcp(request.data(), static_cast<int32_t>(request.size())) ==
         static_cast<int32_t>(request.size());
}

void HttpProtocol::SendRequest() {
  switch (session_.StreamKind.load()) {
    case skUnknown:
      SendDescribeRequest();
      break;
    case skPrerecorded:
      SendPrerecordedPlayRequest();
      break;
    case skLive:
      SendLivePlayRequest();
      break;
    default:
      session_.Post("HTTP: invalid stream type flag status on http startup", mcFatal);
      break;
  }
}

constexpr int32_t kStandardHttpPort = 80;

static HttpRequestTarget TargetOf(const TMMS& s) {
  return HttpRequestTarget{s.HostText(s.HttpPort, kStandardHttpPort), s.Path, s.ClientGuid,
                           s.UseProxy != 0};
}

std::string HttpProtocol::Authorization(const std::string& path) {
  if (!signed_in_) return std::string();
  // Digest hashes the request's target as the request line gives it.
  const std::string uri = session_.UseProxy
                              ? "http://" + session_.HostText(session_.HttpPort, 80) + "/" + path
                              : "/" + path;
  return AuthorizationValue(challenge_, user_, password_, "GET", uri, ++nonce_count_, cnonce_);
}

void HttpProtocol::SendDescribeRequest() {
  int64_t rangeFrom = -1;
  if (session_.Resuming() && session_.SaveFile) {
    range_from_ = session_.SaveFile->Size();
    rangeFrom = range_from_;
  }
  const HttpRequestTarget target = TargetOf(session_);
  Send(WithAuthorization(BuildDescribeRequest(target, rangeFrom), Authorization(target.path)));
}

void HttpProtocol::SendPrerecordedPlayRequest() {
  uint32_t start = 0;
  uint32_t context = 2;
  if (session_.Resuming()) {
    if (!session_.BeginResume(start)) return;
    if (start != 0) context = 4;
  } else if (session_.OffsetMs != 0) {
    start = session_.OffsetMs;
    context = 4;
  }
  const HttpRequestTarget target = TargetOf(session_);
  Send(WithAuthorization(BuildPrerecordedPlayRequest(target, start, context, *session_.Asf,
                                                     session_.LeftOutStreams),
                         Authorization(target.path)));
}

void HttpProtocol::SendLivePlayRequest() {
  if (session_.Resuming()) {
    session_.Post("HTTP: live stream detected !", mcWarning);
    session_.Post("HTTP: you cannot resume live streams, please select 'overwrite'", mcFatal);
    return;
  }
  if (session_.OffsetMs != 0) {
    session_.Post("HTTP: seeking into live streams is not allowed !", mcWarning);
    session_.Post("HTTP: please select 0 for offset time", mcFatal);
    return;
  }
  const HttpRequestTarget target = TargetOf(session_);
  Send(WithAuthorization(BuildLivePlayRequest(target, *session_.Asf, session_.LeftOutStreams),
                         Authorization(target.path)));
}

// ---- Response header (window thread) ----

void HttpProtocol::ParseResponseHeader(const std::string& header) {
  session_.HeaderLines = SplitHeaderLines(header);
  const std::vector<std::string>& lines = session_.HeaderLines;
  if (lines.empty()) {
    session_.Post("HTTP: http header contains no data", mcFatal);
    session_.Terminate();
    return;
  }
  const int status = StatusCodeOf(lines[0]);
  if (status >= 300 && status <= 302 && session_.StreamKind == skUnknown) {
    // Moved media is followed as the location client follows a moved play list.
    std::string location;
    for (const std::string& line : lines) {
      if (THelper::LowerCase(line).rfind("location:", 0) == 0)
        location = THelper::Trim(line.substr(9));
    }
    if (!location.empty() && redirections_ < kMaxRedirections && FollowRedirection(location)) {
      ++redirections_;
      session_.Post("HTTP: redirected to " + location, mcNormal);
      session_.ExpectNewConnection();
      redirect_pending_.store(true, std::memory_order_release);
      session_.WakeLoop();
      return;
    }
    if (redirections_ >= kMaxRedirections) session_.Post("HTTP: Too many redirections", mcWarning);
  }
  if (status == 401 && session_.StreamKind == skUnknown && !signed_in_ && AskCredentials) {
    std::vector<AuthChallenge> offered;
    for (const std::string& line : lines) {
      if (THelper::LowerCase(line).rfind("www-authenticate:", 0) != 0) continue;
      AuthChallenge challenge;
      if (ParseAuthChallenge(line.substr(17), challenge)) offered.push_back(challenge);
    }
    if (ChooseAuthChallenge(offered, challenge_)) {
      realm_ = challenge_.Param("realm");
      session_.Post("HTTP: the server asks for a password" +
                        (realm_.empty() ? std::string() : " (" + realm_ + ")"),
                    mcNormal);
      session_.ExpectNewConnection();
      sign_in_pending_.store(true, std::memory_order_release);
      session_.WakeLoop();
      return;
    }
  }
  if (signed_in_ && !answer_reported_ && CredentialsAnswered) {
    // Wrong credentials get a second 401, which ends the session with the server's words below.
    answer_reported_ = true;
    CredentialsAnswered(status != 401);
  }
  if (session_.Resuming() && (status == 206 || status == 416) && !StartRangeAnswer(status)) return;
  if (status != 206 && lines[0].find("200") == std::string::npos) {
    session_.Post(lines[0], mcFatal);
    session_.Terminate();
    return;
  }
  for (const std::string& line : lines) {
    const std::string lower = THelper::LowerCase(line);
    if (lower.find("server:") != std::string::npos) session_.ServerText = THelper::Trim(line);
    if (lower.find("content-type:") != std::string::npos) session_.ContentType = lower;
  }
  // Parameters ("; charset=binary") do not change what the body is.
  const std::string mediaType = MediaTypeOf(session_.ContentType);
  const HttpBodyKind kind = ClassifyContentType("content-type: " + mediaType);
  if (status == 206) {
    // Only a plain file answers with part of itself.
    session_.Progressive = 1;
    session_.StreamKind = skProgressive;
    session_.MarkMediaArrived();
    session_.Post("", mcStarted);
    session_.Post("HTTP: Media is simple progressive http downloading...", mcNotice);
    return;
  }
  if (session_.StreamKind == skUnknown &&
      (mediaType == kOctetStream || kind == HttpBodyKind::Unknown)) {
    // Windows Media servers and plain web servers both send application/octet-stream, and web
    // servers send .wmv files under many other types: the body's first bytes tell. Until then
    // the end of the connection counts as the end of a plain file, which it is if it is one.
    session_.StreamKind = skProgressive;
    sniffing_.store(true, std::memory_order_release);
    return;
  }
  switch (kind) {
    case HttpBodyKind::Chunked:
      break;
    case HttpBodyKind::PlainFile:
      session_.Progressive = 1;
      session_.StreamKind = skProgressive;
      session_.MarkMediaArrived();
      session_.Post("", mcStarted);
      session_.Post("HTTP: Media is simple progressive http downloading...", mcNotice);
      break;
    case HttpBodyKind::Unknown:
      session_.Stop();
      session_.Post("HTTP: Unknnown content type: " + session_.ContentType, mcFatal);
      break;
  }
}

bool HttpProtocol::StartRangeAnswer(int status) {
  const std::vector<std::string>& lines = session_.HeaderLines;
  std::string contentRange;
  for (const std::string& line : lines) {
    if (THelper::LowerCase(line).rfind("content-range:", 0) == 0)
      contentRange = THelper::Trim(line.substr(14));
  }
  if (status == 416) {
    // Nothing from the file's length on: the server's file is no longer than the saved one.
    session_.MarkEndPosted();
    session_.Post("- The file is already complete: it is left as it is", mcNormal);
    session_.Post("", mcCompleted);
    session_.Terminate();
    return false;
  }
  // "bytes FIRST-LAST/TOTAL": the rest of the file goes on from where the saved one ends.
  int64_t first = -1;
  const std::string lower = THelper::LowerCase(contentRange);
  if (lower.rfind("bytes ", 0) == 0) {
    const size_t dash = lower.find('-', 6);
    const std::string digits = lower.substr(6, dash == std::string::npos ? 0 : dash - 6);
    if (!digits.empty() && digits.size() < 16 &&
        digits.find_first_not_of("0123456789") == std::string::npos)
      first = std::stoll(digits);
  }
  if (first != range_from_ || range_from_ < 0) {
    session_.Post("Cannot resume: the server sent the file from byte " +
                      (first < 0 ? std::string("?") : std::to_string(first)) + ", not from " +
                      std::to_string(range_from_),
                  mcFatal);
    session_.Terminate();
    return false;
  }
  progressive_position_ = first;
  session_.Post("- Resuming at byte " + std::to_string(first), mcNormal);
  return true;
}

bool HttpProtocol::FollowRedirection(const std::string& location) {
  const std::string lower = THelper::LowerCase(location);
  std::string path;
  if (lower.rfind("http://", 0) == 0 || lower.rfind("mmsh://", 0) == 0) {
    const size_t start = 7;
    const size_t slash = location.find('/', start);
    const std::string authority = location.substr(start, slash - start);
    path = slash == std::string::npos ? std::string() : location.substr(slash + 1);
    std::string host = authority;
    int32_t port = 80;
    const size_t colon = authority.rfind(':');
    if (colon != std::string::npos) {
      const std::string digits = authority.substr(colon + 1);
      if (digits.empty() || digits.size() > 5 ||
          digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
      port = std::stoi(digits);
      host = authority.substr(0, colon);
    }
    if (host.empty() || port < 1 || port > 65535) return false;
    session_.Host = host;
    session_.HttpPort = session_.ConnectPort = port;
  } else if (lower.find("://") != std::string::npos) {
    return false;  // https and the rest are no HTTP streaming this client speaks
  } else if (location.rfind("/", 0) == 0) {
    path = location.substr(1);
  } else {
    const size_t query = session_.Path.find('?');
    const std::string current = session_.Path.substr(0, query);
    const size_t slash = current.rfind('/');
    path = (slash == std::string::npos ? std::string() : current.substr(0, slash + 1)) + location;
  }
  session_.Path = path;
  return true;
}

// ---- The loop (session thread) ----

HttpProtocol::Sniff HttpProtocol::SniffBody() {
  TCB& ring = session_.Ring();
  // The end mark first: every byte of the connection is in the ring before it is set.
  const bool ended = session_.ProgressiveEnded();
  if (ring.Available() < 4 && !ended) return Sniff::Wait;
  uint8_t head[4] = {};
  int32_t count = 4;
  ring.Read(head, count);
  sniffing_ = false;
  if (count == 4 && IsChunkHead(head)) {
    session_.StreamKind = skUnknown;
    std::copy(head, head + 4, sniffed_head_);
    has_sniffed_head_ = true;
    return Sniff::Decided;
  }
  if (count == 4 && IsAsfHeaderStart(head)) {
    session_.Progressive = 1;
    session_.StreamKind = skProgressive;
    session_.Post("", mcStarted);
    session_.Post("HTTP: Media is simple progressive http downloading...", mcNotice);
    return WriteProgressive(head, count) ? Sniff::Decided : Sniff::Fail;
  }
  uint8_t probe[4 + kPlayListProbe] = {};
  std::copy(head, head + count, probe);
  int32_t more = std::min(ring.Available(), kPlayListProbe);
  if (more > 0) ring.Read(probe + count, more);
  if (StartsPlayList(probe, static_cast<size_t>(count + std::max(more, 0)))) {
    session_.Post(kPlayListText, mcFatal);
  } else {
    session_.Post("HTTP: Unknnown content type: " + session_.ContentType, mcFatal);
  }
  session_.Terminate();
  return Sniff::Fail;
}

void HttpProtocol::RunHttpLoop() {
  first_sequence_ = 0;
  seen_first_data_ = false;
  while (!session_.Terminated()) {
    // Taken before the loop looks at the redirection, the end marks and the stop request: a
    // change of any of them after this wakes the waits below.
    const uint64_t mark = session_.WakeMark();
    if (sign_in_pending_.exchange(false, std::memory_order_acq_rel)) {
      if (!SignIn()) return;
      continue;
    }
    if (redirect_pending_.exchange(false, std::memory_order_acq_rel)) {
      // The describe request again, where the server pointed; what the old connection still
      // sent is dropped with the ring.
      session_.StartTcpTransport();
      continue;
    }
    if (sniffing_.load(std::memory_order_acquire)) {
      const Sniff sniff = SniffBody();
      if (sniff == Sniff::Fail) return;
      if (sniff == Sniff::Wait) {
        if (!session_.FlushSaveFile()) return;
        // A connection that closes or stalls before the body's first four bytes ends the
        // session like any other wait for the network.
        if (!session_.WaitForRing(4, mark) && !session_.Watch(4)) return;
        continue;
      }
    }
    if (session_.Progressive) {
      if (!RunProgressive(mark)) return;
    } else {
      while ((has_sniffed_head_ || session_.Ring().Available() >= 4) && !session_.Terminated()) {
        // A redirection's body is no stream.
        if (redirect_pending_.load(std::memory_order_acquire)) break;
        if (!HandleChunk()) return;
        if (ended_) {
          if (track_changed_) {
            CarryUntilStopped();
          } else {
            DrainUntilStopped();
          }
          return;
        }
      }
    }
    // A chunk's first four bytes, or any byte of a plain file, is what the loop can act on.
    const int32_t needed = session_.Progressive ? 1 : 4;
    if (session_.Ring().Available() < needed && !session_.FlushSaveFile()) return;
    if (!session_.WaitForRing(needed, mark) && !session_.Watch(needed)) return;
  }
}

bool HttpProtocol::SignIn() {
  // The site as saved credentials name it: "host:port" in lower case.
  const std::string site = THelper::LowerCase(session_.Host) + ":" + std::to_string(session_.HttpPort);
  // A stop while the user is still looking at the dialog wakes the wait (WakeWaits).
  std::optional<std::pair<std::string, std::string>> credentials;
  if (!credentials_answer_.Ask([prompt = AskCredentials, site,
                                realm = realm_] { return prompt(site, realm); },
                               [this] { return session_.Terminated(); }, credentials))
    return false;
  if (!credentials) {
    session_.Post("HTTP/1.0 401 Unauthorized: no credentials were given", mcFatal);
    session_.Terminate();
    return false;
  }
  user_ = credentials->first;
  password_ = credentials->second;
  signed_in_ = true;
  nonce_count_ = 0;
  cnonce_ = THelper::NewGuidText().substr(1, 8);
  // Once, with the credentials: the describe request again.
  session_.RestartStageClock();
  session_.StartTcpTransport();
  return true;
}

void HttpProtocol::WakeWaits() { credentials_answer_.Wake(); }

bool HttpProtocol::RunProgressive(uint64_t mark) {
  // Read the end mark first: every block of the connection is in the ring before it is set.
  const bool ended = session_.ProgressiveEnded();
  TCB& ring = session_.Ring();
  const bool first = progressive_position_ == 0;
  if (first && !ended && ring.Available() < kPlayListProbe) {
    // The first bytes decide whether this is a file at all.
    return session_.WaitForRing(kPlayListProbe, mark) || session_.Watch(kPlayListProbe);
  }
  while (ring.Available() > 0 && !session_.Terminated()) {
    int32_t count = -1;
    if (buffer_.size() < static_cast<size_t>(TMMS::kRingSize)) buffer_.resize(TMMS::kRingSize);
    count = ring.Available();
    ring.Read(buffer_.data(), count);
    if (count <= 0) break;
    if (progressive_position_ == 0 && StartsPlayList(buffer_.data(), static_cast<size_t>(count))) {
      // Its text saved as media would play nowhere, and the entries are what was meant.
      session_.Post(kPlayListText, mcFatal);
      session_.Terminate();
      return false;
    }
    if (!WriteProgressive(buffer_.data(), count)) return false;
  }
  if (ended && ring.Available() == 0 && !session_.Terminated()) {
    // A resumed file the server sent again from its start ends where the answer ended.
    if (session_.SaveFile && !session_.SaveFile->TruncateTo(progressive_position_)) {
      session_.Post("Could not access local file to write data packet", mcFatal);
      session_.Terminate();
      return false;
    }
    session_.MarkEndPosted();
    session_.Post("", mcCompleted);
    ended_ = true;
    DrainUntilStopped();
    return false;
  }
  return true;
}

bool HttpProtocol::WriteProgressive(const uint8_t* data, int32_t count) {
  const auto result = session_.SaveFile ? session_.SaveFile->WriteAt(progressive_position_, data,
                                                                     static_cast<size_t>(count))
                                        : TSaveFile::WriteResult::Failed;
  if (result == TSaveFile::WriteResult::Failed) {
    session_.Post("Could not access local file to write data packet", mcFatal);
    session_.Terminate();
    return false;
  }
  progressive_position_ += count;
  return true;
}

void HttpProtocol::DrainUntilStopped() {
  TCB& ring = session_.Ring();
  uint8_t scrap[4096];
  for (;;) {
    const uint64_t mark = session_.WakeMark();  // the stop request wakes the wait
    if (session_.Terminated()) return;
    int32_t count = sizeof scrap;
    if (ring.Available() > 0) {
      ring.Read(scrap, count);
    } else {
      ring.WaitForAvailable(1, TCB::Deadline::max(), mark);
    }
  }
}

void HttpProtocol::UnknownChunk(uint16_t type, uint16_t length) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(type));
  session_.Post("The current HTTP command failed - Closing now", mcMedia);
  session_.Post(
      std::string("Unknown command reads: ") + hex + "  of length: " + THelper::IntText(length),
      mcFatal);
  session_.Terminate();
}

bool HttpProtocol::HandleChunk() {
  TCB& ring = session_.Ring();
  uint8_t head[4];
  int32_t count = 4;
  if (has_sniffed_head_) {
    std::copy(sniffed_head_, sniffed_head_ + 4, head);
    has_sniffed_head_ = false;
  } else {
    ring.Read(head, count);
  }
  // A server marks a burst by setting the top bit of the '$'.
  if (head[0] == 0xA4) head[0] = 0x24;
  const uint16_t type = U16(head);
  const uint16_t length = U16(head + 2);
  switch (type) {
    case kHeaderChunk:
    case kDataChunk: {
      if (!session_.WaitForBytes(length)) return false;
      if (buffer_.size() < 65536) buffer_.resize(65536);
      count = length;
      ring.Read(buffer_.data(), count);
      // The extension must be there and must agree with the chunk about the packet's length.
      if (length < kExtensionLength || U16(buffer_.data() + 6) != length) {
        UnknownChunk(type, length);
        return false;
      }
      return type == kHeaderChunk ? HandleHeaderChunk(buffer_.data(), length)
                                  : HandleDataChunk(buffer_.data(), length);
    }
    case kEndChunk:
    case kChangeChunk: {
      uint8_t reason[4];
      if (!session_.WaitForBytes(4)) return false;
      count = 4;
      ring.Read(reason, count);
      if (type == kChangeChunk && session_.PreviousEntry && !wrote_media_) {
        // Started by a change, this session joined the ended entry's tail: the entry it is for
        // begins now, and its header replaces the one in the file.
        session_.Header().Clear();
        replacing_header_ = true;
      } else if (type == kChangeChunk) {
        if (session_.NextEntry && wrote_media_)
          session_.NextEntry->SetPreviousLast(highest_location_);
        track_changed_ = true;
        session_.MarkEndPosted();
        session_.Post("", mcNewTrack);
        ended_ = true;
      } else if (U32(reason) == 1) {
        // Only the end of a play-list entry: the change that follows reports the new track.
      } else if (!wrote_media_ && !session_.Resuming()) {
        // A stream that ends with nothing saved is no recording.
        session_.MarkEndPosted();
        session_.Post(kNothingReceived, mcFatal);
        ended_ = true;
      } else {
        session_.MarkEndPosted();
        // A failed write of what was gathered ends the download as a failure instead.
        if (!session_.FlushSaveFile()) return false;
        session_.Post("", mcCompleted);
        ended_ = true;
      }
      return true;
    }
    default:
      UnknownChunk(type, length);
      return false;
  }
}

bool HttpProtocol::HandleHeaderChunk(const uint8_t* body, uint16_t length) {
  const uint8_t flags = body[5];
  const bool resuming = session_.Resuming();
  HeaderCollector& header = session_.Header();
  switch (header.Append(body + kExtensionLength, length - kExtensionLength, flags,
                        session_.SaveFile.get(), resuming)) {
    case HeaderCollector::Step::More:
      return true;
    case HeaderCollector::Step::TooLarge:
      session_.Post("- Header extraction failed, cannot continue", mcFatal);
      session_.Terminate();
      return false;
    case HeaderCollector::Step::WriteFailed:
      session_.HeaderLength = static_cast<uint32_t>(header.Length());
      header.Clear();
      session_.Post("Could not access local file to write header", mcFatal);
      return true;
    case HeaderCollector::Step::Complete:
      break;
  }
  const uint32_t headerLength = static_cast<uint32_t>(header.Length());
  session_.HeaderLength = headerLength;
  if (session_.StreamKind != skUnknown && replacing_header_) {
    replacing_header_ = false;
    return AdoptHeader(headerLength);
  }
  if (session_.StreamKind == skLive && !resuming &&
      !session_.Packets().KeptHeaderIs(header.Bytes(), header.Length())) {
    // A play list that moved on between the describe and the play request answers the play with
    // the next entry's header: the file is that entry's.
    return AdoptHeader(headerLength);
  }
  if (session_.StreamKind != skUnknown) {
    // The header again, on the play connection: it is the one at the start of the file now.
    session_.Packets().SetLayout(headerLength, session_.Packets().PacketSize());
    header.Clear();
    return true;
  }
  session_.Post(resuming ? "- Header received but not saved, resuming session"
                         : "- Header received and saving",
                mcNormal);
  session_.Post("- Extracting header object data...", mcNormal);
  TASF& asf = *session_.Asf;
  if (!asf.ParseHeader(header.Bytes(), header.Length())) {
    header.Clear();
    session_.Post("- Header extraction failed, cannot continue", mcFatal);
    return true;
  }
  if (!session_.ChooseStreams(header.Bytes(), header.Length())) {
    header.Clear();
    return true;
  }
  session_.Packets().KeepHeader(header.Bytes(), header.Length());
  header.Clear();
  if (asf.PacketSize < 1 || asf.PacketSize > kMaxPacketSize) {
    session_.Post("TMMS: invalid packet size from server", mcFatal);
    session_.Terminate();
    return false;
  }
  session_.MarkHeaderComplete();
  session_.Post("- Data extracted ok, receiving streams...", mcNotice | mcStarted);
  session_.PacketSize = asf.PacketSize;
  session_.Packets().SetLayout(headerLength, asf.PacketSize);
  session_.StreamKind = (asf.FileFlags & ffBroadcast) ? skLive : skPrerecorded;
  session_.StartTcpTransport();
  return true;
}

bool HttpProtocol::AdoptHeader(uint32_t headerLength) {
  HeaderCollector& header = session_.Header();
  TASF& next = *session_.Asf;
  if (!next.ParseHeader(header.Bytes(), header.Length()) || next.PacketSize < 1 ||
      next.PacketSize > kMaxPacketSize) {
    header.Clear();
    session_.Post("- Header extraction failed, cannot continue", mcFatal);
    session_.Terminate();
    return false;
  }
  session_.Packets().KeepHeader(header.Bytes(), header.Length());
  header.Clear();
  session_.PacketSize = next.PacketSize;
  session_.Packets().SetLayout(headerLength, next.PacketSize);
  return true;
}

bool HttpProtocol::HandleDataChunk(uint8_t* body, uint16_t length) {
  if (session_.Packets().PacketSize() == 0) return true;  // no header yet: nowhere to put it
  const uint32_t locationId = U32(body);
  if (session_.PreviousEntry) {
    bool ours = true;
    if (!TakeCarriedPackets(locationId, ours)) return false;
    if (!ours) return true;
  }
  return WritePacket(body + kExtensionLength, length - kExtensionLength, locationId, body, length);
}

bool HttpProtocol::TakeCarriedPackets(uint32_t locationId, bool& ours) {
  uint32_t previous = 0;
  const bool knowPrevious = session_.PreviousEntry->PreviousLast(previous);
  ours = !(knowPrevious && locationId <= previous);
  if (!ours || carry_checked_) return true;
  carry_checked_ = true;
  std::vector<CarryOver::Packet> carried = session_.PreviousEntry->TakeBefore(
      locationId, kCarryWait, [this] { return session_.Terminated(); });
  bool any = false;
  uint32_t last = 0;
  for (CarryOver::Packet& p : carried) {
    if (p.location >= locationId) break;  // from here on this connection brings them itself
    if ((knowPrevious && p.location <= previous) || p.bytes.empty()) continue;
    if (!WritePacket(p.bytes.data(), p.bytes.size(), p.location, p.bytes.data(), p.bytes.size()))
      return false;
    any = true;
    last = p.location;
  }
  if (any && locationId > last + 1) {
    // Sent while the old connection was closing and the new one joining: nobody received them.
    const uint32_t gap = locationId - last - 1;
    session_.LostPackets += gap;
    session_.Post("Warning, packets sent while reconnecting for the next entry are missing: " +
                      THelper::IntText(gap),
                  mcWarning);
  }
  return true;
}

void HttpProtocol::CarryUntilStopped() {
  TCB& ring = session_.Ring();
  const auto wait = [&](int32_t count) {
    for (;;) {
      const uint64_t mark = session_.WakeMark();  // the stop request wakes the wait
      if (session_.Terminated()) return false;
      if (ring.Available() >= count) return true;
      ring.WaitForAvailable(count, TCB::Deadline::max(), mark);
    }
  };
  while (wait(4)) {
    uint8_t head[4];
    int32_t count = 4;
    ring.Read(head, count);
    if (head[0] == 0xA4) head[0] = 0x24;
    const uint16_t type = U16(head);
    const int32_t length = (type == kEndChunk || type == kChangeChunk) ? 4 : U16(head + 2);
    if (type != kDataChunk && type != kHeaderChunk && type != kEndChunk && type != kChangeChunk)
      break;  // not a stream any more: nothing further is worth keeping
    if (!wait(length)) return;
    if (buffer_.size() < 65536) buffer_.resize(65536);
    count = length;
    ring.Read(buffer_.data(), count);
    if (type == kDataChunk && length >= static_cast<int32_t>(kExtensionLength) &&
        U16(buffer_.data() + 6) == length && session_.NextEntry) {
      session_.NextEntry->Keep(U32(buffer_.data()), buffer_.data() + kExtensionLength,
                               static_cast<size_t>(length) - kExtensionLength);
    }
  }
  DrainUntilStopped();
}

bool HttpProtocol::WritePacket(uint8_t* payload, size_t payloadLength, uint32_t locationId,
                               const uint8_t* body, size_t bodyLength) {
  TASF& asf = *session_.Asf;
  const bool resuming = session_.Resuming();
  const auto dumpLength = static_cast<int32_t>(std::min<size_t>(bodyLength, 64));
  if (!seen_first_data_) first_sequence_ = locationId;
  uint16_t duration = 0;
  bool keyFrame = false;
  if (!asf.ParsePacket(payload, payloadLength, last_time_, duration, 0, false, keyFrame)) {
    session_.Post("ASF timecode parse failure, continuing...", mcWarning);
    session_.Post(THelper::HexDump(body, dumpLength), mcMedia);
  }
  if (!seen_first_data_) {
    first_timecode_ = last_time_;
    seen_first_data_ = true;
  }
  // A resumed download shifts times as the file's first download did, and the writer places
  // the server's numbers where the file holds the same packets.
  PacketWriter& writer = session_.Packets();
  if (!resuming) writer.SetTimeBase(first_timecode_);
  const uint32_t base = writer.TimeBase();
  const int64_t index =
      resuming ? int64_t{locationId} : static_cast<int64_t>(locationId) - first_sequence_;
  const uint32_t sendTime = last_time_ - base;
  uint32_t shifted = 0;
  if (base != 0 && !asf.ParsePacket(payload, payloadLength, shifted, duration,
                                    static_cast<int32_t>(base), true, keyFrame)) {
    session_.Post("ASF timecode update failure, continuing...", mcWarning);
    session_.Post(THelper::HexDump(body, dumpLength), mcMedia);
  }
  session_.SendTime = sendTime;
  const auto post = [this](const std::string& text, uint32_t code) { session_.Post(text, code); };
  const auto outcome = writer.Write(session_.SaveFile.get(), resuming, payload, payloadLength,
                                    index, sendTime, post);
  session_.PacketNumber = static_cast<int32_t>(writer.LastIndex());
  if (outcome == PacketWriter::Outcome::Stop) {
    session_.Terminate();
    return false;
  }
  if (outcome == PacketWriter::Outcome::Written) {
    wrote_media_ = true;
    highest_location_ = std::max(highest_location_, locationId);
    session_.MarkMediaArrived();
  }
  return true;
}

}  // namespace qor
