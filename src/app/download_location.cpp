#include "app/download_location.h"

#include "app/options_dialog.h"

namespace qor {

std::optional<int32_t> TransportOfScheme(const std::string& url) {
  Location parts;
  ParseLocation(url, parts);
  if (parts.scheme == "mmsu") return kProtoUdp;
  if (parts.scheme == "mmst") return kProtoTcp;
  if (parts.scheme == "http" || parts.scheme == "mmsh") return kProtoHttp;
  if (parts.scheme == "rtsp") return kProtoRtsp;
  if (parts.scheme == "rtspu") return kProtoRtspUdp;
  if (parts.scheme == "rtspt") return kProtoRtspTcp;
  return std::nullopt;
}

int32_t TransportFor(const std::string& url, int32_t chosen, std::optional<int32_t> forced) {
  if (forced) return *forced;
  return TransportOfScheme(url).value_or(chosen);
}

LocationCheck ReadDownloadLocation(const std::string& url, bool overHttp, DownloadLocation& out,
                                   std::string& refusal) {
  out = DownloadLocation{};
  const LocationProblem problem = ParseLocation(url, out.parts);
  const Location& p = out.parts;
  if (problem == LocationProblem::NoScheme || problem == LocationProblem::NoHost ||
      problem == LocationProblem::BadHost)
    return LocationCheck::NoHost;
  if (!overHttp && (p.path.size() < 2 || p.path.front() != '/')) return LocationCheck::NoHost;
  // The transport comes from the options, so a scheme we do not speak would otherwise be sent to
  // an MMS or HTTP server as if it were one, and a bad port would be looked up as part of the
  // host name ("DNS resolve failed").
  static const char* const kSchemes[] = {"mms",  "mmst", "mmsu",  "mmsh",
                                         "http", "rtsp", "rtspu", "rtspt"};
  bool known = false;
  for (const char* s : kSchemes) known = known || p.scheme == s;
  if (!known) {
    refusal = "Unsupported location type '" + p.scheme +
              "://': Qor records mms://, mmst://, mmsu://, mmsh://, http://, rtsp://, rtspu:// "
              "and rtspt:// locations";
    return LocationCheck::Refused;
  }
  if (problem == LocationProblem::BadPort) {
    refusal = "Bad port '" + p.portText + "' in the location: a port is a number from 1 to 65535";
    return LocationCheck::Refused;
  }
  out.hostText = p.host + (p.hasPort ? ":" + p.portText : std::string());
  out.pathText = !p.path.empty() && p.path.front() == '/' ? p.path.substr(1) : p.path;
  return LocationCheck::Ready;
}

}  // namespace qor
