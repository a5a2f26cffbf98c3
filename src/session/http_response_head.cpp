// The response header at the start of each HTTP connection (window thread): what its status and
// content type make of the body, redirections, resumed plain files, and signing in.

#include "asf/asf.h"
#include "session/http_protocol.h"
#include "session/http_response.h"
#include "session/media_packet_path.h"
#include "session/session_input.h"
#include "support/helper.h"

namespace qor {

namespace {

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

// The value of the first line named name ("location:", lower case), trimmed; empty when none.
std::string ValueOf(const std::vector<std::string>& lines, const std::string& name) {
  for (const std::string& line : lines) {
    if (THelper::LowerCase(line).rfind(name, 0) == 0)
      return THelper::Trim(line.substr(name.size()));
  }
  return std::string();
}

// A decimal number of at most 15 digits; -1 when the text is not one.
int64_t DecimalValue(const std::string& text) {
  if (text.empty() || text.size() > 15 || text.find_first_not_of("0123456789") != std::string::npos)
    return -1;
  return std::stoll(text);
}

// "bytes FIRST-LAST/TOTAL" (TOTAL may be "*"); -1 for what is missing or not a number.
struct ContentRange {
  int64_t first = -1, last = -1, total = -1;
};
ContentRange ReadContentRange(const std::string& value) {
  ContentRange range;
  const std::string lower = THelper::LowerCase(value);
  if (lower.rfind("bytes ", 0) != 0) return range;
  const size_t dash = lower.find('-', 6);
  const size_t slash = lower.find('/', 6);
  if (dash == std::string::npos) return range;
  range.first = DecimalValue(lower.substr(6, dash - 6));
  range.last = DecimalValue(
      lower.substr(dash + 1, slash == std::string::npos ? std::string::npos : slash - dash - 1));
  if (slash != std::string::npos) range.total = DecimalValue(lower.substr(slash + 1));
  return range;
}

}  // namespace

void HttpProtocol::ResponseHeader(const std::string& header) {
  header_lines_ = SplitHeaderLines(header);
  const std::vector<std::string>& lines = header_lines_;
  if (lines.empty()) {
    port_.Post("HTTP: http header contains no data", mcFatal);
    port_.Terminate();
    return;
  }
  const int status = StatusCodeOf(lines[0]);
  if (TakeRedirectionOrSignIn(status, lines)) return;
  // Wrong credentials get a second 401, which ends the session with the server's words below.
  sign_in_.ReportAnswer(port_.Config().Prompts, status != 401);
  if (port_.Config().Resuming() && (status == 206 || status == 416) &&
      !StartRangeAnswer(status, lines))
    return;
  if (status != 206 && lines[0].find("200") == std::string::npos) {
    port_.Post(lines[0], mcFatal);
    port_.Terminate();
    return;
  }
  if (const std::string server = ValueOf(lines, "server:"); !server.empty()) server_name_ = server;
  if (fast_asked_ && port_.Counters().StreamKind.load() == skPrerecorded) ReportFastDelivery(lines);
  const bool describe = port_.Counters().StreamKind.load() == skUnknown;
  TakeContentType(status, lines);
  // A stream's describe answer ends with the header; a plain file's connection is its file.
  describing_.store(describe && port_.Counters().StreamKind.load() == skUnknown,
                    std::memory_order_release);
}

bool HttpProtocol::TakeRedirectionOrSignIn(int status, const std::vector<std::string>& lines) {
  const bool describing = port_.Counters().StreamKind.load() == skUnknown;
  if (status >= 300 && status <= 302 && describing) {
    // Moved media is followed as the location client follows a moved play list.
    const std::string location = ValueOf(lines, "location:");
    if (!location.empty() && redirections_ < kMaxRedirections && FollowRedirection(location)) {
      ++redirections_;
      port_.Post("HTTP: redirected to " + location, mcNormal);
      port_.Input().ExpectNewConnection();
      HandTurn(Turn::kRedirect);
      return true;
    }
    if (redirections_ >= kMaxRedirections) port_.Post("HTTP: Too many redirections", mcWarning);
  }
  if (status == 401 && describing && !sign_in_.SignedIn() &&
      port_.Config().Prompts.AskHttpCredentials) {
    std::vector<std::string> offered;
    for (const std::string& line : lines) {
      if (THelper::LowerCase(line).rfind("www-authenticate:", 0) == 0)
        offered.push_back(line.substr(17));
    }
    if (sign_in_.TakeChallenge(offered)) {
      const std::string realm = sign_in_.Realm();
      port_.Post("HTTP: the server asks for a password" +
                     (realm.empty() ? std::string() : " (" + realm + ")"),
                 mcNormal);
      port_.Input().ExpectNewConnection();
      HandTurn(Turn::kSignIn);
      return true;
    }
  }
  return false;
}

void HttpProtocol::TakeContentType(int status, const std::vector<std::string>& lines) {
  SessionCounters& counters = port_.Counters();
  for (const std::string& line : lines) {
    const std::string lower = THelper::LowerCase(line);
    if (lower.find("content-type:") != std::string::npos) content_type_ = lower;
  }
  // Parameters ("; charset=binary") do not change what the body is.
  const std::string mediaType = MediaTypeOf(content_type_);
  const HttpBodyKind kind = ClassifyContentType("content-type: " + mediaType);
  if (status == 206) {
    // Only a plain file answers with part of itself.
    StartProgressive();
    HandTurn(Turn::kPlainFile);
    return;
  }
  if (counters.StreamKind.load() == skUnknown &&
      (mediaType == kOctetStream || kind == HttpBodyKind::Unknown)) {
    // Windows Media servers and plain web servers both send application/octet-stream, and web
    // servers send .wmv files under many other types: the body's first bytes tell. Until then
    // the end of the connection counts as the end of a plain file, which it is if it is one.
    counters.StreamKind = skProgressive;
    HandTurn(Turn::kSniff);
    return;
  }
  switch (kind) {
    case HttpBodyKind::Chunked:
      break;
    case HttpBodyKind::PlainFile:
      StartProgressive();
      HandTurn(Turn::kPlainFile);
      break;
    case HttpBodyKind::Unknown:
      port_.StopAll();
      port_.Post("HTTP: Unknnown content type: " + content_type_, mcFatal);
      break;
  }
}

bool HttpProtocol::StartRangeAnswer(int status, const std::vector<std::string>& lines) {
  const std::string contentRange = ValueOf(lines, "content-range:");
  if (status == 416) {
    // Nothing from the file's length on: the server's file is no longer than the saved one.
    port_.Input().MarkEndPosted();
    port_.Post("- The file is already complete: it is left as it is", mcNormal);
    port_.Post("", mcCompleted);
    port_.Terminate();
    return false;
  }
  // "bytes FIRST-LAST/TOTAL": the rest of the file goes on from where the saved one ends.
  const ContentRange range = ReadContentRange(contentRange);
  const int64_t first = range.first;
  // The body must be the range it names: a server that names the range asked for and sends
  // something else would have its bytes appended at the wrong place.
  const int64_t length = DecimalValue(ValueOf(lines, "content-length:"));
  if (first >= 0 && (range.last < first || (range.total >= 0 && range.last >= range.total) ||
                     (length >= 0 && length != range.last - first + 1))) {
    port_.Post("Cannot resume: the server's partial answer contradicts itself (" + contentRange +
                   ", " + std::to_string(length) + " bytes)",
               mcFatal);
    port_.Terminate();
    return false;
  }
  if (first != range_from_ || range_from_ < 0) {
    port_.Post("Cannot resume: the server sent the file from byte " +
                   (first < 0 ? std::string("?") : std::to_string(first)) + ", not from " +
                   std::to_string(range_from_),
               mcFatal);
    port_.Terminate();
    return false;
  }
  progressive_position_ = first;
  port_.Post("- Resuming at byte " + std::to_string(first), mcNormal);
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
    target_ = Endpoint{host, port};
  } else if (lower.find("://") != std::string::npos) {
    return false;  // https and the rest are no HTTP streaming this client speaks
  } else if (location.rfind("/", 0) == 0) {
    path = location.substr(1);
  } else {
    const size_t query = path_.find('?');
    const std::string current = path_.substr(0, query);
    const size_t slash = current.rfind('/');
    path = (slash == std::string::npos ? std::string() : current.substr(0, slash + 1)) + location;
  }
  path_ = path;
  return true;
}

// ---- Signing in ----

std::string HttpProtocol::Authorization(const std::string& path) {
  // Digest hashes the request's target as the request line gives it.
  return sign_in_.Authorization(
      "GET", port_.Config().UseProxy ? "http://" + HostText() + "/" + path : "/" + path);
}

bool HttpProtocol::SignIn() {
  // The site as saved credentials name it: "host:port" in lower case.
  const std::string site = THelper::LowerCase(target_.host) + ":" + std::to_string(target_.port);
  // A stop while the user is still looking at the dialog wakes the wait (WakeWaits).
  if (!sign_in_.AskUser(port_, site, "HTTP/1.0 401 Unauthorized")) return false;
  // Once, with the credentials: the describe request again.
  port_.Input().RestartStageClock();
  ConnectAgain();
  return true;
}

void HttpProtocol::WakeWaits() {
  sign_in_.Wake();
}

}  // namespace qor
