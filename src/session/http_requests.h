#pragma once
// The requests of MMS over HTTP streaming, built as whole texts (CR LF lines, a blank line last).

#include <cstdint>
#include <string>
#include <vector>

namespace qor {

class TASF;

struct HttpRequestTarget {
  std::string host;
  std::string path;  // without the leading slash
  std::string clientGuid;
  bool useProxy = false;  // the absolute form goes to the proxy
};

// "ffff:N:0 " for every stream of the header, in header order, N in lower-case hexadecimal;
// "ffff:N:2 " (off) for the streams in leftOut.
std::string StreamSwitchEntries(const TASF& asf, const std::vector<uint8_t>& leftOut = {});

// First connection: asks for the ASF header only. A resumed download also asks for the bytes from
// rangeFrom on (when not negative), which a plain web server answers with the rest of its file.
std::string BuildDescribeRequest(const HttpRequestTarget& target, int64_t rangeFrom = -1);
// Pre-recorded play from startMs with the given request context (2 from the start, 4 from a
// chosen time). fastPragmas: the lines that ask for faster delivery, if any.
std::string BuildPrerecordedPlayRequest(const HttpRequestTarget& target, uint32_t startMs,
                                        uint32_t context, const TASF& asf,
                                        const std::vector<uint8_t>& leftOut = {},
                                        const std::string& fastPragmas = {});
// The request with an "Authorization: value" line added (unchanged for an empty value).
std::string WithAuthorization(const std::string& request, const std::string& value);
std::string BuildLivePlayRequest(const HttpRequestTarget& target, const TASF& asf,
                                 const std::vector<uint8_t>& leftOut = {});

}  // namespace qor
