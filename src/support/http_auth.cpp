#include "support/http_auth.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "support/base64.h"

namespace qor {

namespace {

uint32_t RotateLeft(uint32_t x, uint32_t c) {
  return (x << c) | (x >> (32 - c));
}

constexpr std::array<uint32_t, 64> kShifts{7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7,
                                           12, 17, 22, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,
                                           14, 20, 5,  9, 14, 20, 4,  11, 16, 23, 4, 11, 16,
                                           23, 4,  11, 16, 23, 4,  11, 16, 23, 6,  10, 15, 21,
                                           6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21};

// floor(abs(sin(i + 1)) * 2^32), the table every MD5 uses.
constexpr uint32_t kSines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
    0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
    0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
    0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
    0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
    0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
    0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
    0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
    0xeb86d391};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

std::string Md5Hex(const std::string& bytes) {
  std::string message = bytes;
  const uint64_t bits = static_cast<uint64_t>(bytes.size()) * 8;
  message.push_back(static_cast<char>(0x80));
  while (message.size() % 64 != 56) message.push_back('\0');
  for (int i = 0; i < 8; ++i) message.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));

  uint32_t a0 = 0x67452301, b0 = 0xefcdab89, c0 = 0x98badcfe, d0 = 0x10325476;
  for (size_t block = 0; block < message.size(); block += 64) {
    uint32_t m[16];
    for (size_t i = 0; i < 16; ++i) {
      const auto* p = reinterpret_cast<const unsigned char*>(message.data() + block + i * 4);
      m[i] = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
             (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    }
    uint32_t a = a0, b = b0, c = c0, d = d0;
    for (uint32_t i = 0; i < 64; ++i) {
      uint32_t f = 0, g = 0;
      if (i < 16) {
        f = (b & c) | (~b & d);
        g = i;
      } else if (i < 32) {
        f = (d & b) | (~d & c);
        g = (5 * i + 1) % 16;
      } else if (i < 48) {
        f = b ^ c ^ d;
        g = (3 * i + 5) % 16;
      } else {
        f = c ^ (b | ~d);
        g = (7 * i) % 16;
      }
      f = f + a + kSines[i] + m[g];
      a = d;
      d = c;
      c = b;
      b = b + RotateLeft(f, kShifts[i]);
    }
    a0 += a;
    b0 += b;
    c0 += c;
    d0 += d;
  }
  std::string hex;
  for (uint32_t word : {a0, b0, c0, d0}) {
    for (int i = 0; i < 4; ++i) {
      char digits[3];
      std::snprintf(digits, sizeof digits, "%02x", (word >> (8 * i)) & 0xFF);
      hex += digits;
    }
  }
  return hex;
}

std::string AuthChallenge::Param(const std::string& name) const {
  const auto it = params.find(name);
  return it == params.end() ? std::string() : it->second;
}

bool ParseAuthChallenge(const std::string& value, AuthChallenge& challenge) {
  challenge = {};
  size_t at = 0;
  while (at < value.size() && IsBlank(value[at])) ++at;
  const size_t schemeStart = at;
  while (at < value.size() && !IsBlank(value[at])) ++at;
  if (at == schemeStart) return false;
  challenge.scheme = Lower(value.substr(schemeStart, at - schemeStart));
  // name=value or name="quoted value", separated by commas.
  while (at < value.size()) {
    while (at < value.size() && (IsBlank(value[at]) || value[at] == ',')) ++at;
    const size_t nameStart = at;
    while (at < value.size() && value[at] != '=' && value[at] != ',' && !IsBlank(value[at])) ++at;
    const std::string name = Lower(value.substr(nameStart, at - nameStart));
    while (at < value.size() && IsBlank(value[at])) ++at;
    if (at >= value.size() || value[at] != '=') {
      if (!name.empty()) challenge.params[name];
      continue;
    }
    ++at;
    while (at < value.size() && IsBlank(value[at])) ++at;
    std::string text;
    if (at < value.size() && value[at] == '"') {
      ++at;
      while (at < value.size() && value[at] != '"') {
        if (value[at] == '\\' && at + 1 < value.size()) ++at;
        text += value[at++];
      }
      if (at < value.size()) ++at;  // the closing quote
    } else {
      while (at < value.size() && value[at] != ',' && !IsBlank(value[at])) text += value[at++];
    }
    if (!name.empty()) challenge.params[name] = text;
  }
  return true;
}

bool ChooseAuthChallenge(const std::vector<AuthChallenge>& offered, AuthChallenge& chosen) {
  for (const AuthChallenge& c : offered) {
    const std::string algorithm = Lower(c.Param("algorithm"));
    const std::string qop = Lower(c.Param("qop"));
    const bool qopUsable = qop.empty() || qop.find("auth") != std::string::npos;
    if (c.scheme == "digest" && !c.Param("nonce").empty() &&
        (algorithm.empty() || algorithm == "md5") && qopUsable) {
      chosen = c;
      return true;
    }
  }
  for (const AuthChallenge& c : offered) {
    if (c.scheme == "basic") {
      chosen = c;
      return true;
    }
  }
  return false;
}

std::string DigestResponse(const std::string& user, const std::string& realm,
                           const std::string& password, const std::string& method,
                           const std::string& uri, const std::string& nonce,
                           const std::string& nc, const std::string& cnonce,
                           const std::string& qop) {
  const std::string ha1 = Md5Hex(user + ":" + realm + ":" + password);
  const std::string ha2 = Md5Hex(method + ":" + uri);
  if (qop.empty()) return Md5Hex(ha1 + ":" + nonce + ":" + ha2);
  return Md5Hex(ha1 + ":" + nonce + ":" + nc + ":" + cnonce + ":" + qop + ":" + ha2);
}

std::string AuthorizationValue(const AuthChallenge& challenge, const std::string& user,
                               const std::string& password, const std::string& method,
                               const std::string& uri, uint32_t nonceCount,
                               const std::string& cnonce) {
  if (challenge.scheme != "digest") return "Basic " + Base64Coder::EncodeString(user + ":" + password);
  const std::string realm = challenge.Param("realm");
  const std::string nonce = challenge.Param("nonce");
  const bool qop = Lower(challenge.Param("qop")).find("auth") != std::string::npos;
  char nc[16];
  std::snprintf(nc, sizeof nc, "%08x", nonceCount);
  const std::string response =
      DigestResponse(user, realm, password, method, uri, nonce, nc, cnonce, qop ? "auth" : "");
  std::string value = "Digest username=\"" + user + "\", realm=\"" + realm + "\", nonce=\"" +
                      nonce + "\", uri=\"" + uri + "\", response=\"" + response + "\"";
  if (!challenge.Param("algorithm").empty()) value += ", algorithm=MD5";
  if (!challenge.Param("opaque").empty())
    value += ", opaque=\"" + challenge.Param("opaque") + "\"";
  if (qop) value += ", qop=auth, nc=" + std::string(nc) + ", cnonce=\"" + cnonce + "\"";
  return value;
}

}  // namespace qor
