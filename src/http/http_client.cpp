#include "http/http_client.h"

#include "support/base64.h"
#include "support/helper.h"

namespace qor {

namespace {

constexpr const char* kHeaderTooLarge = "HTTP response header too large";
constexpr const char* kBodyTooLarge = "HTTP response body too large";
constexpr const char* kRequestTooLarge = "HTTP request too large";

// A value that ends up inside a request line must not be able to start a line of its own.
std::string OneLine(const std::string& value) {
  std::string clean;
  clean.reserve(value.size());
  for (char c : value) {
    if (c != '\r' && c != '\n') clean += c;
  }
  return clean;
}

}  // namespace

THttpClient::THttpClient() = default;

std::string THttpClient::OriginOf(const std::string& host, int32_t port) {
  return THelper::LowerCase(host) + ":" + std::to_string(port);
}

void THttpClient::SetCredentials(const std::string& userId, const std::string& password) {
  HeaderInfo.UserId = userId;
  HeaderInfo.Password = password;
  credentials_.rebind = true;
}

bool THttpClient::MayReceive(Binding& binding, const std::string& value,
                             const std::string& fallback, const std::string& origin) {
  if (binding.rebind || value != binding.seen) {
    binding.origin = fallback;
    binding.seen = value;
    binding.rebind = false;
  }
  return binding.origin == origin;
}

void THttpClient::BuildRequest(const std::string& origin) {
  THeaderLines& lines = request_lines_;
  lines.Clear();
  lines.Add("GET " + OneLine(Proxy.empty() ? request_.path : request_.url) + " HTTP/1.0");
  if (!Proxy.empty()) lines.AddValue("Proxy-Connection", "Keep-Alive");
  // A server behind another port than 80 (virtual hosts, redirect targets) needs it named.
  lines.AddValue(
      "Host", OneLine(request_.port == 80 ? request_.host
                                          : request_.host + ":" + std::to_string(request_.port)));
  lines.Add("Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff");
  lines.Add("Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript");
  const THeaderInfo& info = HeaderInfo;
  if (!info.LocalMailAddress.empty()) lines.AddValue("User-Agent", OneLine(info.LocalMailAddress));
  if (!info.LocalProgram.empty()) lines.AddValue("From", OneLine(info.LocalProgram));
  if (!info.Cookie.empty() && MayReceive(cookie_, info.Cookie, get_origin_, origin)) {
    lines.AddValue("Cookie", OneLine(info.Cookie));
  }
  if (!info.Referer.empty()) lines.AddValue("Referer", OneLine(info.Referer));
  authorization_sent_ = false;
  if (!url_credentials_.empty() && origin == get_origin_) {
    // Credentials written in the caller's location belong to the server it names.
    lines.AddValue("Authorization", "Basic " + Base64Coder::EncodeString(url_credentials_));
    authorization_sent_ = true;
  } else if (!info.UserId.empty() && !info.Password.empty()) {
    std::string pair = info.UserId + ":" + info.Password;
    std::string key = std::to_string(info.UserId.size()) + ":" + pair;
    const std::string& askedFor = asked_origin_.empty() ? get_origin_ : asked_origin_;
    if (MayReceive(credentials_, key, askedFor, origin)) {
      lines.AddValue("Authorization", "Basic " + Base64Coder::EncodeString(pair));
      authorization_sent_ = true;
    }
  }
  for (const std::string& line : ExtraLines) lines.Add(OneLine(line));
  lines.Add("Content-type: application/x-www-form-urlencoded");
}

void THttpClient::ReadHead(ResponseHead& head) {
  Header.clear();
  std::string line;
  for (;;) {
    switch (ReadLine(line, kMaxHeaderBytes - head.text.size())) {
      case LineResult::TooLong:
        throw ESocketError(kHeaderTooLarge);
      case LineResult::Closed:
        return;  // the head ends with the connection
      case LineResult::Line:
        break;
    }
    HeadStep step = AddHeadLine(head, line);
    if (step == HeadStep::TooLarge) throw ESocketError(kHeaderTooLarge);
    Header.append(line);
    if (step == HeadStep::Complete) return;
  }
}

void THttpClient::ReadBody(const ResponseHead& head) {
  Body.clear();
  if (head.contentLength > static_cast<int64_t>(kMaxBodyBytes)) throw ESocketError(kBodyTooLarge);
  // Without a length the body runs until the server closes; one byte past the bound tells us the
  // bound was passed.
  size_t limit =
      head.contentLength >= 0 ? static_cast<size_t>(head.contentLength) : kMaxBodyBytes + 1;
  while (Body.size() < limit) {
    if (ReadChunk(Body, limit - Body.size()) == 0) break;
  }
  if (Body.size() > kMaxBodyBytes) {
    Body.resize(kMaxBodyBytes);
    throw ESocketError(kBodyTooLarge);
  }
}

void THttpClient::Get(const std::string& url) {
  Operation operation(*this);
  Body.clear();
  Header.clear();
  status_code_ = 0;
  credentials_answer_ = 0;
  current_url_ = url;
  int redirections = 0;
  for (bool first = true;; first = false) {
    RequestUrl next;
    std::string error = ParseRequestUrl(current_url_, request_.host, Port, next);
    if (!error.empty()) throw ESocketError(error);
    request_ = next;
    Port = next.port;
    current_url_ = next.url;
    const std::string origin = OriginOf(request_.host, Port);
    if (first) {
      get_origin_ = origin;
      // Only the caller's location may carry credentials: a redirection's are the server's
      // choice and go nowhere.
      url_credentials_ = next.user.empty() ? std::string() : next.user + ":" + next.password;
    }

    BuildRequest(origin);
    std::string request = request_lines_.Text();
    if (request.size() > kTransferBufferSize) throw ESocketError(kRequestTooLarge);
    if (OnAboutToSend) OnAboutToSend(this);
    if (Proxy.empty()) {
      Connect(request_.host, Port);
    } else {
      Connect(Proxy, ProxyPort);
    }
    SendText(request);

    ResponseHead head;
    ReadHead(head);
    status_code_ = head.status;
    if (authorization_sent_) credentials_answer_ = static_cast<int16_t>(head.status);
    ReadBody(head);

    const int status = head.status;
    const bool redirect = status >= 300 && status <= 302 && !head.location.empty();
    if (status >= 100 && status <= 298) {
      if (OnSuccess) OnSuccess(kCommandGet);
    } else if (redirect) {
      current_url_ = head.location;
    } else if (OnFailure) {
      // Error statuses, the redirections we do not follow (299, 303 to 399, or one without a
      // target) and answers without a usable status line.
      OnFailure(kCommandGet);
    }
    CloseSocket();

    if (redirect) {
      if (redirections == kMaxRedirections) throw ESocketError("Too many redirections");
      ++redirections;
      if (head.hasCookie) {
        HeaderInfo.Cookie = head.cookie;
        cookie_ = Binding{origin, head.cookie, false};
      }
      bool handled = false;
      if (OnRedirect) OnRedirect(handled);
      if (handled) return;
      if (current_url_.find('/') == std::string::npos) {
        current_url_ = SiteOf(request_.host, Port) + "/" + current_url_;
      }
      continue;
    }
    if (status == 401) {
      asked_origin_ = origin;
      if (OnAuthenticationNeeded) OnAuthenticationNeeded(this);
    }
    return;
  }
}

}  // namespace qor
