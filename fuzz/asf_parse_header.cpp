// Header blocks as a server or a saved file might deliver them: parse, then build the report.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "asf/asf.h"
#include "asf/media_info.h"
#include "support/message_queue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qor::TMessageClass queue;
  qor::TASF asf;
  asf.Messages = &queue;
  // An exact-size copy, so a read one byte past the block is caught.
  const std::vector<uint8_t> block(data, data + size);
  asf.ParseHeader(block.data(), block.size());
  (void)qor::BuildMediaInfo(asf, {});
  queue.Clear();
  return 0;
}
