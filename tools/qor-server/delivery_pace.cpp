#include "delivery_pace.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>

namespace qor::server {

DeliveryGrant GrantDelivery(const DeliveryAsk& ask, bool live, const DeliveryLimits& limits,
                            uint32_t bitRate) {
  DeliveryGrant grant;
  // A broadcast cannot run ahead of what is happening, and a client that asks nothing gets the
  // pace everybody gets.
  if (live || !ask.Any()) return grant;
  if (ask.speed > 0) grant.speed = std::clamp(ask.speed, 1.0, std::max(1.0, limits.fastCache));
  if (ask.accelDurationMs > 0 && ask.accelBandwidth > 0 && limits.fastStartSeconds > 0) {
    grant.burstMs = static_cast<uint32_t>(
        std::min<double>(ask.accelDurationMs, limits.fastStartSeconds * 1000.0));
    // The start goes at the bandwidth asked for, measured against the clip's own rate; a clip
    // whose rate is not known has nothing to measure it by and goes at once.
    const double factor = bitRate > 0 ? static_cast<double>(ask.accelBandwidth) / bitRate
                                      : std::numeric_limits<double>::infinity();
    grant.burstSpeed = std::max(factor, grant.speed);
    grant.burstBandwidth = ask.accelBandwidth;
  }
  return grant;
}

DeliveryAsk ReadAccelerateHeader(const std::string& value) {
  DeliveryAsk ask;
  size_t at = 0;
  while (at < value.size()) {
    const size_t end = std::min(value.find_first_of(";,", at), value.size());
    const std::string item = value.substr(at, end - at);
    at = end + 1;
    const size_t eq = item.find('=');
    if (eq == std::string::npos) continue;
    std::string key;
    for (char c : item.substr(0, eq))
      if (c != ' ' && c != '\t')
        key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    uint64_t number = 0;
    bool digits = false;
    for (char c : item.substr(eq + 1)) {
      if (c == ' ' || c == '\t') continue;
      if (c < '0' || c > '9') {
        digits = false;
        break;
      }
      number = std::min<uint64_t>(number * 10 + static_cast<uint64_t>(c - '0'), 0xFFFFFFFFu);
      digits = true;
    }
    if (!digits) continue;
    if (key == "accelduration") ask.accelDurationMs = static_cast<uint32_t>(number);
    if (key == "accelbandwidth") ask.accelBandwidth = static_cast<uint32_t>(number);
  }
  return ask;
}

std::string SpeedText(double speed) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", speed);
  return text;
}

std::string DeliveryText(const DeliveryAsk& ask, const DeliveryGrant& grant) {
  const std::string asked = "speed=" + SpeedText(ask.speed) +
                            " accel=" + std::to_string(ask.accelBandwidth) + "bps/" +
                            std::to_string(ask.accelDurationMs) + "ms";
  return asked + " -> speed=" + SpeedText(grant.speed) + " burst=" + std::to_string(grant.burstMs) +
         "ms";
}

DeliveryPacer::DeliveryPacer(double rate, const DeliveryGrant& grant, Clock::time_point start,
                             uint64_t startScheduleMs)
    : rate_(rate), grant_(grant), start_(start), startScheduleMs_(startScheduleMs) {}

std::optional<DeliveryPacer::Clock::time_point> DeliveryPacer::Due(uint64_t scheduleMs) const {
  if (rate_ <= 0) return std::nullopt;
  const double media =
      scheduleMs > startScheduleMs_ ? static_cast<double>(scheduleMs - startScheduleMs_) : 0.0;
  const double burst = std::min(media, static_cast<double>(grant_.burstMs));
  // Wall milliseconds: the burst at its own speed, the rest at the stream's.
  const double wallMs =
      burst / (rate_ * grant_.burstSpeed) + (media - burst) / (rate_ * grant_.speed);
  return start_ + std::chrono::microseconds(static_cast<int64_t>(wallMs * 1000.0));
}

}  // namespace qor::server
