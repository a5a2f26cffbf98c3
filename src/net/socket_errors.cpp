#include "net/socket_errors.h"

#include <netdb.h>

#include <cerrno>

namespace qor {

namespace {

constexpr int kWsaBase = 10000;

// Linux errno values differ from the BSD numbering Windows Sockets builds on, so the mapping is
// by name, not by arithmetic.
struct ErrnoPair {
  int error;
  int bsd;
};

constexpr ErrnoPair kErrnoToBsd[] = {
    {EINTR, 4},
    {EBADF, 9},
    {EACCES, 13},
    {EFAULT, 14},
    {EINVAL, 22},
    {EMFILE, 24},
    {EAGAIN, 35},
    {EINPROGRESS, 36},
    {EALREADY, 37},
    {ENOTSOCK, 38},
    {EDESTADDRREQ, 39},
    {EMSGSIZE, 40},
    {EPROTOTYPE, 41},
    {ENOPROTOOPT, 42},
    {EPROTONOSUPPORT, 43},
    {ESOCKTNOSUPPORT, 44},
    {EOPNOTSUPP, 45},
    {EPFNOSUPPORT, 46},
    {EAFNOSUPPORT, 47},
    {EADDRINUSE, 48},
    {EADDRNOTAVAIL, 49},
    {ENETDOWN, 50},
    {ENETUNREACH, 51},
    {ENETRESET, 52},
    {ECONNABORTED, 53},
    {ECONNRESET, 54},
    {ENOBUFS, 55},
    {EISCONN, 56},
    {ENOTCONN, 57},
    {ESHUTDOWN, 58},
    {ETOOMANYREFS, 59},
    {ETIMEDOUT, 60},
    {ECONNREFUSED, 61},
    {ELOOP, 62},
    {ENAMETOOLONG, 63},
    {EHOSTDOWN, 64},
    {EHOSTUNREACH, 65},
    {ENOTEMPTY, 66},
    {EUSERS, 68},
    {EDQUOT, 69},
    {ESTALE, 70},
    {EREMOTE, 71},
    // A send on a connection the peer has reset: Windows reports the reset.
    {EPIPE, 54},
};

}  // namespace

int WinsockErrorFromErrno(int error) {
  for (const ErrnoPair& pair : kErrnoToBsd) {
    if (pair.error == error) return kWsaBase + pair.bsd;
  }
  return error;
}

int WinsockErrorFromResolver(int eaiCode, int savedErrno) {
  switch (eaiCode) {
    case EAI_NONAME:
      return 11001;
    case EAI_AGAIN:
      return 11002;
    case EAI_FAIL:
      return 11003;
#ifdef EAI_NODATA
    case EAI_NODATA:
      return 11004;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
      return 11004;  // the name exists but has no IPv4 address
#endif
    case EAI_SYSTEM:
      return WinsockErrorFromErrno(savedErrno);
    default:
      return eaiCode;
  }
}

std::string SocketErrorText(int number) {
  struct Meaning {
    int number;
    const char* text;
  };
  static constexpr Meaning kMeanings[] = {
      {10004, "interrupted"},
      {10013, "permission denied"},
      {10024, "too many open files"},
      {10040, "message too long"},
      {10048, "address already in use"},
      {10049, "address not available on this machine"},
      {10050, "network is down"},
      {10051, "network unreachable"},
      {10053, "connection aborted"},
      {10054, "connection reset by the server"},
      {10055, "out of buffer space"},
      {10060, "timed out"},
      {10061, "connection refused: nothing listens on that port"},
      {10064, "host is down"},
      {10065, "no route to host"},
      {11001, "host not found"},
      {11002, "name lookup failed for now, try again"},
      {11003, "name lookup failed"},
      {11004, "the host has no IPv4 address"},
  };
  for (const Meaning& m : kMeanings) {
    if (m.number == number) return std::to_string(number) + " (" + m.text + ")";
  }
  return std::to_string(number);
}

}  // namespace qor
