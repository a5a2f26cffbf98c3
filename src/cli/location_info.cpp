#include "cli/location_info.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "asf/asf.h"
#include "asf/stream_selection.h"
#include "cli/exit_status.h"
#include "cli/info_json.h"
#include "session/http_requests.h"
#include "support/helper.h"

namespace qor::cli {

namespace {

constexpr int kWaitMs = 15000;
// A header larger than this is refused, as the session refuses one.
constexpr size_t kMaxResponse = 16u * 1024 * 1024 + 65536;

std::string LowerText(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

struct Target {
  std::string host, port, path;
};

bool SplitLocation(const std::string& url, int32_t httpPort, Target& t, std::string& error) {
  const size_t scheme = url.find("://");
  const std::string name = LowerText(url.substr(0, scheme));
  const bool http = name == "http" || name == "mmsh";
  if (!http && name != "mms" && name != "mmst" && name != "mmsu") {
    error = "not a streaming location (http://, mmsh://, mms://)";
    return false;
  }
  const std::string rest = url.substr(scheme + 3);
  const size_t slash = rest.find('/');
  std::string authority = rest.substr(0, slash);
  t.path = slash == std::string::npos ? "" : rest.substr(slash + 1);
  const size_t colon = authority.rfind(':');
  t.host = authority.substr(0, colon);
  // Over HTTP a port in the location is the HTTP port; over MMS it is the MMS one, not asked here.
  t.port = std::to_string(httpPort > 0 ? httpPort : 80);
  if (colon != std::string::npos && http) t.port = authority.substr(colon + 1);
  if (t.host.empty()) {
    error = "no host in the location";
    return false;
  }
  return true;
}

// The whole response until the server closes (it does after a describe), within the bounds.
bool Exchange(const Target& t, const std::string& request, std::string& response,
              std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(t.host.c_str(), t.port.c_str(), &hints, &found) != 0 || found == nullptr) {
    error = "cannot resolve " + t.host;
    return false;
  }
  int fd = -1;
  for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (fd >= 0 && ::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
      ::close(fd);
      fd = -1;
    }
  }
  ::freeaddrinfo(found);
  if (fd < 0) {
    error = "cannot connect to " + t.host + ":" + t.port;
    return false;
  }
  bool ok = ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  char buffer[65536];
  while (ok) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    pollfd p{fd, POLLIN, 0};
    if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) {
      error = "the server did not finish its answer in time";
      ok = false;
      break;
    }
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    response.append(buffer, static_cast<size_t>(got));
    if (response.size() > kMaxResponse) {
      error = "the server's answer is too large";
      ok = false;
    }
  }
  ::close(fd);
  if (!ok && error.empty()) error = "sending the request failed";
  return ok;
}

}  // namespace

bool IsLocation(const std::string& text) {
  return text.find("://") != std::string::npos;
}

bool FetchHeader(const std::string& url, int32_t httpPort, std::vector<uint8_t>& header,
                 std::string& error) {
  Target t;
  if (!SplitLocation(url, httpPort, t, error)) return false;
  HttpRequestTarget target;
  target.host = t.host + (t.port == "80" ? "" : ":" + t.port);
  target.path = t.path;
  target.clientGuid = "{3300AD50-2C39-46C0-AE0A-00000000D0C1}";
  std::string response;
  if (!Exchange(t, BuildDescribeRequest(target), response, error)) return false;
  const size_t end = response.find("\r\n\r\n");
  const std::string status = response.substr(0, response.find("\r\n"));
  if (end == std::string::npos || status.find(" 200") == std::string::npos) {
    error =
        "the server answered " + (status.empty() ? std::string("nothing") : "\"" + status + "\"");
    return false;
  }
  const auto* body = reinterpret_cast<const uint8_t*>(response.data()) + end + 4;
  const size_t size = response.size() - end - 4;
  header.clear();
  // $H chunks: mark, type, 16-bit length, then 8 bytes of packet header and the header's piece.
  size_t pos = 0;
  while (pos + 4 <= size && (body[pos] == 0x24 || body[pos] == 0xA4) && body[pos + 1] == 'H') {
    const size_t length = body[pos + 2] | static_cast<size_t>(body[pos + 3]) << 8;
    if (length < 8 || length > size - pos - 4) break;
    header.insert(header.end(), body + pos + 12, body + pos + 4 + length);
    pos += 4 + length;
  }
  // A web server hands the file itself: its header comes first.
  if (header.empty()) header.assign(body, body + size);
  return true;
}

int RunLocationInfo(const CliOptions& options) {
  std::vector<uint8_t> header;
  std::string error;
  int32_t port = 0;
  if (options.httpPort) port = std::stoi(*options.httpPort);
  if (!FetchHeader(options.file, port, header, error)) {
    std::cerr << "qor-cli: " << options.file << ": " << error << "\n";
    return kExitFailed;
  }
  TASF asf;
  const StreamOffer offer = ReadStreamOffer(header.data(), header.size());
  if (offer.streams.empty() || !asf.ParseHeader(header.data(), header.size())) {
    std::cerr << "qor-cli: " << options.file << ": no media header came from the server\n";
    return kExitFailed;
  }
  auto details = [&](uint8_t number) {
    for (uint32_t i = 0; i < std::min(asf.StreamCount, kAsfSlots); ++i) {
      if (asf.StreamNumbers[i] != number) continue;
      if (asf.StreamKinds[i] & skVideo)
        return std::to_string(asf.VideoWidths[i]) + "x" + std::to_string(asf.VideoHeights[i]);
      if (asf.StreamKinds[i] & skAudio)
        return std::to_string(asf.AudioSampleRates[i]) + " Hz, " +
               std::to_string(asf.AudioChannels[i]) + " ch";
    }
    return std::string();
  };
  auto kind = [](OfferedKind k) {
    return k == OfferedKind::kAudio ? "audio" : k == OfferedKind::kVideo ? "video" : "other";
  };
  if (options.json) {
    AsfDescription description;
    DescribeAsfHeader(header.data(), header.size(), description);
    InfoJsonSource source;
    source.location = options.file;
    std::cout << JsonText(InfoJsonOf(description, source));
    return kExitCompleted;
  }
  std::cout << "Streams offered by " << options.file
            << ((asf.FileFlags & ffBroadcast) ? " (live)" : "") << ":\n";
  for (const OfferedStream& s : offer.streams) {
    std::cout << "  " << int(s.number) << "\t" << kind(s.kind) << "\t"
              << (s.bitrate ? std::to_string(s.bitrate) + " bps" : std::string("rate unknown"))
              << "\t" << details(s.number);
    if (s.group >= 0) std::cout << "\tgroup " << (s.group + 1);
    std::cout << "\n";
  }
  if (offer.groupCount > 0)
    std::cout << "Of each group one stream is recorded with --max-rate, --audio-only or the rate "
                 "setting; --streams names them exactly.\n";
  return kExitCompleted;
}

}  // namespace qor::cli
