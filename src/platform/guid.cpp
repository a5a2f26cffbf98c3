#include <errno.h>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>

#include "platform/desktop.h"

namespace qor {

namespace {

bool FromGetrandom(uint8_t* out, size_t count) {
  size_t done = 0;
  while (done < count) {
    ssize_t n = getrandom(out + done, count - done, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool FromUrandom(uint8_t* out, size_t count) {
  int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < count) {
    ssize_t n = ::read(fd, out + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  return done == count;
}

}  // namespace

std::string NewGuidText() {
  uint8_t bytes[16];
  if (!FromGetrandom(bytes, sizeof bytes) && !FromUrandom(bytes, sizeof bytes)) {
    // Without randomness two files could share an identifier; better to say so.
    throw std::runtime_error("no source of random bytes for a new GUID");
  }
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  static const char kHex[] = "0123456789ABCDEF";
  std::string text = "{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 0x0F];
  }
  text += '}';
  return text;
}

}  // namespace qor
