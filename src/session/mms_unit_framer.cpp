#include "session/mms_unit_framer.h"

#include <algorithm>

namespace qor::mms {

namespace {
constexpr size_t kFailedUnitKept = 64;  // enough for the hex dump the session shows
}

bool IsCommandUnit(const uint8_t* unit) {
  return unit[4] == 0xCE && unit[5] == 0xFA && unit[6] == 0x0B && unit[7] == 0xB0;
}

MmsUnitFramer::MmsUnitFramer(size_t maxUnit) : max_unit_(maxUnit) {}

size_t MmsUnitFramer::BytesForLength(const uint8_t* data, size_t available) {
  if (available < kDataPacketHeaderLength) return kDataPacketHeaderLength;
  return IsCommandUnit(data) ? 12 : kDataPacketHeaderLength;
}

std::optional<uint64_t> MmsUnitFramer::DeclaredLength(const uint8_t* data, size_t available) {
  if (available < BytesForLength(data, available)) return std::nullopt;
  if (!IsCommandUnit(data)) return static_cast<uint64_t>(data[6] | (data[7] << 8));
  const uint64_t fromSixteen = static_cast<uint64_t>(data[8]) | (uint64_t{data[9]} << 8) |
                               (uint64_t{data[10]} << 16) | (uint64_t{data[11]} << 24);
  return fromSixteen + 16;
}

bool MmsUnitFramer::Valid(const uint8_t* data, uint64_t declared) const {
  const uint64_t least = IsCommandUnit(data) ? kMinimumCommandLength : kDataPacketHeaderLength;
  return declared >= least && declared <= max_unit_;
}

MmsUnitFramer::Status MmsUnitFramer::Fail(const uint8_t* data, size_t available) {
  stopped_ = true;
  failed_.assign(data, data + std::min(available, kFailedUnitKept));
  partial_.clear();
  return Status::Malformed;
}

MmsUnitFramer::Status MmsUnitFramer::Feed(const uint8_t* data, size_t length, const Sink& sink) {
  if (stopped_) return Status::SinkRefused;
  size_t used = 0;
  // First complete the unit held back from earlier blocks, taking only the bytes it needs.
  while (!partial_.empty() && used < length) {
    const std::optional<uint64_t> declared = DeclaredLength(partial_.data(), partial_.size());
    size_t want = 0;
    if (!declared) {
      want = BytesForLength(partial_.data(), partial_.size()) - partial_.size();
    } else {
      if (!Valid(partial_.data(), *declared)) return Fail(partial_.data(), partial_.size());
      want = static_cast<size_t>(*declared) - partial_.size();
    }
    const size_t take = std::min(want, length - used);
    partial_.insert(partial_.end(), data + used, data + used + take);
    used += take;
    const std::optional<uint64_t> now = DeclaredLength(partial_.data(), partial_.size());
    if (now && Valid(partial_.data(), *now) && partial_.size() == *now) {
      if (!sink(partial_.data(), partial_.size())) {
        stopped_ = true;
        return Status::SinkRefused;
      }
      partial_.clear();
    }
  }
  // Whole units straight from the block, without copying.
  while (used < length) {
    const uint8_t* unit = data + used;
    const size_t available = length - used;
    const std::optional<uint64_t> declared = DeclaredLength(unit, available);
    if (declared && !Valid(unit, *declared)) return Fail(unit, available);
    if (!declared || *declared > available) {
      partial_.assign(unit, unit + available);
      if (declared) partial_.reserve(static_cast<size_t>(*declared));
      break;
    }
    if (!sink(unit, static_cast<size_t>(*declared))) {
      stopped_ = true;
      return Status::SinkRefused;
    }
    used += static_cast<size_t>(*declared);
  }
  // The held-back unit may already prove invalid (its length is known).
  if (!partial_.empty()) {
    const std::optional<uint64_t> declared = DeclaredLength(partial_.data(), partial_.size());
    if (declared && !Valid(partial_.data(), *declared))
      return Fail(partial_.data(), partial_.size());
  }
  return Status::Ok;
}

}  // namespace qor::mms
