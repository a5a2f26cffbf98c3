// Bytes as an MMS server's control connection might deliver them, in chunks of a size the input
// picks: framed into units, each unit read as a reply (commands) or as a datagram (data packets).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "session/mms_reply.h"
#include "session/mms_unit_framer.h"
#include "session/udp_datagram.h"

namespace {

void ReadUnit(const uint8_t* unit, size_t length) {
  // An exact-size copy, so a read one byte past the unit is caught.
  const std::vector<uint8_t> copy(unit, unit + length);
  if (qor::mms::IsCommandUnit(copy.data())) {
    const qor::mms::ReplyView reply(copy.data(), copy.size());
    volatile uint32_t sink = reply.ResultCode() ^ reply.SecondWord() ^ reply.CommandId();
    const auto texts = qor::mms::ReadServerTexts(reply);
    const auto open = qor::mms::ReadOpenFile(reply);
    uint8_t id[4];
    qor::mms::ReadClientId(reply, id);
    sink = sink +
           static_cast<uint32_t>(texts.ServerVersion.size() + texts.EncryptionType.size() +
                                 qor::mms::ReadChallenge(reply).size()) +
           open.packetSize + id[3];
    (void)sink;
  } else {
    (void)qor::mms::AcceptedDatagramLength(copy.data(), copy.size());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t chunk = 1 + data[0] % 64;
  ++data;
  --size;
  {
    const std::vector<uint8_t> whole(data, data + size);
    (void)qor::mms::AcceptedDatagramLength(whole.data(), whole.size());
  }
  qor::mms::MmsUnitFramer framer(4096 + 1);
  const auto sink = [](const uint8_t* unit, size_t length) {
    ReadUnit(unit, length);
    return true;
  };
  for (size_t at = 0; at < size; at += chunk) {
    const size_t n = chunk < size - at ? chunk : size - at;
    std::vector<uint8_t> piece(data + at, data + at + n);
    if (framer.Feed(piece.data(), piece.size(), sink) != qor::mms::MmsUnitFramer::Status::Ok) break;
  }
  return 0;
}
