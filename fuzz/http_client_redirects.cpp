// The location client against a server that answers with the input: each NUL-separated piece is
// the whole response to one connection, so a redirect chain of any shape is played out over real
// loopback sockets. Every connection goes to the proxy (our loopback server), whatever host a
// redirect names, so nothing leaves the machine. Credentials and cookies must reach only the
// site they belong to, and nothing a server sends may be held past its bound.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "http/http_client.h"
#include "platform/window_thread.h"

namespace {

constexpr size_t kMaxResponses = qor::THttpClient::kMaxRedirections + 2;
constexpr const char* kFirstOrigin = "site.test:80";

class LoopbackServer {
 public:
  LoopbackServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      std::abort();
    }
    port_ = ntohs(address.sin_port);
    std::thread([this] { Serve(); }).detach();
  }

  int Port() const { return port_; }

  void Script(std::deque<std::string> responses) {
    std::lock_guard<std::mutex> lock(mutex_);
    responses_ = std::move(responses);
    connections_ = 0;
  }
  size_t Connections() {
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_;
  }

 private:
  void Serve() {
    for (;;) {
      const int fd = ::accept(listener_, nullptr, nullptr);
      if (fd < 0) continue;
      std::string response;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ++connections_;
        if (!responses_.empty()) {
          response = std::move(responses_.front());
          responses_.pop_front();
        }
      }
      // Read the request head first, so closing does not reset a connection the client is
      // still writing to.
      std::string request;
      char buffer[4096];
      while (request.find("\r\n\r\n") == std::string::npos && request.size() < 70000) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        request.append(buffer, static_cast<size_t>(n));
      }
      for (size_t sent = 0; sent < response.size();) {
        const ssize_t n = ::send(fd, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
      }
      ::shutdown(fd, SHUT_WR);
      ::close(fd);
    }
  }

  int listener_ = -1;
  int port_ = 0;
  std::mutex mutex_;
  std::deque<std::string> responses_;
  size_t connections_ = 0;
};

std::string OriginOf(const qor::THttpClient& client) {
  std::string host;
  for (char c : client.Host()) host += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return host + ":" + std::to_string(client.Port);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qor::WindowThread window;
  static LoopbackServer server;

  const std::string input(reinterpret_cast<const char*>(data), size);
  std::deque<std::string> responses;
  for (size_t at = 0; at <= input.size() && responses.size() < kMaxResponses;) {
    size_t end = input.find('\0', at);
    if (end == std::string::npos) end = input.size();
    responses.push_back(input.substr(at, end - at));
    at = end + 1;
  }
  server.Script(std::move(responses));

  qor::THttpClient client;
  client.TimeOut = 10000;
  client.Proxy = "127.0.0.1";
  client.ProxyPort = server.Port();
  client.HeaderInfo.UserId = "user";
  client.HeaderInfo.Password = "secret";
  client.HeaderInfo.Cookie = "first=1";
  std::map<std::string, std::string> cookieOrigin{{"first=1", kFirstOrigin}};
  client.OnAboutToSend = [&](qor::TSocketClient*) {
    const std::string text = client.RequestLines().Text();
    const std::string origin = OriginOf(client);
    if (text.find("\r\nAuthorization: ") != std::string::npos && origin != kFirstOrigin) {
      std::abort();  // credentials sent to a site that did not get them
    }
    const size_t cookie = text.find("\r\nCookie: ");
    if (cookie != std::string::npos) {
      const size_t from = cookie + 10;
      const std::string value = text.substr(from, text.find("\r\n", from) - from);
      auto known = cookieOrigin.find(value);
      if (known != cookieOrigin.end() && known->second != origin) std::abort();
    }
  };
  client.OnRedirect = [&](bool&) {
    // A cookie that a redirecting site set belongs to that site; without one, nothing changes.
    const std::string& head = client.Header;
    bool first = true;
    for (size_t at = 0; at < head.size();) {
      size_t end = head.find('\n', at);
      end = end == std::string::npos ? head.size() : end + 1;
      std::string value;
      if (!first &&
          qor::HeaderValueOf(std::string_view(head).substr(at, end - at), "SET-COOKIE:", value)) {
        cookieOrigin[client.HeaderInfo.Cookie] = OriginOf(client);
      }
      first = false;
      at = end;
    }
  };
  try {
    client.Get("http://site.test/start");
  } catch (const qor::ESocketError&) {
  }
  if (server.Connections() > qor::THttpClient::kMaxRedirections + 1) std::abort();
  if (client.Body.size() > qor::kMaxBodyBytes || client.Header.size() > qor::kMaxHeaderBytes) {
    std::abort();
  }
  return 0;
}
