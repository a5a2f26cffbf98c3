// The client identity a session presents to servers comes from the platform's GUID source.

#include "platform/desktop.h"
#include "support/helper.h"

namespace qor {

std::string THelper::NewGuidText() {
  return qor::NewGuidText();
}

}  // namespace qor
