#include "session/http_requests.h"

#include <algorithm>
#include <cstdio>

#include "asf/asf.h"

namespace qor {

namespace {

constexpr const char* kEnd = "\r\n";

std::string RequestLine(const HttpRequestTarget& t) {
  if (t.useProxy) return "GET http://" + t.host + "/" + t.path + " HTTP/1.0\r\n";
  return "GET /" + t.path + " HTTP/1.0\r\n";
}

std::string CommonLines(const HttpRequestTarget& t) {
  return RequestLine(t) + "Accept: */*\r\nUser-Agent: NSPlayer/7.1.0.1956\r\nHost: " + t.host +
         kEnd + "Pragma: no-cache\r\nPragma: rate=1.000000\r\n";
}

std::string SwitchLines(const TASF& asf, const std::vector<uint8_t>& leftOut) {
  return "Pragma: stream-switch-count=" + std::to_string(asf.StreamCount) + kEnd +
         "Pragma: stream-switch-entry=" + StreamSwitchEntries(asf, leftOut) + kEnd;
}

}  // namespace

std::string StreamSwitchEntries(const TASF& asf, const std::vector<uint8_t>& leftOut) {
  std::string text;
  const uint32_t count = asf.StreamCount < kAsfSlots ? asf.StreamCount : kAsfSlots;
  for (uint32_t i = 0; i < count; ++i) {
    char number[8];
    std::snprintf(number, sizeof number, "%x", static_cast<unsigned>(asf.StreamNumbers[i]));
    const bool off =
        std::find(leftOut.begin(), leftOut.end(), asf.StreamNumbers[i]) != leftOut.end();
    text += std::string("ffff:") + number + (off ? ":2 " : ":0 ");
  }
  return text;
}

std::string WithAuthorization(const std::string& request, const std::string& value) {
  if (value.empty()) return request;
  // After the Host line, where players put it; every request has one.
  const size_t host = request.find("\r\nHost: ");
  const size_t end = host == std::string::npos ? std::string::npos : request.find(kEnd, host + 2);
  if (end == std::string::npos) return request;
  return request.substr(0, end + 2) + "Authorization: " + value + kEnd + request.substr(end + 2);
}

std::string BuildDescribeRequest(const HttpRequestTarget& target, int64_t rangeFrom) {
  const std::string range =
      rangeFrom >= 0 ? "Range: bytes=" + std::to_string(rangeFrom) + "-" + kEnd : std::string();
  return CommonLines(target) + range +
         "Pragma: stream-time=0\r\n"
         "Pragma: stream-offset=0:0\r\n"
         "Pragma: request-context=1\r\n"
         "Pragma: max-duration=0\r\n"
         "Pragma: xClientGUID=" +
         target.clientGuid + kEnd + kEnd;
}

std::string BuildPrerecordedPlayRequest(const HttpRequestTarget& target, uint32_t startMs,
                                        uint32_t context, const TASF& asf,
                                        const std::vector<uint8_t>& leftOut,
                                        const std::string& fastPragmas) {
  return CommonLines(target) + "Pragma: stream-time=" + std::to_string(startMs) + kEnd +
         "Pragma: stream-offset=0:0\r\n"
         "Pragma: request-context=" +
         std::to_string(context) + kEnd +
         "Pragma: max-duration=0\r\n"
         "Pragma: xPlayStrm=1\r\n"
         "Pragma: xClientGUID=" +
         target.clientGuid + kEnd + fastPragmas + SwitchLines(asf, leftOut) + kEnd;
}

std::string BuildLivePlayRequest(const HttpRequestTarget& target, const TASF& asf,
                                 const std::vector<uint8_t>& leftOut) {
  return CommonLines(target) +
         "Pragma: request-context=2\r\n"
         "Pragma: xPlayStrm=1\r\n"
         "Pragma: xClientGUID=" +
         target.clientGuid + kEnd + SwitchLines(asf, leftOut) + kEnd;
}

}  // namespace qor
