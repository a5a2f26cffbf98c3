#pragma once
// Stands in for the main window while there is none: the test thread becomes the window thread;
// the harness owns the queue, the ASF model and the save file, drains the queue as the window's
// timer would, and on completion or a fatal message finishes the file and stops the session.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "asf/asf.h"
#include "platform/window_thread.h"
#include "session/save_file.h"
#include "session/session.h"
#include "support/message_queue.h"

namespace qor::testing {

class SessionHarness {
 public:
  SessionHarness();
  ~SessionHarness();

  // A new session for MMS over HTTP to 127.0.0.1:port/path, saving into savePath (created empty,
  // or opened as it is when resuming).
  TMMS& NewHttpSession(int port, const std::string& path, const std::string& savePath,
                       bool resume = false, uint32_t offsetMs = 0);
  // The same for RTSP with RTP over UDP (to a free port pair) or interleaved.
  TMMS& NewRtspSession(int port, const std::string& path, const std::string& savePath, bool udp,
                       bool resume = false, uint32_t offsetMs = 0);
  TMMS& Session() { return *session_; }
  // Start, then serve the window thread until the session has ended (finished after 64, 8 or 128,
  // or until done() holds). False on timeout.
  bool Run(std::chrono::milliseconds timeout = std::chrono::seconds(60),
           const std::function<bool()>& done = nullptr);
  // Serve the window thread until pred holds (false on timeout).
  bool RunUntil(const std::function<bool()>& pred,
                std::chrono::milliseconds timeout = std::chrono::seconds(60));
  // What the abort action does: finish the file, stop the session.
  void Abort();
  // Destroys the session (waiting for its thread, serving handovers meanwhile).
  void EndSession();

  bool Ended() const { return ended_; }
  // The pairs drained so far, in order.
  const std::vector<MessagePair>& Log() const { return log_; }
  // Texts of the drained pairs (empty texts included), in order.
  std::vector<std::string> Texts() const;
  bool Logged(const std::string& text) const;
  int CountCode(uint32_t code) const;  // pairs whose action is this code
  const TSaveFile::FinishResult& Finish() const { return finish_; }
  bool Finished() const { return finished_; }

  WindowThread& Window() { return window_; }
  TMessageClass& Queue() { return queue_; }
  TASF& Asf() { return asf_; }

 private:
  void Drain();
  void FinishSaveFile();

  WindowThread window_;
  TMessageClass queue_;
  TASF asf_;
  std::shared_ptr<TSaveFile> save_file_;
  std::unique_ptr<TMMS> session_;
  MessageSource next_source_ = 1;
  std::vector<MessagePair> log_;
  bool ended_ = false;
  bool finished_ = false;
  TSaveFile::FinishResult finish_;
};

}  // namespace qor::testing
