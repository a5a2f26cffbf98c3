#include "session/mms_commands.h"

#include <algorithm>
#include <cstring>

#include "support/helper.h"

namespace qor::mms {

void PutU16(Bytes& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutU32(Bytes& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutDouble(Bytes& out, double value) {
  uint64_t bits = 0;
  static_assert(sizeof bits == sizeof value);
  std::memcpy(&bits, &value, sizeof bits);
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
}

Bytes WidenText(const std::string& text) {
  Bytes wide;
  wide.reserve(text.size() * 2);
  for (unsigned char c : text) {
    wide.push_back(c);
    wide.push_back(0);
  }
  return wide;
}

namespace {

void StoreU32At(Bytes& out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void Append(Bytes& out, const Bytes& more) {
  out.insert(out.end(), more.begin(), more.end());
}

}  // namespace

Bytes BuildCommand(uint16_t id, const Bytes& fixed, Placement placement,
                   const std::vector<uint16_t>& streamNumbers, const std::string& text,
                   uint32_t sequence) {
  // Offsets 32 onwards first: its padded length decides all three length fields.
  Bytes body;
  PutU32(body, 0);  // chunk length, filled in below
  PutU16(body, id);
  PutU16(body, kClientDirection);
  if (placement == Placement::First) Append(body, fixed);
  if (!streamNumbers.empty()) {
    PutU32(body, static_cast<uint32_t>(streamNumbers.size()));
    for (uint16_t number : streamNumbers) {
      PutU16(body, 0xFFFF);
      PutU16(body, number);
      PutU16(body, 0);
    }
  }
  if (!text.empty()) Append(body, WidenText(text));
  if (placement == Placement::Last) Append(body, fixed);
  while (body.size() % 8 != 0) body.push_back(0);
  StoreU32At(body, 0, static_cast<uint32_t>(body.size() / 8));

  const uint32_t fromSixteen = static_cast<uint32_t>(body.size() + 16);
  Bytes message;
  message.reserve(body.size() + kCommandFramingLength - 8);
  PutU32(message, kLeadWord);
  PutU32(message, kCommandSignature);
  PutU32(message, fromSixteen);
  PutU32(message, kSeal);
  PutU32(message, fromSixteen / 8);  // chunk count
  PutU16(message, static_cast<uint16_t>(sequence));
  PutU16(message, 0);
  PutDouble(message, 0.0);  // time sent
  Append(message, body);
  return message;
}

Bytes BuildConnect(uint32_t sequence, const std::string& clientGuid, bool proxyInUse,
                   const std::string& host) {
  std::string text = "\x0B\x04\x1C\x03";
  text += "NSPlayer/7.1.0.1956";
  text += "; " + clientGuid;
  if (proxyInUse) text += "; Host: " + THelper::Trim(host);
  text.push_back('\0');
  text.push_back('\0');
  Bytes fixed;
  PutU32(fixed, 0xF0F0F0F0);
  return BuildCommand(kCmdConnect, fixed, Placement::First, {}, text, sequence);
}

Bytes BuildTransportSelect(uint32_t sequence, uint32_t serverIncarnation,
                           const std::string& localAddress, bool udp, uint32_t localPort) {
  std::string text = "\\\\" + THelper::Trim(localAddress);
  text += udp ? "\\UDP\\" : "\\TCP\\";
  text += std::to_string(localPort);
  text.push_back('\0');
  Bytes fixed;
  PutU32(fixed, serverIncarnation);
  PutU32(fixed, 0xFFFFFFFF);
  PutU32(fixed, 0);
  PutU32(fixed, 0x00A00000);
  PutU32(fixed, 2);
  return BuildCommand(kCmdTransportSelect, fixed, Placement::First, {}, text, sequence);
}

Bytes BuildOpenFile(uint32_t sequence, uint32_t fileNumber, const std::string& path) {
  std::string text = THelper::Trim(path);
  text.push_back('\0');
  Bytes fixed;
  PutU32(fixed, fileNumber);
  PutU32(fixed, 0xFFFFFFFF);
  PutU32(fixed, 0);
  PutU32(fixed, 0);
  return BuildCommand(kCmdOpenFile, fixed, Placement::First, {}, text, sequence);
}

Bytes BuildStartPlay(uint32_t sequence, uint32_t fileNumber, uint32_t positionMs,
                     const FastDeliveryAsk* accelerated) {
  Bytes fixed;
  PutU32(fixed, fileNumber);
  PutU32(fixed, 0x0001FFFF);
  PutDouble(fixed, static_cast<double>(positionMs / 1000));  // whole seconds only
  PutU32(fixed, 0xFFFFFFFF);
  PutU32(fixed, 0xFFFFFFFF);
  PutU32(fixed, 0);
  PutU32(fixed, 4);  // tag the server puts on media packets
  if (accelerated) {
    PutU32(fixed, accelerated->accelBandwidth);
    PutU32(fixed, accelerated->accelDurationMs);
    PutU32(fixed, accelerated->linkBandwidth);
  }
  return BuildCommand(kCmdStartPlay, fixed, Placement::First, {}, {}, sequence);
}

Bytes BuildHeaderRequest(uint32_t sequence, uint32_t fileNumber) {
  Bytes fixed;
  PutU32(fixed, fileNumber);
  PutU32(fixed, 0);
  PutU32(fixed, 0);
  PutU32(fixed, 0x00008000);
  PutU32(fixed, 0xFFFFFFFF);
  PutU32(fixed, 0);
  PutDouble(fixed, 0.0);
  PutDouble(fixed, 3600.0);
  fixed.push_back(0x02);
  return BuildCommand(kCmdHeaderRequest, fixed, Placement::First, {}, {}, sequence);
}

Bytes BuildTimingRequest(uint32_t sequence, int32_t& timingState, bool udp) {
  uint32_t word = 0;
  if (timingState != 0) {
    word = udp ? kTimingUdp : kTimingTcp;
    timingState = udp ? 2 : 1;
  }
  Bytes fixed;
  PutU32(fixed, word);
  PutU32(fixed, 0x0004000B);
  return BuildCommand(kCmdTimingRequest, fixed, Placement::First, {}, {}, sequence);
}

Bytes BuildPasswordResponse(uint32_t sequence, uint32_t fileNumber,
                            const std::string& credentials) {
  Bytes fixed;
  PutU32(fixed, fileNumber);
  PutU32(fixed, 1);
  // Servers expect the count to take in one byte more than the text and its four zero bytes show.
  PutU32(fixed, static_cast<uint32_t>(credentials.size() + 5));
  fixed.insert(fixed.end(), credentials.begin(), credentials.end());
  PutU32(fixed, 0);
  return BuildCommand(kCmdPasswordResponse, fixed, Placement::First, {}, {}, sequence);
}

Bytes BuildPong(uint32_t sequence, uint32_t fileNumber) {
  Bytes fixed;
  PutU32(fixed, fileNumber);
  PutU32(fixed, 0x0001FFFF);
  return BuildCommand(kCmdPong, fixed, Placement::First, {}, {}, sequence);
}

Bytes BuildStreamSelection(uint32_t sequence, const std::vector<uint16_t>& streamNumbers,
                           const std::vector<uint16_t>& offStreams) {
  // The stream list is written here, where it lies just before these fixed bytes as BuildCommand
  // would put it, because a stream switched off carries action 2 instead of 0.
  Bytes fixed;
  if (!streamNumbers.empty()) {
    PutU32(fixed, static_cast<uint32_t>(streamNumbers.size()));
    for (uint16_t number : streamNumbers) {
      const bool off = std::find(offStreams.begin(), offStreams.end(), number) != offStreams.end();
      PutU16(fixed, 0xFFFF);
      PutU16(fixed, number);
      PutU16(fixed, off ? 2 : 0);
    }
  }
  Append(fixed, Bytes{0x00, 0x00, 0x00, 0x20, 0xAC, 0x40, 0x02});
  return BuildCommand(kCmdStreamSelection, fixed, Placement::Last, {}, {}, sequence);
}

bool StartPlayRefused(uint32_t positionMs, int32_t streamKind) {
  return positionMs != 0 && streamKind == 2;
}

}  // namespace qor::mms
