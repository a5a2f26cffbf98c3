// The HTTP side: Windows Media streaming (describe and play) for players, plain files for
// everybody else, with redirects, Basic or Digest authentication and the requested faults.

#include <algorithm>
#include <chrono>
#include <string>

#include "data_units.h"
#include "faults.h"
#include "http_request.h"
#include "packet_feed.h"
#include "platform/file_handle.h"
#include "server.h"
#include "stream_filter.h"
#include "support/base64.h"
#include "support/http_auth.h"

namespace qor::server {

namespace {

constexpr const char* kServerName = "Cougar/9.01.01.3814";
// One realm and one nonce for the server's life: enough for a test server, which checks the
// response, not replays.
constexpr const char* kDigestRealm = "qor-server";
constexpr const char* kDigestNonce = "5f0c3a9e1d2b4c6a8e7f";

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 416:
      return "Range Not Satisfiable";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

class HttpSession {
 public:
  HttpSession(Server& server, Connection& connection, uint64_t id)
      : server_(server), c_(connection), id_(id) {}
  void Run();

 private:
  void Log(const std::string& kind, const std::string& text = "") {
    server_.Log().Add(id_, kind, text);
  }
  bool SendHead(const std::string& head);
  void SendSimple(int status, const std::string& extraHeaders, const std::string& body);
  bool Authorized(const std::string& credentials) const;
  void ServePlainFile(const Catalog::Entry& entry, const std::string& name, bool headOnly);
  void ServeStream(const Catalog::Entry& entry, const std::string& name);
  bool SendHeaderChunks(const Bytes& header);
  bool SendChunk(const Bytes& chunk) { return c_.WriteAll(chunk.data(), chunk.size()); }

  Server& server_;
  Connection& c_;
  uint64_t id_;
  HttpRequest request_;
  Faults faults_;
};

bool HttpSession::SendHead(const std::string& head) {
  const int pieces = std::max(1, faults_.splitHeader);
  const size_t step = (head.size() + static_cast<size_t>(pieces) - 1) / static_cast<size_t>(pieces);
  for (size_t at = 0; at < head.size(); at += step) {
    if (!c_.WriteAll(reinterpret_cast<const uint8_t*>(head.data()) + at,
                     std::min(step, head.size() - at)))
      return false;
    // Give each piece its own segment, so the client really sees them apart.
    if (pieces > 1 && at + step < head.size() && !c_.Pause(20)) return false;
  }
  return true;
}

void HttpSession::SendSimple(int status, const std::string& extraHeaders, const std::string& body) {
  Log("http-status", std::to_string(status));
  SendHead("HTTP/1.0 " + std::to_string(status) + " " + ReasonPhrase(status) + "\r\n" +
           "Server: " + kServerName + "\r\n" + extraHeaders +
           "Content-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body);
}

bool HttpSession::Authorized(const std::string& credentials) const {
  if (credentials.empty()) return true;
  const std::string header = request_.Header("Authorization");
  if (server_.Options().digestAuth) {
    AuthChallenge answer;
    if (!ParseAuthChallenge(header, answer) || answer.scheme != "digest") return false;
    const size_t colon = credentials.find(':');
    const std::string user = credentials.substr(0, colon);
    const std::string password = colon == std::string::npos ? "" : credentials.substr(colon + 1);
    // The uri the client hashed must be the one it asked for.
    if (answer.Param("username") != user || answer.Param("realm") != kDigestRealm ||
        answer.Param("nonce") != kDigestNonce || answer.Param("uri") != request_.target)
      return false;
    const std::string expected = DigestResponse(
        user, kDigestRealm, password, request_.method, answer.Param("uri"), kDigestNonce,
        answer.Param("nc"), answer.Param("cnonce"), answer.Param("qop"));
    return answer.Param("response") == expected;
  }
  const std::string scheme = "Basic ";
  if (header.size() <= scheme.size() || header.compare(0, scheme.size(), scheme) != 0) return false;
  return Base64Coder::DecodeString(header.substr(scheme.size())) == credentials;
}

void HttpSession::Run() {
  std::string buffer;
  uint8_t block[4096];
  for (;;) {
    size_t consumed = 0;
    const HeadParse parsed = ParseHttpRequest(buffer, request_, consumed);
    if (parsed == HeadParse::kDone) break;
    if (parsed == HeadParse::kBad) {
      Log("http-bad-request", std::to_string(buffer.size()) + " bytes");
      SendSimple(400, "", "");
      return;
    }
    size_t got = 0;
    const auto read = c_.ReadSome(block, sizeof block, got, 15000);
    if (read != Connection::Read::kData) {
      if (!buffer.empty()) Log("http-incomplete-request", std::to_string(buffer.size()) + " bytes");
      return;
    }
    buffer.append(reinterpret_cast<const char*>(block), got);
  }
  Log("http-request", request_.method + " " + request_.target + " " + request_.version);
  if (!request_.absoluteTarget.empty()) Log("http-proxy-target", request_.absoluteTarget);
  for (const auto& [key, value] : request_.headers) Log("http-header", key + ": " + value);

  std::string name, query;
  SplitQuery(request_.target, name, query);
  name = PercentDecode(name);
  std::string error;
  if (!ParseFaults(query, faults_, error)) {
    Log("http-bad-faults", error);
    SendSimple(400, "", error);
    return;
  }
  if (request_.method != "GET" && request_.method != "HEAD") {
    SendSimple(405, "Allow: GET, HEAD\r\n", "");
    return;
  }
  if (faults_.httpStatus != 0) {
    SendSimple(faults_.httpStatus, "", "");
    return;
  }
  const std::string clean = Catalog::CleanName(name);
  if (const auto it = server_.Options().redirects.find(clean);
      it != server_.Options().redirects.end()) {
    SendSimple(it->second.first, "Location: " + it->second.second + "\r\n", "");
    return;
  }
  const std::string& credentials =
      faults_.password.empty() ? server_.Options().password : faults_.password;
  if (!Authorized(credentials)) {
    SendSimple(401,
               server_.Options().digestAuth
                   ? std::string("WWW-Authenticate: Digest realm=\"") + kDigestRealm +
                         "\", nonce=\"" + kDigestNonce + "\", qop=\"auth\", algorithm=MD5\r\n"
                   : std::string("WWW-Authenticate: Basic realm=\"qor-server\"\r\n"),
               "");
    return;
  }
  const Catalog::Entry entry = server_.Media().Find(name);
  if (entry.kind == Catalog::Kind::kMissing) {
    SendSimple(404, "", "<html><body>Not Found</body></html>");
    return;
  }
  const bool plainServer = !server_.Options().plainType.empty();
  const bool streamable =
      !plainServer && (entry.kind == Catalog::Kind::kStream || entry.kind == Catalog::Kind::kLive);
  if (streamable && request_.FromMediaPlayer() && request_.method == "GET") {
    ServeStream(entry, clean);
    return;
  }
  if (entry.kind == Catalog::Kind::kLive) {
    SendSimple(404, "", "");  // a broadcast has no file to download
    return;
  }
  ServePlainFile(entry, clean, request_.method == "HEAD");
}

void HttpSession::ServePlainFile(const Catalog::Entry& entry, const std::string& name,
                                 bool headOnly) {
  FileHandle file;
  if (!file.Open(entry.path, FileHandle::Mode::OpenRead)) {
    SendSimple(404, "", "");
    return;
  }
  const int64_t size = file.Size();
  Log("http-file", name + " " + std::to_string(size) + " bytes");
  // "Range: bytes=N-" (the one form clients resuming a download send) is answered with 206.
  int64_t from = 0;
  const std::string range = request_.Header("Range");
  const bool ranged = range.rfind("bytes=", 0) == 0 && range.size() > 7 && range.back() == '-' &&
                      range.find_first_not_of("0123456789", 6) == range.size() - 1 &&
                      faults_.rangeMode != 1;
  if (ranged) {
    from = std::stoll(range.substr(6, range.size() - 7));
    if (from >= size) {
      SendSimple(416, "Content-Range: bytes */" + std::to_string(size) + "\r\n", "");
      return;
    }
    if (faults_.rangeMode == 2) from = 0;
    Log("http-range", "from byte " + std::to_string(from));
  }
  const std::string status = ranged ? "206 Partial Content" : "200 OK";
  const std::string contentRange = ranged
                                       ? "\r\nContent-Range: bytes " + std::to_string(from) + "-" +
                                             std::to_string(size - 1) + "/" + std::to_string(size)
                                       : "";
  // A server that names the range asked for and sends the whole file all the same.
  if (ranged && faults_.rangeMode == 3) from = 0;
  if (!SendHead("HTTP/1.0 " + status + "\r\nServer: " + std::string(kServerName) +
                "\r\nContent-Type: " +
                (server_.Options().plainType.empty() ? ContentTypeFor(name)
                                                     : server_.Options().plainType) +
                "\r\nContent-Length: " + std::to_string(size - from) + contentRange +
                "\r\nConnection: close\r\n\r\n") ||
      headOnly)
    return;
  if (from > 0 && file.Seek(from) != from) return;
  Bytes block(64 * 1024);
  int64_t sent = from;
  while (sent < size) {
    if (faults_.disconnectAfter >= 0 && sent >= faults_.disconnectAfter) {
      Log("fault-disconnect", std::to_string(sent) + " bytes");
      return;
    }
    int64_t want = std::min<int64_t>(static_cast<int64_t>(block.size()), size - sent);
    if (faults_.disconnectAfter >= 0) want = std::min(want, faults_.disconnectAfter - sent);
    const int64_t n = file.Read(block.data(), static_cast<size_t>(want));
    if (n <= 0 || !c_.WriteAll(block.data(), static_cast<size_t>(n))) return;
    sent += n;
  }
}

bool HttpSession::SendHeaderChunks(const Bytes& header) {
  if (faults_.trickleAfter == kTrickleHeader) {
    Log("fault-trickle", "the header on, " + std::to_string(faults_.trickleMs) + " ms a byte");
    c_.Trickle(faults_.trickleMs);
  }
  const size_t limit = static_cast<size_t>(0xFFFF) - kChunkExtensionLength;
  size_t pieces = (header.size() + limit - 1) / limit;
  if (faults_.headerPieces > 0)
    pieces = std::max(pieces, static_cast<size_t>(faults_.headerPieces));
  pieces = std::max<size_t>(pieces, 1);
  const size_t step = (header.size() + pieces - 1) / pieces;
  size_t index = 0;
  for (size_t at = 0; at < header.size(); at += step, ++index) {
    const size_t size = std::min(step, header.size() - at);
    const bool first = at == 0, last = at + size >= header.size();
    const uint8_t flags = first && last ? 0x0C : first ? 0x04 : last ? 0x08 : 0x00;
    if (faults_.cutHeader && index == 0) {
      const size_t half = std::max<size_t>(size / 2, 1);
      const Bytes chunk = BuildPacketChunk(kChunkHeader, 0, flags, header.data() + at, size);
      c_.WriteAll(chunk.data(), std::min(chunk.size(), 4 + kChunkExtensionLength + half));
      Log("fault-cut-header");
      return false;
    }
    if (!SendChunk(BuildPacketChunk(kChunkHeader, 0, flags, header.data() + at, size)))
      return false;
  }
  return true;
}

void HttpSession::ServeStream(const Catalog::Entry& entry, const std::string& name) {
  const bool live = entry.kind == Catalog::Kind::kLive;
  const bool play = request_.PlayRequest();
  const bool strip = faults_.stripPadding.value_or(server_.Options().stripPadding);
  const uint32_t fromMs = live ? 0 : request_.StreamTimeMs();
  PacketFeed feed = live ? PacketFeed(entry.live, strip)
                         : PacketFeed(entry.media, entry.media->PacketForTime(fromMs), strip);
  if (const auto entries = request_.Pragma("stream-switch-entry")) {
    if (faults_.stickyChoice) feed.KeepChoiceForEveryEntry();
    feed.Choose(ParseStreamSwitchEntries(*entries));
  }
  std::string features = "\"seekable,stridable\"";
  if (live) features = entry.live->Playlist() ? "\"broadcast,playlist\"" : "\"broadcast\"";
  const std::string pragma = "Pragma: no-cache, client-id=" + std::to_string(3000000000u + id_) +
                             ", features=" + features + "\r\n";
  Log(play ? "http-play" : "http-describe",
      name + (play ? " stream-time=" + std::to_string(fromMs) : "") +
          (request_.Pragma("stream-switch-entry")
               ? " streams=" + *request_.Pragma("stream-switch-entry")
               : ""));
  const char* const describeType =
      faults_.octetTypes ? "application/octet-stream" : "application/vnd.ms.wms-hdr.asfv1";
  const char* const playType =
      faults_.octetTypes ? "application/octet-stream" : "application/x-mms-framed";
  if (!play) {
    const Bytes& header = faults_.describeBehind ? feed.PreviousEntryHeader() : feed.Header();
    const size_t chunks = (header.size() + 0xFFF6) / 0xFFF7;
    const size_t length = header.size() + chunks * (4 + kChunkExtensionLength);
    const bool sizeKnown = faults_.headerPieces == 0 && !faults_.cutHeader;
    if (!SendHead("HTTP/1.0 200 OK\r\nContent-Type: " + std::string(describeType) +
                  "\r\n"
                  "Server: " +
                  std::string(kServerName) + "\r\n" +
                  (sizeKnown ? "Content-Length: " + std::to_string(length) + "\r\n" : "") + pragma +
                  "Cache-Control: no-cache\r\nConnection: close\r\n\r\n"))
      return;
    SendHeaderChunks(header);
    return;
  }
  if (!SendHead("HTTP/1.0 200 OK\r\nContent-Type: " + std::string(playType) +
                "\r\nServer: " + std::string(kServerName) + "\r\n" + pragma +
                "Cache-Control: no-cache\r\nConnection: close\r\n\r\n"))
    return;
  if (!SendHeaderChunks(feed.Header())) return;

  const double rate = server_.RateFor(live);
  const auto start = std::chrono::steady_clock::now();
  uint64_t sent = 0;
  uint8_t sequence = 0;
  // Unpaced, data chunks are built straight into one buffer and go out a socket write per
  // kBatchBytes instead of one per packet; anything else sent goes after them.
  constexpr size_t kBatchBytes = 64 * 1024;
  Bytes batch;
  const auto flush = [&] {
    const bool written = batch.empty() || c_.WriteAll(batch.data(), batch.size());
    batch.clear();
    return written;
  };
  for (;;) {
    FeedItem item = feed.Next();
    if (item.kind == FeedItem::Kind::kEnd) break;
    if (!batch.empty() &&
        (item.kind != FeedItem::Kind::kPacket || rate > 0 || faults_.disconnectAfter >= 0 ||
         faults_.stallSeconds > 0 || faults_.trickleAfter >= 0 ||
         static_cast<int64_t>(sent) == faults_.unknownTagAfter ||
         static_cast<int64_t>(sent) == faults_.unknownCommandAfter)) {
      if (!flush()) return;
    }
    if (item.kind == FeedItem::Kind::kEntryChange) {
      Log("http-entry-change");
      if (!SendChunk(BuildReasonChunk(kChunkEnd, 1)) ||
          !SendChunk(BuildReasonChunk(kChunkChange, 0)) || !SendHeaderChunks(item.bytes))
        return;
      continue;
    }
    if (rate > 0) {
      const auto due =
          start + std::chrono::milliseconds(static_cast<int64_t>(
                      static_cast<double>(item.scheduleMs - feed.StartScheduleMs()) / rate));
      const auto now = std::chrono::steady_clock::now();
      if (due > now &&
          !c_.Pause(std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count()))
        return;
    }
    if (faults_.disconnectAfter >= 0 && static_cast<int64_t>(sent) >= faults_.disconnectAfter) {
      Log("fault-disconnect", std::to_string(sent) + " packets");
      return;
    }
    if (live && server_.LiveDropDue(start, std::chrono::steady_clock::now())) {
      Log("live-drop", std::to_string(sent) + " packets");
      return;
    }
    if (static_cast<int64_t>(sent) == faults_.trickleAfter) {
      Log("fault-trickle", std::to_string(faults_.trickleMs) + " ms a byte");
      if (!flush()) return;
      c_.Trickle(faults_.trickleMs);
    }
    if (faults_.stallSeconds > 0 && static_cast<int64_t>(sent) == faults_.stallAfter) {
      Log("fault-stall", std::to_string(faults_.stallSeconds) + " s");
      if (!c_.Pause(static_cast<int64_t>(faults_.stallSeconds * 1000))) return;
    }
    if (static_cast<int64_t>(sent) == faults_.unknownTagAfter ||
        static_cast<int64_t>(sent) == faults_.unknownCommandAfter) {
      Log("fault-unknown-chunk");
      const Bytes odd = BuildPacketChunk('X', item.locationId, 0, item.bytes.data(), 16);
      if (!SendChunk(odd)) return;
    }
    const size_t at = batch.size();
    AppendPacketChunk(batch, kChunkData, item.locationId, sequence++, item.bytes.data(),
                      item.bytes.size());
    if (static_cast<int64_t>(sent) == faults_.badLengthAfter) {
      Log("fault-bad-length");
      StoreU16(batch.data() + at + 2, 4);  // shorter than its own extension
    }
    ++sent;
    if ((rate > 0 || batch.size() >= kBatchBytes || faults_.disconnectAfter >= 0) && !flush())
      return;
  }
  if (!flush()) return;
  Log("http-end", std::to_string(sent) + " packets");
  Log("streams-sent", CountsText(feed.Counts()));
  SendChunk(BuildReasonChunk(kChunkEnd, 0));
}

}  // namespace

void ServeHttp(Server& server, Connection& connection, uint64_t id, const sockaddr_storage& peer) {
  server.Log().Add(id, "http-connect", AddressText(peer));
  HttpSession(server, connection, id).Run();
}

}  // namespace qor::server
