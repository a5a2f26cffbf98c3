#include "server.h"

#include <chrono>

namespace qor::server {

Server::Server(ServerOptions options) : options_(std::move(options)), catalog_(options_.root) {}

Server::~Server() {
  Stop();
}

double Server::RateFor(bool live) const {
  if (options_.rate.has_value()) return *options_.rate;
  return live ? 1.0 : 0.0;
}

bool Server::LiveDropDue(std::chrono::steady_clock::time_point joined,
                         std::chrono::steady_clock::time_point now) const {
  for (double seconds : options_.liveDrops) {
    const auto moment =
        startedAt_ + std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
    if (moment > joined && moment <= now) return true;
  }
  return false;
}

bool Server::Start(std::string& error) {
  if (started_) return true;
  if (!log_.Open(options_.logPath, error)) return false;
  const auto clockStart = std::chrono::steady_clock::now();
  startedAt_ = clockStart;
  for (const auto& [name, files] : options_.lives) {
    std::vector<std::shared_ptr<const MediaSource>> entries;
    for (const auto& file : files) {
      auto media = MediaSource::Load(file, error);
      if (!media) return false;
      entries.push_back(std::move(media));
    }
    if (entries.empty()) {
      error = "live play list " + name + " has no files";
      return false;
    }
    // "/" names the root of the HTTP port, which cleaning would take for no name at all.
    const std::string channel = name == "/" ? name : Catalog::CleanName(name);
    // Paced sending and the broadcast's clock go at one speed, or a client that joins later
    // would find the broadcast behind (or ahead of) what the earlier ones were sent.
    catalog_.AddLive(
        std::make_shared<LiveChannel>(channel, std::move(entries), clockStart, RateFor(true)));
  }
  if (options_.mmsPort >= 0) {
    mmsPort_ = static_cast<uint16_t>(options_.mmsPort);
    if (!OpenListener(options_.host, mmsPort_, false, mmsListener_, error)) return false;
    if (!udp_.Start(options_.host, mmsPort_, log_, error)) return false;
  }
  if (options_.httpPort >= 0) {
    httpPort_ = static_cast<uint16_t>(options_.httpPort);
    if (!OpenListener(options_.host, httpPort_, false, httpListener_, error)) return false;
  }
  if (options_.rtspPort >= 0) {
    rtspPort_ = static_cast<uint16_t>(options_.rtspPort);
    if (!OpenListener(options_.host, rtspPort_, false, rtspListener_, error)) return false;
  }
  if (!options_.hostGiven) ListenOnIpv6Loopback();
  started_ = true;
  for (const Socket* listener : {&mmsListener_, &mmsListener6_})
    if (listener->Valid())
      acceptors_.emplace_back([this, listener] { AcceptLoop(*listener, &ServeMms); });
  for (const Socket* listener : {&httpListener_, &httpListener6_})
    if (listener->Valid())
      acceptors_.emplace_back([this, listener] { AcceptLoop(*listener, &ServeHttp); });
  for (const Socket* listener : {&rtspListener_, &rtspListener6_})
    if (listener->Valid())
      acceptors_.emplace_back([this, listener] { AcceptLoop(*listener, &ServeRtsp); });
  return true;
}

void Server::ListenOnIpv6Loopback() {
  // Best effort: a system without IPv6, or with the port taken there, serves IPv4 alone.
  std::string ignored;
  uint16_t port = mmsPort_;
  if (mmsListener_.Valid() && OpenListener("::1", port, false, mmsListener6_, ignored))
    udp_.Add("::1", mmsPort_, ignored);
  port = httpPort_;
  if (httpListener_.Valid()) OpenListener("::1", port, false, httpListener6_, ignored);
  port = rtspPort_;
  if (rtspListener_.Valid()) OpenListener("::1", port, false, rtspListener6_, ignored);
}

void Server::Stop() {
  stopping_.Raise();
  for (auto& t : acceptors_)
    if (t.joinable()) t.join();
  acceptors_.clear();
  {
    std::lock_guard<std::mutex> lock(workersMutex_);
    for (auto& w : workers_)
      if (w->thread.joinable()) w->thread.join();
    workers_.clear();
  }
  udp_.Stop();
  for (Socket* listener : {&mmsListener_, &httpListener_, &rtspListener_, &mmsListener6_,
                           &httpListener6_, &rtspListener6_})
    listener->Close();
}

void Server::ReapFinished() {
  std::lock_guard<std::mutex> lock(workersMutex_);
  for (auto it = workers_.begin(); it != workers_.end();) {
    if ((*it)->done.load()) {
      (*it)->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

void Server::AcceptLoop(const Socket& listener, Handler handler) {
  while (!stopping_.Raised()) {
    sockaddr_storage peer{};
    // Finished connections are collected at the next connection or at the stop.
    Socket socket = AcceptOne(listener, -1, peer, &stopping_);
    ReapFinished();
    if (!socket.Valid()) continue;
    const uint64_t id = nextConnection_.fetch_add(1);
    std::lock_guard<std::mutex> lock(workersMutex_);
    if (static_cast<int>(workers_.size()) >= options_.maxConnections) {
      log_.Add(id, "refused", "too many connections from " + AddressText(peer));
      continue;  // the socket closes here
    }
    auto worker = std::make_unique<Worker>();
    Worker* raw = worker.get();
    raw->thread = std::thread(
        [this, handler, raw, id, peer](Socket s) {
          Connection connection(std::move(s), stopping_);
          handler(*this, connection, id, peer);
          connection.Shutdown();
          raw->done = true;
        },
        std::move(socket));
    workers_.push_back(std::move(worker));
  }
}

}  // namespace qor::server
