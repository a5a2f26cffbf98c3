#include "session/session_harness.h"

#include <algorithm>

namespace qor::testing {

SessionHarness::SessionHarness() {
  asf_.Messages = &queue_;
}

SessionHarness::~SessionHarness() {
  EndSession();
}

TMMS& SessionHarness::NewHttpSession(int port, const std::string& path, const std::string& savePath,
                                     bool resume, uint32_t offsetMs) {
  EndSession();
  asf_.Reset();
  ended_ = false;
  finished_ = false;
  finish_ = {};
  save_file_ = TSaveFile::Open(
      savePath, resume ? FileHandle::Mode::OpenOrCreate : FileHandle::Mode::CreateTruncate);
  session_ = std::make_unique<TMMS>();
  TMMS& s = *session_;
  s.Asf = &asf_;
  s.Messages = &queue_;
  s.SaveFile = save_file_;
  s.Source = next_source_++;
  s.ProtocolFlags = pfHttp;
  s.HttpPort = port;
  s.ConnectPort = 1755;
  s.Host = "127.0.0.1";
  s.Path = path;
  s.ResumeSession = resume ? 1 : 0;
  s.OffsetMs = offsetMs;
  return s;
}

TMMS& SessionHarness::NewRtspSession(int port, const std::string& path, const std::string& savePath,
                                     bool udp, bool resume, uint32_t offsetMs) {
  TMMS& s = NewHttpSession(0, path, savePath, resume, offsetMs);
  s.ProtocolFlags = udp ? pfRtspUdp : pfRtspTcp;
  s.ConnectPort = port;
  s.UdpPort = 27000;  // a free pair is taken when it is in use
  return s;
}

void SessionHarness::FinishSaveFile() {
  if (!save_file_) return;
  const int32_t kind = session_ ? session_->Status().StreamKind : 0;
  const bool fixUps = kind != 0 && !(kind & skProgressive);
  finish_ = save_file_->Finish(asf_, fixUps);
  finished_ = true;
}

void SessionHarness::Abort() {
  FinishSaveFile();
  if (session_) session_->Stop();
  ended_ = true;
}

void SessionHarness::EndSession() {
  if (session_) {
    session_->Stop();
    session_.reset();
  }
  Drain();
}

void SessionHarness::Drain() {
  MessagePair pair;
  while (queue_.Take(pair)) {
    log_.push_back(pair);
    // Pairs of an earlier session are logged but not acted on.
    const bool current =
        pair.source == kWindowSource || (session_ && pair.source == session_->Source);
    if (!current) continue;
    switch (ActionOf(pair.code)) {
      case mcCompleted:
      case mcFatal:
      case mcNewTrack:
        Abort();
        break;
      default:
        break;
    }
  }
}

bool SessionHarness::RunUntil(const std::function<bool()>& pred,
                              std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    Drain();
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    window_.ProcessUntil([&] { return queue_.Pending() > 0; }, 5);
  }
}

bool SessionHarness::Run(std::chrono::milliseconds timeout, const std::function<bool()>& done) {
  session_->Start();
  return RunUntil([&] { return ended_ || (done && done()); }, timeout);
}

std::vector<std::string> SessionHarness::Texts() const {
  std::vector<std::string> texts;
  for (const MessagePair& p : log_) texts.push_back(p.text);
  return texts;
}

bool SessionHarness::Logged(const std::string& text) const {
  return std::any_of(log_.begin(), log_.end(),
                     [&](const MessagePair& p) { return p.text == text; });
}

int SessionHarness::CountCode(uint32_t code) const {
  return static_cast<int>(std::count_if(
      log_.begin(), log_.end(), [&](const MessagePair& p) { return ActionOf(p.code) == code; }));
}

}  // namespace qor::testing
