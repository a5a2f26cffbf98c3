#include "net/socket_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include "support/location.h"

namespace qor {

std::string AddressText(const sockaddr_storage& address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text, sizeof text);
    return text;
  }
  if (address.ss_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr, text,
              sizeof text);
    return BracketedAddress(text);
  }
  return std::string();
}

uint16_t AddressPort(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET6)
    return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
  return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

void SetAddressPort(sockaddr_storage& address, uint16_t port) {
  if (address.ss_family == AF_INET6) {
    reinterpret_cast<sockaddr_in6&>(address).sin6_port = htons(port);
  } else {
    reinterpret_cast<sockaddr_in&>(address).sin_port = htons(port);
  }
}

socklen_t AddressLength(const sockaddr_storage& address) {
  return address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

bool NumericAddress(const std::string& text, sockaddr_storage& out) {
  out = sockaddr_storage{};
  const std::string bare = BareHost(text);
  auto& v4 = reinterpret_cast<sockaddr_in&>(out);
  if (inet_pton(AF_INET, bare.c_str(), &v4.sin_addr) == 1) {
    v4.sin_family = AF_INET;
    return true;
  }
  auto& v6 = reinterpret_cast<sockaddr_in6&>(out);
  if (inet_pton(AF_INET6, bare.c_str(), &v6.sin6_addr) == 1) {
    v6.sin6_family = AF_INET6;
    return true;
  }
  out = sockaddr_storage{};
  return false;
}

sockaddr_storage AnyAddress(int family) {
  sockaddr_storage any{};
  if (family == AF_INET6) {
    auto& v6 = reinterpret_cast<sockaddr_in6&>(any);
    v6.sin6_family = AF_INET6;
    v6.sin6_addr = in6addr_any;
  } else {
    auto& v4 = reinterpret_cast<sockaddr_in&>(any);
    v4.sin_family = AF_INET;
    v4.sin_addr.s_addr = htonl(INADDR_ANY);
  }
  return any;
}

}  // namespace qor
