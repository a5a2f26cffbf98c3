#include "session/scripted_port.h"

#include "session/carry_over.h"
#include "session/save_file.h"

namespace qor::testing {

ScriptedPort::ScriptedPort(SessionConfig config, const std::string& savePath, int32_t ringSize)
    : config_(std::move(config)) {
  input_ = std::make_unique<SessionInput>(*this, ringSize);
  media_ = std::make_unique<MediaPacketPath>(*this);
  std::shared_ptr<TSaveFile> file;
  if (!savePath.empty()) {
    file = TSaveFile::Open(savePath, config_.Resuming() ? FileHandle::Mode::OpenReadWrite
                                                        : FileHandle::Mode::CreateTruncate);
  }
  media_->Begin(file, nullptr, std::make_shared<CarryOver>());
}

ScriptedPort::~ScriptedPort() {
  if (TSaveFile* file = media_->File()) file->Finish(asf_, false);
}

void ScriptedPort::Post(const std::string& text, uint32_t code) {
  {
    std::lock_guard<std::mutex> lock(posts_mutex_);
    posts_.emplace_back(text, code);
  }
  // What the window does with the ends: it stops the session.
  if (code & (mcFatal | mcCompleted | mcNewTrack)) Terminate();
}

void ScriptedPort::Terminate() {
  terminated_ = true;
  input_->WakeLoop();
}

void ScriptedPort::StopAll() {
  stopped_ = true;
  Terminate();
}

int32_t ScriptedPort::SendTcp(const void* data, int32_t length) {
  sent_tcp_.append(static_cast<const char*>(data), static_cast<size_t>(length));
  return length;
}

int32_t ScriptedPort::SendUdp(const void* data, int32_t length) {
  sent_udp_.emplace_back(static_cast<const char*>(data), static_cast<size_t>(length));
  return length;
}

void ScriptedPort::Connect() {
  input_->NewConnection();
  header_.Reset();
  input_->ConnectionUp();
  if (protocol_) protocol_->Connected();
}

void ScriptedPort::Receive(const std::string& bytes) {
  Receive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

void ScriptedPort::Receive(const uint8_t* data, size_t length) {
  if (length == 0 || !protocol_) return;
  input_->NoteReceive();
  // As the session's TCP handler: a response header first, where the connection has one.
  const auto result = header_.Feed(data, length);
  if (result.step == ResponseHeaderCollector::Step::kComplete)
    protocol_->ResponseHeader(header_.Header());
  if (result.used < length)
    protocol_->TcpData(data + result.used, static_cast<int32_t>(length - result.used));
  input_->WakeReaders();
}

int32_t ScriptedPort::SendUdpTo(UdpOrigin from, int32_t port, const void* data, int32_t length) {
  std::lock_guard<std::mutex> lock(posts_mutex_);  // a resend tick driven beside the loop sends too
  sent_udp_to_.push_back(
      {from, port, std::string(static_cast<const char*>(data), static_cast<size_t>(length))});
  return length;
}

void ScriptedPort::Datagram(const std::vector<uint8_t>& bytes, UdpOrigin origin) {
  if (!protocol_) return;
  input_->NoteReceive();
  protocol_->UdpDatagram(bytes.data(), static_cast<int32_t>(bytes.size()), origin);
  input_->WakeReaders();
}

void ScriptedPort::Close(bool progressive) {
  input_->ConnectionClosed(progressive);
}

void ScriptedPort::Serve(std::vector<std::string> connections) {
  served_ = std::move(connections);
  next_served_ = 0;
  PlayNextConnection();
}

void ScriptedPort::PlayNextConnection() {
  if (next_served_ >= served_.size()) return;
  const std::string bytes = served_[next_served_++];
  Connect();
  Receive(bytes);
  Close();
}

void ScriptedPort::Connect(const Endpoint& where) {
  connects_.push_back(where);
  PlayNextConnection();
}

void ScriptedPort::Run() {
  if (protocol_) protocol_->Run();
}

bool ScriptedPort::Posted(const std::string& text) const {
  for (const auto& [posted, code] : posts_) {
    if (posted == text) return true;
  }
  return false;
}

std::vector<std::string> ScriptedPort::Texts(uint32_t code) const {
  std::vector<std::string> texts;
  for (const auto& [text, posted] : posts_) {
    if (posted & code) texts.push_back(text);
  }
  return texts;
}

}  // namespace qor::testing
