#pragma once
// TMessageClass: the one channel by which sessions, transports, the ASF object and the window's
// own handlers tell the user anything. Any thread posts (text, code); only the window takes.
// Each pair also records which session posted it (0: the window or its helpers), so the window
// can log a stale session's lines without acting on them.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

namespace qor {

enum MessageCode : uint32_t {
  mcNotice = 1,
  mcNormal = 2,
  mcWarning = 4,
  mcFatal = 8,
  mcMedia = 16,
  mcStarted = 32,
  mcCompleted = 64,
  mcNewTrack = 128,
};

using MessageSource = uint32_t;
constexpr MessageSource kWindowSource = 0;

// The source that shared objects (the ASF model, which the window and the session thread both
// use) tag their posts with: the session thread marks itself with its session's source for its
// whole run, every other thread posts as the window. Otherwise a failed session's parse errors
// would act like the window's own and end whatever download runs next.
MessageSource ThreadMessageSource();
class ScopedThreadMessageSource {
 public:
  explicit ScopedThreadMessageSource(MessageSource source);
  ~ScopedThreadMessageSource();
  ScopedThreadMessageSource(const ScopedThreadMessageSource&) = delete;
  ScopedThreadMessageSource& operator=(const ScopedThreadMessageSource&) = delete;

 private:
  MessageSource previous_;
};

struct MessagePair {
  std::string text;
  uint32_t code = 0;
  MessageSource source = kWindowSource;
};

class TMessageClass {
 public:
  // Above this many unread pairs, plain log pairs (no action bit) are dropped, with one note.
  static constexpr size_t kPlainCap = 100000;

  TMessageClass();
  TMessageClass(const TMessageClass&) = delete;
  TMessageClass& operator=(const TMessageClass&) = delete;

  // Never blocks on the reader and never loses a pair carrying 8, 32, 64 or 128.
  void Post(const std::string& text, uint32_t code, MessageSource source = kWindowSource);
  // False with an empty text and code 0 when nothing is waiting.
  bool Take(std::string& text, uint32_t& code);
  bool Take(MessagePair& pair);
  void Clear();
  size_t Pending() const;
  // Called, by the posting thread and outside the queue's lock, whenever a pair arrives in an
  // empty queue: the reader's wake-up call. Set it before anything is posted.
  void SetOnFirstPending(std::function<void()> notify) { on_first_pending_ = std::move(notify); }

 private:
  std::function<void()> on_first_pending_;
  mutable std::mutex mutex_;
  std::deque<MessagePair> pairs_;
  bool dropping_ = false;  // the overflow note has been queued since the last drain
};

// The drain's choices for a pair (the window acts on them).
enum class LogColour { Blue, Black, Green, Purple, Red };
struct Rgb {
  uint8_t r, g, b;
};
LogColour ColourOf(uint32_t code);
Rgb RgbOf(LogColour colour);
// 32, 64, 128 or 8 by the first bit set in that order; 0 when none.
uint32_t ActionOf(uint32_t code);

}  // namespace qor
