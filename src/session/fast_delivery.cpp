#include "session/fast_delivery.h"

#include <cstdio>

#include "asf/asf.h"
#include "support/helper.h"

namespace qor {

namespace {

std::string Decimal(double value) {
  char text[48];
  std::snprintf(text, sizeof text, "%.3f", value);
  return text;
}

// "5", "5.000": at most ten digits before the point and three after it.
std::optional<double> ReadDecimal(const std::string& text) {
  const size_t point = text.find('.');
  const std::string whole = text.substr(0, point);
  const std::string part = point == std::string::npos ? std::string() : text.substr(point + 1);
  const auto digits = [](const std::string& s) {
    return s.find_first_not_of("0123456789") == std::string::npos;
  };
  if (whole.empty() || whole.size() > 10 || !digits(whole)) return std::nullopt;
  if (point != std::string::npos && (part.empty() || part.size() > 3 || !digits(part)))
    return std::nullopt;
  double value = 0;
  for (char c : whole) value = value * 10 + (c - '0');
  double scale = 0.1;
  for (char c : part) {
    value += (c - '0') * scale;
    scale /= 10;
  }
  return value;
}

std::optional<uint32_t> ReadCount(const std::string& text) {
  if (text.find('.') != std::string::npos) return std::nullopt;
  const std::optional<double> value = ReadDecimal(text);
  if (!value || *value > 4294967295.0) return std::nullopt;
  return static_cast<uint32_t>(*value);
}

}  // namespace

FastDeliveryAsk FastDeliveryFor(const TASF& asf, uint32_t startMs) {
  FastDeliveryAsk ask;
  // The header's play duration counts the preroll; what is left of the clip from startMs is what
  // the accelerated start may cover.
  const double rest = asf.PlayDuration - asf.Preroll - static_cast<double>(startMs);
  if (rest >= 1)
    ask.accelDurationMs = rest >= 4294967295.0 ? 4294967295u : static_cast<uint32_t>(rest);
  return ask;
}

int ServerMajorVersion(const std::string& text) {
  const size_t slash = text.find('/');
  size_t at = slash == std::string::npos ? 0 : slash + 1;
  while (at < text.size() && text[at] == ' ') ++at;
  int major = -1;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    major = (major < 0 ? 0 : major) * 10 + (text[at] - '0');
    if (major > 9999) return -1;
  }
  return major;
}

std::string FastDeliveryPragmas(const FastDeliveryAsk& ask) {
  std::string link = "Pragma: LinkBW=" + std::to_string(ask.linkBandwidth);
  if (ask.accelDurationMs > 0)
    link += ", AccelBW=" + std::to_string(ask.accelBandwidth) +
            ", AccelDuration=" + std::to_string(ask.accelDurationMs);
  return link + "\r\nPragma: Speed=" + Decimal(ask.speed) + "\r\n";
}

std::string FastDeliveryRtspHeaders(const FastDeliveryAsk& ask) {
  std::string lines = "Speed: " + Decimal(ask.speed) + "\r\n";
  if (ask.accelDurationMs > 0)
    lines += "X-Accelerate-Streaming: AccelDuration=" + std::to_string(ask.accelDurationMs) +
             ";AccelBandwidth=" + std::to_string(ask.accelBandwidth) + "\r\n";
  return lines;
}

FastDeliveryGrant ReadRtspFastDeliveryGrant(const std::string& speed,
                                            const std::string& accelerateStreaming) {
  FastDeliveryGrant grant;
  if (const auto value = ReadDecimal(THelper::Trim(speed))) grant.speed = *value;
  size_t at = 0;
  while (at < accelerateStreaming.size()) {
    const size_t end = std::min(accelerateStreaming.find(';', at), accelerateStreaming.size());
    const std::string item = accelerateStreaming.substr(at, end - at);
    at = end + 1;
    const size_t eq = item.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = THelper::LowerCase(THelper::Trim(item.substr(0, eq)));
    const std::optional<uint32_t> number = ReadCount(THelper::Trim(item.substr(eq + 1)));
    if (!number) continue;
    if (key == "accelduration") grant.accelDurationMs = *number;
    if (key == "accelbandwidth") grant.accelBandwidth = *number;
  }
  return grant;
}

std::string FastDeliveryAskText(const FastDeliveryAsk& ask, bool speedAsked) {
  std::string text;
  if (speedAsked) text = "up to " + Decimal(ask.speed) + " times the clip's rate";
  if (ask.accelDurationMs > 0) {
    if (!text.empty()) text += ", ";
    text += "the first " + Decimal(ask.accelDurationMs / 1000.0) + " s at up to " +
            std::to_string(ask.accelBandwidth) + " bit/s";
  }
  return text;
}

FastDeliveryGrant ReadFastDeliveryGrant(const std::vector<std::string>& headerLines) {
  FastDeliveryGrant grant;
  for (const std::string& line : headerLines) {
    static constexpr std::string_view kName = "pragma:";
    if (THelper::LowerCase(line.substr(0, kName.size())) != kName) continue;
    const std::string value = line.substr(kName.size());
    size_t at = 0;
    while (at <= value.size()) {
      const size_t comma = std::min(value.find(',', at), value.size());
      const std::string token = THelper::Trim(value.substr(at, comma - at));
      at = comma + 1;
      const size_t eq = token.find('=');
      if (eq == std::string::npos) continue;
      const std::string key = THelper::LowerCase(THelper::Trim(token.substr(0, eq)));
      const std::string number = THelper::Trim(token.substr(eq + 1));
      if (key == "speed") {
        if (const auto speed = ReadDecimal(number)) grant.speed = *speed;
      } else if (key == "accelbw") {
        if (const auto bw = ReadCount(number)) grant.accelBandwidth = *bw;
      } else if (key == "accelduration") {
        if (const auto ms = ReadCount(number)) grant.accelDurationMs = *ms;
      }
    }
  }
  return grant;
}

std::string FastDeliveryGrantText(const FastDeliveryGrant& grant) {
  std::string text;
  if (grant.speed) text = "the clip at " + Decimal(*grant.speed) + " times its rate";
  if (grant.accelDurationMs && *grant.accelDurationMs > 0) {
    if (!text.empty()) text += ", ";
    text += "the first " + Decimal(*grant.accelDurationMs / 1000.0) + " s faster";
    if (grant.accelBandwidth) text += ", at " + std::to_string(*grant.accelBandwidth) + " bit/s";
  }
  return text.empty() ? "nothing faster" : text;
}

}  // namespace qor
