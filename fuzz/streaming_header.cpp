// A server's answer to a describe request, any bytes, through the header extraction qor-cli info
// uses: the header it gives is never longer than the answer.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "http/streaming_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> header =
      qor::StreamingHeaderOf(std::string_view(reinterpret_cast<const char*>(data), size));
  if (header.size() > size) std::abort();
  return 0;
}
