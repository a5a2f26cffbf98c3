#include "common/foreign_library_suppressions.h"

#include <cstdlib>

namespace qor::testing {

std::string ForeignLibraryTsanOptions(const std::string& file) {
  const char* current = std::getenv("TSAN_OPTIONS");
  std::string options = current != nullptr ? current : "";
  if (!options.empty()) options += ':';
  return "TSAN_OPTIONS=" + options + "suppressions=" QOR_TSAN_SUPPRESSIONS_DIR "/" + file;
}

}  // namespace qor::testing
