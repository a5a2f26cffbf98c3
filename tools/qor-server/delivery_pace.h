#pragma once
// How fast a stream goes out: what a client asked (a speed factor for the whole clip, an
// accelerated start), what the server grants it (never more than --fast-cache times the rate,
// an accelerated start of at most --fast-start seconds, nothing for a live channel), and when
// each packet is due from then on.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace qor::server {

// 0 in a field: not asked.
struct DeliveryAsk {
  double speed = 0;              // times the clip's rate, for the whole stream
  uint32_t accelBandwidth = 0;   // bits per second of the accelerated start
  uint32_t accelDurationMs = 0;  // media milliseconds of the accelerated start
  bool Any() const { return speed > 0 || accelBandwidth > 0 || accelDurationMs > 0; }
};

struct DeliveryGrant {
  double speed = 1;             // times the paced rate, for the whole stream
  uint32_t burstMs = 0;         // media milliseconds sent faster at the start
  double burstSpeed = 1;        // times the paced rate during the burst (infinite: at once)
  uint32_t burstBandwidth = 0;  // bits per second the burst is said to go at
};

struct DeliveryLimits {
  double fastCache = 5;         // most times the rate a whole clip is sent at
  double fastStartSeconds = 0;  // most media seconds of an accelerated start
};

// An RTSP X-Accelerate-Streaming value ("AccelDuration=18000;AccelBandwidth=2147483647"):
// its two parameters, whatever their order, separators and letter case; others are passed over.
DeliveryAsk ReadAccelerateHeader(const std::string& value);

// bitRate: the clip's bits per second (0 when unknown: the burst then goes at once).
DeliveryGrant GrantDelivery(const DeliveryAsk& ask, bool live, const DeliveryLimits& limits,
                            uint32_t bitRate);
// "speed=100.000 accel=2147483647bps/60000ms -> speed=5.000 burst=0ms" for the request log.
std::string DeliveryText(const DeliveryAsk& ask, const DeliveryGrant& grant);
// The factor as the Speed token and header write it: "5.000".
std::string SpeedText(double speed);

// When each packet of one stream is due. rate: the server's --rate (0: as fast as the socket
// takes it).
class DeliveryPacer {
 public:
  using Clock = std::chrono::steady_clock;
  DeliveryPacer(double rate, const DeliveryGrant& grant, Clock::time_point start,
                uint64_t startScheduleMs);
  bool Paced() const { return rate_ > 0; }
  // The moment the packet scheduled at scheduleMs may go; none when it may go at once.
  std::optional<Clock::time_point> Due(uint64_t scheduleMs) const;

 private:
  double rate_;
  DeliveryGrant grant_;
  Clock::time_point start_;
  uint64_t startScheduleMs_;
};

}  // namespace qor::server
