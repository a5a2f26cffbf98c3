#include "session/rtsp_sdp.h"

#include <algorithm>
#include <string_view>

namespace qor {

namespace {

constexpr std::string_view kHeaderUrl = "data:application/vnd.ms.wms-hdr.asfv1;base64,";

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

// Digits only, at most nine of them; -1 otherwise.
int64_t Decimal(std::string_view text) {
  if (text.empty() || text.size() > 9) return -1;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Strict: the alphabet, then at most two "=" (or none); a header with a stray character is a
// damaged one, not a header to guess at.
bool DecodeBase64(std::string_view text, std::vector<uint8_t>& out) {
  while (!text.empty() && text.back() == '=') text.remove_suffix(1);
  out.clear();
  out.reserve(text.size() * 3 / 4);
  uint32_t group = 0;
  int bits = 0;
  for (char c : text) {
    const int value = Base64Value(c);
    if (value < 0) return false;
    group = (group << 6) | static_cast<uint32_t>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<uint8_t>(group >> bits));
    }
  }
  return bits < 6;  // a lone sixth of a byte is no encoding of anything
}

// "96 x-asf-pf/1000" -> payload type 96 and encoding "x-asf-pf".
void ReadRtpMap(std::string_view value, SdpStream& stream) {
  const size_t blank = value.find(' ');
  if (blank == std::string_view::npos || Decimal(value.substr(0, blank)) != stream.payloadType)
    return;
  const std::string_view encoding = Trim(value.substr(blank + 1));
  stream.encoding = Lower(encoding.substr(0, encoding.find('/')));
}

}  // namespace

bool ReadSdp(const char* text, size_t length, SdpDescription& out, std::string& why) {
  out = SdpDescription{};
  const std::string_view all(text, length);
  std::vector<SdpStream> media;
  bool haveHeader = false;
  size_t at = 0;
  while (at < all.size()) {
    size_t end = all.find('\n', at);
    if (end == std::string_view::npos) end = all.size();
    const std::string_view line = Trim(all.substr(at, end - at));
    at = end + 1;
    if (line.size() < 2 || line[1] != '=') continue;
    const std::string_view value = line.substr(2);
    if (line[0] == 'm') {
      // "m=audio 0 RTP/AVP 96"
      SdpStream stream;
      stream.media = Lower(value.substr(0, value.find(' ')));
      const size_t lastBlank = value.rfind(' ');
      if (lastBlank != std::string_view::npos) {
        const int64_t type = Decimal(value.substr(lastBlank + 1));
        stream.payloadType = type >= 0 && type < 128 ? static_cast<int>(type) : -1;
      }
      media.push_back(std::move(stream));
      continue;
    }
    if (line[0] != 'a') continue;
    const size_t colon = value.find(':');
    const std::string name = Lower(value.substr(0, colon));
    const std::string_view attribute =
        colon == std::string_view::npos ? std::string_view() : Trim(value.substr(colon + 1));
    SdpStream* stream = media.empty() ? nullptr : &media.back();
    if (name == "control") {
      (stream ? stream->control : out.control) = std::string(attribute);
    } else if (name == "rtpmap" && stream) {
      ReadRtpMap(attribute, *stream);
    } else if (name == "stream" && stream) {
      const int64_t number = Decimal(attribute);
      stream->streamNumber = number >= 1 && number <= 127 ? static_cast<int>(number) : -1;
    } else if (name == "maxps" && !stream) {
      const int64_t size = Decimal(attribute);
      out.maxPacketSize = size > 0 ? static_cast<uint32_t>(size) : 0;
    } else if (name == "range" && !stream) {
      out.live = Lower(attribute).rfind("npt=now", 0) == 0;
    } else if (name == "pgmpu" && !stream && !haveHeader) {
      if (Lower(attribute.substr(0, kHeaderUrl.size())) != kHeaderUrl) continue;
      if (!DecodeBase64(attribute.substr(kHeaderUrl.size()), out.asfHeader)) {
        why = "the description's ASF header is not valid base64";
        return false;
      }
      haveHeader = true;
    }
  }
  if (!haveHeader || out.asfHeader.empty()) {
    why = "the description holds no ASF header (a=pgmpu): this is no Windows Media stream";
    return false;
  }
  for (SdpStream& stream : media) {
    if (stream.encoding == "x-wms-rtx") {
      if (!out.retransmission) out.retransmission = std::move(stream);
    } else if (stream.encoding == "x-asf-pf" || stream.streamNumber > 0) {
      out.streams.push_back(std::move(stream));
    }
  }
  return true;
}

std::string ResolveControl(const std::string& base, const std::string& control) {
  if (control.empty() || control == "*") return base;
  const std::string lower = Lower(control);
  if (lower.rfind("rtsp://", 0) == 0 || lower.rfind("rtspu://", 0) == 0 ||
      lower.rfind("rtspt://", 0) == 0)
    return control;
  const size_t scheme = base.find("://");
  if (control.front() == '/') {
    // From the root of base's server.
    const size_t root = scheme == std::string::npos ? 0 : base.find('/', scheme + 3);
    return (root == std::string::npos ? base : base.substr(0, root)) + control;
  }
  // Relative: servers and players alike take the presentation's URL as a folder here, with or
  // without its closing "/" ("clip.wmv" + "stream=1" is "clip.wmv/stream=1").
  const std::string plain = base.substr(0, base.find('?'));
  return plain + (!plain.empty() && plain.back() == '/' ? "" : "/") + control;
}

}  // namespace qor
