#include "support/message_queue.h"

#include <utility>

namespace qor {

namespace {
thread_local MessageSource t_source = kWindowSource;
}  // namespace

MessageSource ThreadMessageSource() {
  return t_source;
}

ScopedThreadMessageSource::ScopedThreadMessageSource(MessageSource source) : previous_(t_source) {
  t_source = source;
}

ScopedThreadMessageSource::~ScopedThreadMessageSource() {
  t_source = previous_;
}

namespace {

constexpr uint32_t kActionBits = mcFatal | mcStarted | mcCompleted | mcNewTrack;

// Posted once when plain lines start being dropped; a warning, so it acts on nothing.
constexpr const char* kOverflowNote =
    "Log overflow: some log lines were left out while the window was busy";

}  // namespace

TMessageClass::TMessageClass() {
  Clear();
}

void TMessageClass::Post(const std::string& text, uint32_t code, MessageSource source) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // A pair that drives the window (fatal, started, completed, new track) is always kept; only
    // plain log lines give way when a reader has fallen far behind, so memory stays bounded
    // without a producer ever waiting on the window.
    if ((code & kActionBits) == 0 && pairs_.size() >= kPlainCap) {
      if (!dropping_) {
        pairs_.push_back(MessagePair{kOverflowNote, mcWarning, kWindowSource});
        dropping_ = true;
      }
      return;
    }
    pairs_.push_back(MessagePair{text, code, source});
    if (pairs_.size() != 1) return;
  }
  if (on_first_pending_) on_first_pending_();
}

bool TMessageClass::Take(MessagePair& pair) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pairs_.empty()) {
    dropping_ = false;
    pair = MessagePair{};
    return false;
  }
  pair = std::move(pairs_.front());
  pairs_.pop_front();
  if (pairs_.empty()) dropping_ = false;
  return true;
}

bool TMessageClass::Take(std::string& text, uint32_t& code) {
  MessagePair pair;
  const bool taken = Take(pair);
  text = std::move(pair.text);
  code = pair.code;
  return taken;
}

void TMessageClass::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  pairs_.clear();
  dropping_ = false;
}

size_t TMessageClass::Pending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pairs_.size();
}

LogColour ColourOf(uint32_t code) {
  if (code & mcNotice) return LogColour::Blue;
  if (code & mcNormal) return LogColour::Black;
  if (code & mcWarning) return LogColour::Green;
  if (code & mcMedia) return LogColour::Purple;
  if (code & mcFatal) return LogColour::Red;
  return LogColour::Black;
}

Rgb RgbOf(LogColour colour) {
  switch (colour) {
    case LogColour::Blue:
      return Rgb{0, 0, 255};
    case LogColour::Black:
      return Rgb{0, 0, 0};
    case LogColour::Green:
      return Rgb{0, 128, 0};
    case LogColour::Purple:
      return Rgb{128, 0, 128};
    case LogColour::Red:
      return Rgb{255, 0, 0};
  }
  return Rgb{0, 0, 0};
}

uint32_t ActionOf(uint32_t code) {
  if (code & mcStarted) return mcStarted;
  if (code & mcCompleted) return mcCompleted;
  if (code & mcNewTrack) return mcNewTrack;
  if (code & mcFatal) return mcFatal;
  return 0;
}

}  // namespace qor
