#pragma once
// The two ways the display controls refuse a call. They are thrown, not posted: they mean the
// caller broke the control's contract, and they travel up to the window's exception handler like
// any other fault in a window handler.

#include <stdexcept>
#include <string>

namespace qor {

// More points were added to one rate-graph column than it can hold.
class ERangeError : public std::out_of_range {
 public:
  using std::out_of_range::out_of_range;
};

// A gauge limit outside the range the other limit allows; the text names that range.
class EInvalidGaugeValue : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

}  // namespace qor
