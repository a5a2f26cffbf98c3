#pragma once
// TErrorCodeHandler: a sentence for a result code that a server (or the network layer, in the
// same form) returns.

#include <cstdint>
#include <string>

namespace qor {

class TErrorCodeHandler {
 public:
  std::string GetErrorText(uint32_t code) const;
};

}  // namespace qor
