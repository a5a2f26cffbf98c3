#include "server_test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sstream>

#include "data_units.h"

namespace qor::server::testing {

namespace {

int64_t MsLeft(std::chrono::steady_clock::time_point deadline) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                               std::chrono::steady_clock::now())
      .count();
}

}  // namespace

std::string TempDir() {
  std::string pattern = "/tmp/qor-server-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return "/tmp";
  return pattern;
}

std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return "";
  std::stringstream dirs(path);
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string candidate = dir + "/" + name;
    if (!dir.empty() && access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

int RunShell(const std::string& command, std::string* output) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  std::array<char, 4096> block{};
  size_t n = 0;
  while ((n = fread(block.data(), 1, block.size(), pipe)) > 0)
    if (output != nullptr) output->append(block.data(), n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const std::string& SampleDir() {
  static std::once_flag once;
  static std::string dir;
  std::call_once(once, [] {
    if (FindProgram("ffmpeg").empty()) return;
    const std::string folder = TempDir() + "/media";
    if (RunShell(std::string(QOR_SOURCE_DIR) + "/scripts/make-sample-media " + folder +
                 " >/dev/null 2>&1") == 0)
      dir = folder;
  });
  return dir;
}

int CountFfprobePackets(const std::string& path) {
  std::string out;
  if (RunShell("ffprobe -v error -show_packets '" + path + "' 2>/dev/null", &out) != 0) return -1;
  int count = 0;
  for (size_t at = out.find("[PACKET]"); at != std::string::npos; at = out.find("[PACKET]", at + 1))
    ++count;
  return count;
}

ServerOptions TestServer::Defaults() {
  ServerOptions o;
  o.mmsPort = 0;
  o.httpPort = 0;
  o.root = SampleDir().empty() ? "/nonexistent" : SampleDir();
  return o;
}

TestServer::TestServer(ServerOptions options) : server_(std::make_unique<Server>(options)) {
  std::string error;
  if (!server_->Start(error))
    std::fprintf(stderr, "test server did not start: %s\n", error.c_str());
}

TestServer::~TestServer() {
  server_->Stop();
}

TcpClient::TcpClient(uint16_t port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) Close();
}

TcpClient::~TcpClient() {
  Close();
}

void TcpClient::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool TcpClient::Send(const std::string& text) {
  return Send(Bytes(text.begin(), text.end()));
}

bool TcpClient::Send(const Bytes& bytes) {
  size_t sent = 0;
  while (fd_ >= 0 && sent < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return fd_ >= 0;
}

bool TcpClient::ReadAtLeast(size_t size, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  uint8_t block[65536];
  while (received_.size() < size) {
    if (fd_ < 0 || closed_) return false;
    const int64_t left = MsLeft(deadline);
    if (left <= 0) return false;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(std::min<int64_t>(left, 200))) <= 0) continue;
    const ssize_t n = ::recv(fd_, block, sizeof block, 0);
    if (n <= 0) {
      closed_ = true;
      return received_.size() >= size;
    }
    received_.insert(received_.end(), block, block + n);
  }
  return true;
}

bool TcpClient::ReadToClose(std::chrono::milliseconds timeout) {
  ReadAtLeast(SIZE_MAX, timeout);
  return closed_;
}

std::vector<std::string> PlayerHeaders(bool play, uint32_t streamTimeMs) {
  std::vector<std::string> h = {"Accept: */*",
                                "User-Agent: NSPlayer/7.1.0.1956",
                                "Pragma: no-cache",
                                "Pragma: rate=1.000000",
                                "Pragma: stream-time=" + std::to_string(streamTimeMs),
                                "Pragma: xClientGUID={00000000-1111-2222-3333-444444444444}"};
  if (play) {
    h.push_back("Pragma: xPlayStrm=1");
    h.push_back("Pragma: stream-switch-count=2");
    h.push_back("Pragma: stream-switch-entry=ffff:1:0 ffff:2:0 ");
  }
  return h;
}

HttpResult HttpGet(uint16_t port, const std::string& path, const std::vector<std::string>& headers,
                   std::chrono::milliseconds timeout) {
  HttpResult result;
  TcpClient client(port);
  std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n";
  for (const auto& h : headers) request += h + "\r\n";
  request += "\r\n";
  if (!client.Send(request)) return result;
  client.ReadToClose(timeout);
  const Bytes& all = client.Received();
  const std::string text(all.begin(), all.end());
  const size_t end = text.find("\r\n\r\n");
  if (end == std::string::npos) return result;
  result.head = text.substr(0, end + 2);
  result.body.assign(all.begin() + static_cast<std::ptrdiff_t>(end + 4), all.end());
  std::sscanf(result.head.c_str(), "HTTP/%*s %d", &result.status);
  return result;
}

bool MmsClient::SendCommand(uint16_t id, const Bytes& fields) {
  Bytes body;
  PutU32(body, 0);
  PutU16(body, id);
  PutU16(body, 3);
  body.insert(body.end(), fields.begin(), fields.end());
  while (body.size() % 8 != 0) body.push_back(0);
  StoreU32(body.data(), static_cast<uint32_t>(body.size() / 8));
  Bytes m;
  PutU32(m, 1);
  PutU32(m, 0xB00BFACE);
  PutU32(m, static_cast<uint32_t>(16 + body.size()));
  m.insert(m.end(), {'M', 'M', 'S', ' '});
  PutU32(m, static_cast<uint32_t>((16 + body.size()) / 8));
  PutU16(m, sequence_++);
  PutU16(m, 0);
  PutU64(m, 0);
  m.insert(m.end(), body.begin(), body.end());
  return tcp_.Send(m);
}

std::optional<MmsUnit> MmsClient::Next(std::chrono::milliseconds timeout) {
  Bytes& in = tcp_.Received();
  if (!tcp_.ReadAtLeast(consumed_ + 8, timeout)) return std::nullopt;
  const Reader head(in.data() + consumed_, in.size() - consumed_);
  MmsUnit unit;
  size_t total = 0;
  if (head.U32(4) == 0xB00BFACE) {
    if (!tcp_.ReadAtLeast(consumed_ + 16, timeout)) return std::nullopt;
    total = 16 + static_cast<size_t>(Reader(in.data() + consumed_, 16).U32(8));
    if (total < 48 || total > 1'000'000) return std::nullopt;
    unit.command = true;
  } else {
    total = head.U16(6);
    if (total < 8) {
      // A lying length: hand back the 8 bytes so the test can see it.
      unit.bytes.assign(in.begin() + static_cast<std::ptrdiff_t>(consumed_),
                        in.begin() + static_cast<std::ptrdiff_t>(consumed_ + 8));
      unit.tag = head.U8(4);
      consumed_ += 8;
      return unit;
    }
  }
  if (!tcp_.ReadAtLeast(consumed_ + total, timeout)) return std::nullopt;
  unit.bytes.assign(in.begin() + static_cast<std::ptrdiff_t>(consumed_),
                    in.begin() + static_cast<std::ptrdiff_t>(consumed_ + total));
  consumed_ += total;
  const Reader r(unit.bytes);
  if (unit.command) {
    unit.id = r.U16(36);
    unit.hr = r.U32(40);
    unit.secondWord = r.U32(44);
  } else {
    unit.locationId = r.U32(0);
    unit.tag = r.U8(4);
    unit.flags = r.U8(5);
    unit.payload.assign(unit.bytes.begin() + 8, unit.bytes.end());
  }
  return unit;
}

std::optional<MmsUnit> MmsClient::NextCommand(std::chrono::milliseconds timeout) {
  for (;;) {
    auto unit = Next(timeout);
    if (!unit || !unit->command) return unit;
    if (unit->id == 0x1B) {
      Bytes pong;
      PutU32(pong, 1);
      PutU32(pong, 0x0001FFFF);
      SendCommand(0x1B, pong);
      continue;
    }
    return unit;
  }
}

bool MmsClient::Connect(uint32_t* incarnation) {
  Bytes f;
  PutU32(f, 0xF0F0F0F0);
  PutUtf16(f, std::string("\x0B\x04\x1C\x03") + "NSPlayer/7.1.0.1956; {0}", true);
  if (!SendCommand(0x01, f)) return false;
  const auto r = NextCommand();
  if (!r || r->id != 0x01 || r->hr != 0) return false;
  if (incarnation != nullptr) *incarnation = r->secondWord;
  return true;
}

bool MmsClient::Timing(uint32_t word, int replies, uint32_t* clientId) {
  Bytes f;
  PutU32(f, word);
  PutU32(f, 0x0004000B);
  if (!SendCommand(0x18, f)) return false;
  for (int i = 0; i < replies; ++i) {
    const auto r = NextCommand();
    if (!r || r->id != 0x15 || r->hr != 0) return false;
    if (clientId != nullptr) *clientId = Reader(r->bytes).U32(60);
  }
  return true;
}

bool MmsClient::Transport(const std::string& text, uint16_t expect) {
  Bytes f;
  PutU32(f, 0);
  PutU32(f, 0xFFFFFFFF);
  PutU32(f, 0);
  PutU32(f, 0x00A00000);
  PutU32(f, 2);
  PutUtf16(f, text, true);
  if (!SendCommand(0x02, f)) return false;
  const auto r = NextCommand();
  return r && r->id == expect;
}

bool MmsClient::Open(const std::string& name, uint32_t* hr, Bytes* reply) {
  Bytes f;
  PutU32(f, 1);
  PutU32(f, 0xFFFFFFFF);
  PutU32(f, 0);
  PutU32(f, 0);
  PutUtf16(f, name, true);
  if (!SendCommand(0x05, f)) return false;
  const auto r = NextCommand();
  if (!r) return false;
  if (hr != nullptr) *hr = r->hr;
  if (reply != nullptr) *reply = r->bytes;
  return r->id == 0x06 && r->hr == 0;
}

Bytes MmsClient::Header(std::vector<uint8_t>* pieceFlags) {
  Bytes f;
  PutU32(f, 1);
  for (uint32_t v : {0u, 0u, 0x8000u, 0xFFFFFFFFu, 0u}) PutU32(f, v);
  PutDouble(f, 0.0);
  PutDouble(f, 3600.0);
  PutU8(f, 2);
  if (!SendCommand(0x15, f)) return {};
  const auto notice = NextCommand();
  if (!notice || notice->id != 0x11) return {};
  Bytes header;
  for (;;) {
    const auto piece = Next();
    if (!piece || piece->command || piece->tag != 2) return {};
    if (pieceFlags != nullptr) pieceFlags->push_back(piece->flags);
    header.insert(header.end(), piece->payload.begin(), piece->payload.end());
    if (piece->flags == 0x08 || piece->flags == 0x0C) return header;
  }
}

bool MmsClient::SelectStreams() {
  Bytes f;
  PutU32(f, 2);
  for (uint16_t s : {1, 2}) {
    PutU16(f, 0xFFFF);
    PutU16(f, s);
    PutU16(f, 0);
  }
  for (uint8_t b : {0x00, 0x00, 0x00, 0x20, 0xAC, 0x40, 0x02}) PutU8(f, b);
  if (!SendCommand(0x33, f)) return false;
  const auto r = NextCommand();
  return r && r->id == 0x21 && r->hr == 0;
}

bool MmsClient::Start(double seconds, uint32_t location, uint8_t tag) {
  Bytes f;
  PutU32(f, 1);
  PutU32(f, 0x0001FFFF);
  PutDouble(f, seconds);
  PutU32(f, 0xFFFFFFFF);
  PutU32(f, location);
  PutU32(f, 0);
  PutU32(f, tag);
  if (!SendCommand(0x07, f)) return false;
  const auto r = NextCommand();
  return r && r->id == 0x05 && r->hr == 0;
}

bool MmsClient::HandshakeTcp(const std::string& name, Bytes* header) {
  if (!Connect() || !Timing(0, 1) || !Transport("\\\\127.0.0.1\\TCP\\1234") || !Open(name))
    return false;
  const Bytes h = Header();
  if (h.empty()) return false;
  if (header != nullptr) *header = h;
  return SelectStreams() && Start();
}

UdpClient::UdpClient() {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t length = sizeof a;
  getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length);
  port_ = ntohs(a.sin_port);
  const int big = 4 * 1024 * 1024;
  setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
}

UdpClient::~UdpClient() {
  if (fd_ >= 0) ::close(fd_);
}

std::optional<Bytes> UdpClient::Receive(std::chrono::milliseconds timeout) {
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
  Bytes datagram(70000);
  const ssize_t n = ::recv(fd_, datagram.data(), datagram.size(), 0);
  if (n < 0) return std::nullopt;
  datagram.resize(static_cast<size_t>(n));
  return datagram;
}

bool UdpClient::SendTo(uint16_t port, const Bytes& datagram) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ::sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&a),
                  sizeof a) == static_cast<ssize_t>(datagram.size());
}

}  // namespace qor::server::testing
