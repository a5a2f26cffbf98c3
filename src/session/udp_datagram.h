#pragma once
// What an MMS session accepts from, and sends on, its UDP data socket.

#include <array>
#include <cstddef>
#include <cstdint>

namespace qor::mms {

constexpr uint32_t kResendSignature = 0xBEEFF00D;
constexpr size_t kResendRequestLength = 16;

// The number of bytes of a datagram to keep as one data packet, or 0 when the datagram is not
// one: anyone can send to our port, so a command message (which only the control connection may
// carry) or a length field below 8 or past the datagram's end is refused.
size_t AcceptedDatagramLength(const uint8_t* datagram, size_t length);

// The datagram that asks the server to send a media packet again; sequence counts datagrams from
// the first, so past 255 it carries the wraps the 8-bit flags byte cannot show.
std::array<uint8_t, kResendRequestLength> BuildResendRequest(const uint8_t clientId[4],
                                                             uint32_t sequence);

}  // namespace qor::mms
