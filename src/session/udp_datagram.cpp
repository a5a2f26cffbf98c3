#include "session/udp_datagram.h"

#include "session/mms_unit_framer.h"

namespace qor::mms {

size_t AcceptedDatagramLength(const uint8_t* datagram, size_t length) {
  if (datagram == nullptr || length < kDataPacketHeaderLength) return 0;
  if (IsCommandUnit(datagram)) return 0;
  const size_t declared = static_cast<size_t>(datagram[6] | (datagram[7] << 8));
  if (declared < kDataPacketHeaderLength || declared > length) return 0;
  return declared;
}

std::array<uint8_t, kResendRequestLength> BuildResendRequest(const uint8_t clientId[4],
                                                             uint32_t sequence) {
  std::array<uint8_t, kResendRequestLength> request{};
  for (size_t i = 0; i < 4; ++i) request[i] = static_cast<uint8_t>(kResendSignature >> (8 * i));
  for (size_t i = 0; i < 4; ++i) request[4 + i] = clientId[i];
  request[8] = 0x01;
  request[10] = 0x01;
  for (size_t i = 0; i < 4; ++i) request[12 + i] = static_cast<uint8_t>(sequence >> (8 * i));
  return request;
}

}  // namespace qor::mms
