// Header blocks as a server or a saved file might deliver them: parse, then build the report;
// read the streams offered and choose among them; describe every object for structured output;
// the same bytes walked as a data packet and as an index object.

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "asf/asf.h"
#include "asf/asf_description.h"
#include "asf/media_info.h"
#include "asf/stream_selection.h"
#include "support/message_queue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qor::TMessageClass queue;
  qor::TASF asf;
  asf.Messages = &queue;
  // An exact-size copy, so a read one byte past the block is caught.
  const std::vector<uint8_t> block(data, data + size);
  asf.ParseHeader(block.data(), block.size());
  (void)qor::BuildMediaInfo(asf, {});
  const qor::StreamOffer offer = qor::ReadStreamOffer(block.data(), block.size());
  if (offer.streams.size() > 128) __builtin_trap();
  qor::StreamRequest request;
  request.maxRate = 100000;
  request.audioOnly = size % 2 == 1;
  (void)qor::SelectStreams(offer, request);
  qor::AsfDescription description;
  if (qor::DescribeAsfHeader(block.data(), block.size(), description)) {
    for (const qor::AsfStreamDescription& s : description.streams) (void)qor::CodecNameOf(s);
    (void)qor::FileTimeIso8601(description.creationTime);
  }
  (void)qor::ParseSimpleIndex(block.data(), block.size());
  std::map<uint8_t, uint64_t> payloads;
  (void)qor::CountPacketStreams(block.data(), block.size(), payloads);
  queue.Clear();
  return 0;
}
