#pragma once
// Socket addresses of either family and their texts. An address is written as a location writes
// it: dotted IPv4, or an IPv6 literal in brackets ("[::1]"), so the texts the transports give
// (the server's, the local and a datagram sender's address) can be compared with each other and
// shown as they are.

#include <sys/socket.h>

#include <cstdint>
#include <string>

namespace qor {

// "1.2.3.4" or "[::1]"; empty for another family.
std::string AddressText(const sockaddr_storage& address);
uint16_t AddressPort(const sockaddr_storage& address);
void SetAddressPort(sockaddr_storage& address, uint16_t port);
// The length the socket calls take for the address's family.
socklen_t AddressLength(const sockaddr_storage& address);
// A numeric address, IPv4 or IPv6 with or without its brackets; false for anything else (a
// name, an empty text).
bool NumericAddress(const std::string& text, sockaddr_storage& out);
// The wildcard address of a family (every local address), port 0.
sockaddr_storage AnyAddress(int family);

}  // namespace qor
