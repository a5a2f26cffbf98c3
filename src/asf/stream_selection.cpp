#include "asf/stream_selection.h"

#include <algorithm>
#include <cstring>

namespace qor {

namespace {

using Guid = uint8_t[16];
constexpr Guid kHeaderObject = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid kStreamProperties = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                    0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid kStreamBitrateProperties = {0xCE, 0x75, 0xF8, 0x7B, 0x8D, 0x46, 0xD1, 0x11,
                                           0x8D, 0x82, 0x00, 0x60, 0x97, 0xC9, 0xA2, 0xB2};
constexpr Guid kHeaderExtension = {0xB5, 0x03, 0xBF, 0x5F, 0x2E, 0xA9, 0xCF, 0x11,
                                   0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid kExtendedStreamProperties = {0xCB, 0xA5, 0xE6, 0x14, 0x72, 0xC6, 0x32, 0x43,
                                            0x83, 0x99, 0xA9, 0x69, 0x52, 0x06, 0x5B, 0x5A};
constexpr Guid kMutualExclusion = {0xDC, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11,
                                   0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE};
constexpr Guid kAudioMedia = {0x40, 0x9E, 0x69, 0xF8, 0x4D, 0x5B, 0xCF, 0x11,
                              0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
constexpr Guid kVideoMedia = {0xC0, 0xEF, 0x19, 0xBC, 0x4D, 0x5B, 0xCF, 0x11,
                              0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};

// A bounded view of [0, size) of a block.
struct View {
  const uint8_t* data;
  size_t size;
  bool Has(size_t pos, size_t count) const { return pos <= size && count <= size - pos; }
  bool Is(size_t pos, const Guid& guid) const {
    return Has(pos, 16) && std::memcmp(data + pos, guid, 16) == 0;
  }
  uint32_t U16(size_t pos) const { return Has(pos, 2) ? data[pos] | data[pos + 1] << 8 : 0; }
  uint32_t U32(size_t pos) const {
    return Has(pos, 4)
               ? static_cast<uint32_t>(data[pos]) | static_cast<uint32_t>(data[pos + 1]) << 8 |
                     static_cast<uint32_t>(data[pos + 2]) << 16 |
                     static_cast<uint32_t>(data[pos + 3]) << 24
               : 0;
  }
  uint64_t U64(size_t pos) const {
    return Has(pos, 8) ? U32(pos) | static_cast<uint64_t>(U32(pos + 4)) << 32 : 0;
  }
};

// Calls each(position, end) for every whole object in [from, to).
template <typename Each>
void ForEachObject(const View& v, size_t from, size_t to, Each each) {
  size_t pos = from;
  while (pos < to && v.Has(pos, 24)) {
    const uint64_t size = v.U64(pos + 16);
    if (size < 24 || size > to - pos) return;
    each(pos, pos + static_cast<size_t>(size));
    pos += static_cast<size_t>(size);
  }
}

struct Rates {
  std::vector<std::pair<uint8_t, uint32_t>> bitrateRecords, extended;
};

void ReadExtension(const View& v, size_t x, size_t end, Rates& rates,
                   std::vector<std::vector<uint8_t>>& groups) {
  const size_t dataSize = v.U32(x + 42);
  const size_t from = x + 46;
  if (from > end || dataSize > end - from) return;
  ForEachObject(v, from, from + dataSize, [&](size_t o, size_t oEnd) {
    if (v.Is(o, kExtendedStreamProperties) && oEnd - o >= 74) {
      rates.extended.emplace_back(static_cast<uint8_t>(v.U16(o + 72) & 0x7F), v.U32(o + 40));
    } else if (v.Is(o, kMutualExclusion) && oEnd - o >= 42) {
      const size_t count = v.U16(o + 40);
      std::vector<uint8_t> members;
      for (size_t i = 0; i < count && o + 42 + 2 * i + 2 <= oEnd; ++i)
        members.push_back(static_cast<uint8_t>(v.U16(o + 42 + 2 * i) & 0x7F));
      groups.push_back(std::move(members));
    }
  });
}

const char* KindName(OfferedKind kind) {
  switch (kind) {
    case OfferedKind::kAudio:
      return "audio";
    case OfferedKind::kVideo:
      return "video";
    default:
      return "other";
  }
}

}  // namespace

const OfferedStream* StreamOffer::Find(uint8_t number) const {
  for (const OfferedStream& s : streams)
    if (s.number == number) return &s;
  return nullptr;
}

StreamOffer ReadStreamOffer(const uint8_t* header, size_t length) {
  StreamOffer offer;
  const View v{header, length};
  if (!v.Is(0, kHeaderObject) || !v.Has(0, 30)) return offer;
  const uint64_t declared = v.U64(16);
  const size_t end = declared < length ? static_cast<size_t>(declared) : length;
  Rates rates;
  std::vector<std::vector<uint8_t>> groups;
  std::vector<uint32_t> byteRates;
  ForEachObject(v, 30, end, [&](size_t o, size_t oEnd) {
    if (v.Is(o, kStreamProperties) && oEnd - o >= 78) {
      OfferedStream s;
      s.number = static_cast<uint8_t>(v.U16(o + 72) & 0x7F);
      uint32_t byteRate = 0;
      if (v.Is(o + 24, kAudioMedia)) {
        s.kind = OfferedKind::kAudio;
        if (oEnd - o >= 90) byteRate = v.U32(o + 86);  // the format's average bytes per second
      } else if (v.Is(o + 24, kVideoMedia)) {
        s.kind = OfferedKind::kVideo;
      }
      if (offer.Find(s.number) == nullptr && s.number != 0) {
        offer.streams.push_back(s);
        byteRates.push_back(byteRate);
      }
    } else if (v.Is(o, kStreamBitrateProperties) && oEnd - o >= 26) {
      const size_t count = v.U16(o + 24);
      for (size_t i = 0; i < count && o + 26 + 6 * i + 6 <= oEnd; ++i)
        rates.bitrateRecords.emplace_back(static_cast<uint8_t>(v.U16(o + 26 + 6 * i) & 0x7F),
                                          v.U32(o + 26 + 6 * i + 2));
    } else if (v.Is(o, kHeaderExtension)) {
      ReadExtension(v, o, oEnd, rates, groups);
    }
  });
  for (size_t i = 0; i < offer.streams.size(); ++i) {
    OfferedStream& s = offer.streams[i];
    auto rateIn = [&](const std::vector<std::pair<uint8_t, uint32_t>>& list) -> uint32_t {
      for (const auto& [number, rate] : list)
        if (number == s.number && rate != 0) return rate;
      return 0;
    };
    s.bitrate = rateIn(rates.bitrateRecords);
    if (s.bitrate == 0) s.bitrate = rateIn(rates.extended);
    if (s.bitrate == 0 && byteRates[i] <= 0xFFFFFFFFu / 8) s.bitrate = byteRates[i] * 8;
  }
  for (const auto& members : groups) {
    bool any = false;
    for (uint8_t number : members)
      for (OfferedStream& s : offer.streams)
        if (s.number == number && s.group < 0) {
          s.group = offer.groupCount;
          any = true;
        }
    if (any) {
      ++offer.groupCount;
      offer.exclusionInHeader = true;
    }
  }
  if (!offer.exclusionInHeader) {
    for (OfferedKind kind : {OfferedKind::kVideo, OfferedKind::kAudio}) {
      const auto count = std::count_if(offer.streams.begin(), offer.streams.end(),
                                       [&](const OfferedStream& s) { return s.kind == kind; });
      if (count < 2) continue;
      for (OfferedStream& s : offer.streams)
        if (s.kind == kind) s.group = offer.groupCount;
      ++offer.groupCount;
    }
  }
  return offer;
}

StreamSelection SelectStreams(const StreamOffer& offer, const StreamRequest& request) {
  StreamSelection result;
  std::vector<bool> take(offer.streams.size(), false);
  bool matched = false;
  for (size_t i = 0; i < offer.streams.size(); ++i)
    if (std::find(request.numbers.begin(), request.numbers.end(), offer.streams[i].number) !=
        request.numbers.end())
      take[i] = matched = true;
  if (request.numbers.empty() || !matched) {
    result.unmatched = !request.numbers.empty();
    const bool everything = request.Everything() || result.unmatched;
    auto allowed = [&](const OfferedStream& s) {
      return everything || !request.audioOnly || s.kind != OfferedKind::kVideo;
    };
    // Candidates per group, and the rate taken by the streams outside any group.
    std::vector<std::vector<size_t>> members(static_cast<size_t>(offer.groupCount));
    uint64_t fixed = 0;
    for (size_t i = 0; i < offer.streams.size(); ++i) {
      const OfferedStream& s = offer.streams[i];
      if (!allowed(s)) continue;
      if (everything || s.group < 0) {
        take[i] = true;
        if (s.group < 0) fixed += s.bitrate;
      } else {
        members[static_cast<size_t>(s.group)].push_back(i);
      }
    }
    if (!everything) {
      std::erase_if(members, [](const auto& m) { return m.empty(); });
      // Every combination of one stream per group (at most 10 streams, so few); the first of equal
      // totals wins, so streams of unknown rate go by header order.
      std::vector<size_t> pick(members.size(), 0), best;
      uint64_t bestTotal = 0;
      std::vector<size_t> lowest(members.size(), 0);
      for (size_t g = 0; g < members.size(); ++g)
        for (size_t k = 0; k < members[g].size(); ++k)
          if (offer.streams[members[g][k]].bitrate < offer.streams[members[g][lowest[g]]].bitrate)
            lowest[g] = k;
      for (;;) {
        uint64_t total = fixed;
        for (size_t g = 0; g < members.size(); ++g)
          total += offer.streams[members[g][pick[g]]].bitrate;
        const bool fits = request.maxRate == 0 || total <= request.maxRate;
        if (fits && (best.empty() || total > bestTotal)) {
          best = pick;
          bestTotal = total;
        }
        size_t g = 0;
        while (g < members.size() && ++pick[g] == members[g].size()) pick[g++] = 0;
        if (g == members.size()) break;
      }
      if (best.empty()) {
        best = lowest;
        result.overBudget = true;
      }
      for (size_t g = 0; g < members.size(); ++g) take[members[g][best[g]]] = true;
    }
  }
  for (size_t i = 0; i < offer.streams.size(); ++i) {
    (take[i] ? result.chosen : result.leftOut).push_back(offer.streams[i].number);
    if (take[i]) result.rate += offer.streams[i].bitrate;
  }
  return result;
}

bool CountPacketStreams(const uint8_t* packet, size_t size, std::map<uint8_t, uint64_t>& payloads) {
  static constexpr uint32_t kWidth[4] = {0, 1, 2, 4};
  const View v{packet, size};
  auto read = [&](size_t pos, uint32_t width) -> size_t {
    return width == 1   ? (v.Has(pos, 1) ? packet[pos] : 0)
           : width == 2 ? v.U16(pos)
           : width == 4 ? v.U32(pos)
                        : 0;
  };
  size_t pos = 0;
  if (v.Has(0, 1) && (packet[0] & 0x80)) {
    if (packet[0] & 0x60) return false;
    pos = 1 + (packet[0] & 0x0F);
  }
  if (!v.Has(pos, 2)) return false;
  const uint8_t lengthFlags = packet[pos];
  const uint8_t propertyFlags = packet[pos + 1];
  pos += 2;
  const uint32_t lengthWidth = kWidth[(lengthFlags >> 5) & 3];
  const size_t packetLength = lengthWidth ? read(pos, lengthWidth) : size;
  pos += lengthWidth + kWidth[(lengthFlags >> 1) & 3];
  const size_t padding = read(pos, kWidth[(lengthFlags >> 3) & 3]);
  pos += kWidth[(lengthFlags >> 3) & 3] + 6;
  if (packetLength > size || padding > packetLength || pos > packetLength - padding) return false;
  const size_t end = packetLength - padding;
  if (kWidth[(propertyFlags >> 6) & 3] != 1) return false;
  const size_t skip = 1 + kWidth[(propertyFlags >> 4) & 3] + kWidth[(propertyFlags >> 2) & 3];
  const uint32_t replicatedWidth = kWidth[propertyFlags & 3];
  const bool multiple = lengthFlags & 1;
  size_t count = 1;
  uint32_t lengthOfPayload = 0;
  if (multiple) {
    if (pos >= end) return false;
    count = packet[pos] & 0x3F;
    lengthOfPayload = kWidth[(packet[pos] >> 6) & 3];
    ++pos;
  }
  for (size_t i = 0; i < count; ++i) {
    if (pos >= end) return false;
    const uint8_t stream = packet[pos] & 0x7F;
    pos += skip;
    const size_t replicated = read(pos, replicatedWidth);
    pos += replicatedWidth;
    if (pos > end || replicated > end - pos) return false;
    pos += replicated;
    size_t length = end - pos;
    if (multiple) {
      length = read(pos, lengthOfPayload);
      pos += lengthOfPayload;
      if (pos > end || length > end - pos) return false;
    }
    pos += length;
    ++payloads[stream];
  }
  return true;
}

std::string DescribeStreams(const StreamOffer& offer, const std::vector<uint8_t>& numbers) {
  std::string text;
  for (uint8_t number : numbers) {
    if (!text.empty()) text += ", ";
    text += std::to_string(number);
    const OfferedStream* s = offer.Find(number);
    if (s == nullptr) continue;
    text += std::string(" (") + KindName(s->kind);
    if (s->bitrate != 0) text += ", " + std::to_string(s->bitrate / 1000) + " kbps";
    text += ")";
  }
  return text;
}

}  // namespace qor
