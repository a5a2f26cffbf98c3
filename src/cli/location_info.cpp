#include "cli/location_info.h"

#include <algorithm>
#include <iostream>
#include <sstream>

#include "app/convert_error.h"
#include "app/options_dialog.h"
#include "app/rtsp_describe_client.h"
#include "asf/asf.h"
#include "asf/stream_selection.h"
#include "cli/download_run.h"
#include "cli/exit_status.h"
#include "cli/info_json.h"
#include "cli/run_setup.h"
#include "http/streaming_header.h"
#include "session/http_requests.h"
#include "support/helper.h"
#include "support/location.h"

namespace qor::cli {

namespace {

constexpr const char* kClientGuid = "{3300AD50-2C39-46C0-AE0A-00000000D0C1}";
constexpr const char* kPlayer = "NSPlayer/7.1.0.1956";

// The address the describe request goes to: over HTTP a port in the location is the HTTP port;
// an MMS location's port is the MMS one, so its title is asked on the HTTP port.
bool DescribeAddress(const std::string& url, int32_t httpPort, std::string& address,
                     Location& parts, std::string& error) {
  ParseLocation(url, parts);
  const std::string& scheme = parts.scheme;
  const bool http = scheme == "http" || scheme == "mmsh";
  if (!http && scheme != "mms" && scheme != "mmst" && scheme != "mmsu") {
    error = "not a streaming location (http://, mmsh://, mms://, rtsp://)";
    return false;
  }
  if (parts.host.empty()) {
    error = "no host in the location";
    return false;
  }
  const int32_t port = http && parts.port > 0 ? parts.port : httpPort > 0 ? httpPort : 80;
  const std::string path =
      parts.path.empty() || parts.path.front() != '/' ? "/" + parts.path : parts.path;
  // Credentials written in the location go with it (the client sends them to that server only).
  const std::string user = parts.user.empty() ? "" : parts.user + ":" + parts.password + "@";
  address = "http://" + user + HostAndPort(parts.host, port == 80 ? 0 : port) + path;
  return true;
}

// What a failure of the location client says, in the words this command has always used.
std::string FetchError(const std::string& text, const Location& parts, const TSocketClient& client,
                       const SessionTimeouts& limits) {
  const std::string server = HostAndPort(parts.host, client.Port);
  if (text == "Null Remote Address" || text == "Host Lookup Timed Out")
    return "cannot resolve " + parts.host;
  if (text == "Connection Timed out")
    return "cannot connect to " + server + " within " + std::to_string(limits.ConnectSeconds) +
           " seconds";
  if (text == "Connection Failed") return "cannot connect to " + server;
  if (text == "Socket readln aborted" || text == "Socket capture aborted")
    return "the server did not finish its answer in time";
  if (text == "HTTP response body too large") return "the server's answer is too large";
  return text;
}

}  // namespace

bool IsLocation(const std::string& text) {
  return text.find("://") != std::string::npos;
}

bool IsRtspLocation(const std::string& url) {
  Location parts;
  ParseLocation(url, parts);
  return parts.scheme == "rtsp" || parts.scheme == "rtspu" || parts.scheme == "rtspt";
}

bool FetchRtspHeader(TApplication& app, const CliOptions& options, std::vector<uint8_t>& header,
                     std::string& error) {
  Location parts;
  ParseLocation(options.file, parts);
  if (parts.host.empty()) {
    error = "no host in the location";
    return false;
  }
  TRtspDescribeClient client;
  client.Port = parts.port > 0 ? parts.port : TRtspDescribeClient::kStandardPort;
  SessionTimeouts limits = app.MainForm->StoredTimeouts();
  if (app.MainForm->AdjustTimeouts) app.MainForm->AdjustTimeouts(limits);
  client.ConnectTimeOut = static_cast<uint32_t>(limits.ConnectSeconds) * 1000;
  client.TimeOut = static_cast<uint32_t>(limits.AnswerSeconds) * 1000;
  // Credentials in the location, else those of the command line.
  client.User = parts.hasUser ? parts.user : options.user.value_or("");
  client.Password = parts.hasUser ? parts.password : options.password.value_or("");
  try {
    InterruptWatch watch([&client] { client.Disconnect(); });
    client.Describe(options.file);
  } catch (const ESocketError& e) {
    error = Interrupted() ? "interrupted" : FetchError(e.what(), parts, client, limits);
    return false;
  }
  if (client.Answer.status != 200) {
    error = "the server answered \"RTSP/1.0 " + std::to_string(client.Answer.status) + " " +
            client.Answer.reason + "\"";
    return false;
  }
  if (!client.Described) {
    error = client.Why;
    return false;
  }
  header = client.Description.asfHeader;
  return true;
}

bool FetchHeader(TApplication& app, const CliOptions& options, std::vector<uint8_t>& header,
                 std::string& error) {
  if (IsRtspLocation(options.file)) return FetchRtspHeader(app, options, header, error);
  int32_t httpPort = 0;
  if (options.httpPort) httpPort = std::stoi(*options.httpPort);
  std::string address;
  Location parts;
  if (!DescribeAddress(options.file, httpPort, address, parts, error)) return false;
  TMainForm& form = *app.MainForm;
  TOptionsDialog& settings = *app.OptionsDialog;
  THttpClient client;
  // The describe request of HTTP streaming, through the proxy and under the time-outs a
  // download would have.
  if (settings.HProxyTick.Checked) {
    client.Proxy = settings.HProxyURL.Text;
    client.ProxyPort = TryStrToInt(settings.HProxyPort.Text).value_or(0);
  }
  SessionTimeouts limits = form.StoredTimeouts();
  if (form.AdjustTimeouts) form.AdjustTimeouts(limits);
  client.ConnectTimeOut = static_cast<uint32_t>(limits.ConnectSeconds) * 1000;
  client.TimeOut = static_cast<uint32_t>(limits.AnswerSeconds) * 1000;
  client.HeaderInfo.LocalMailAddress = kPlayer;
  HttpRequestTarget target;
  target.clientGuid = kClientGuid;
  std::istringstream lines(BuildDescribeRequest(target));
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("Pragma:", 0) == 0) client.ExtraLines.push_back(line);
  }
  try {
    // Ctrl-C cancels the fetch from outside the window thread it blocks.
    InterruptWatch watch([&client] { client.Disconnect(); });
    client.Get(address);
  } catch (const ESocketError& e) {
    error = Interrupted() ? "interrupted" : FetchError(e.what(), parts, client, limits);
    return false;
  }
  const std::string status = client.Header.substr(0, client.Header.find("\r\n"));
  if (client.StatusCode() != 200) {
    error =
        "the server answered " + (status.empty() ? std::string("nothing") : "\"" + status + "\"");
    return false;
  }
  header = StreamingHeaderOf(client.Body);
  return true;
}

int RunLocationInfo(const CliOptions& options) {
  std::vector<uint8_t> header;
  std::string error;
  {
    InstallInterruptHandler();
    const RunSettings settings(options);
    CliDesktop desktop;
    const std::unique_ptr<TApplication> app = MakeRunForms(options, desktop);
    if (!FetchHeader(*app, options, header, error)) {
      std::cerr << "qor-cli: " << HidePasswords(options.file) << ": " << error << "\n";
      return Interrupted() ? kExitInterrupted : kExitFailed;
    }
  }
  TASF asf;
  const StreamOffer offer = ReadStreamOffer(header.data(), header.size());
  if (offer.streams.empty() || !asf.ParseHeader(header.data(), header.size())) {
    std::cerr << "qor-cli: " << HidePasswords(options.file)
              << ": no media header came from the server\n";
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
    source.location = HidePasswords(options.file);
    std::cout << JsonText(InfoJsonOf(description, source));
    return kExitCompleted;
  }
  std::cout << "Streams offered by " << HidePasswords(options.file)
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
