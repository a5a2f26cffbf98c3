#pragma once
// The MMS command messages a client sends on its control connection, each built whole in memory
// so the transport can hand it to the socket in one call. Pure functions of their inputs: the
// session supplies its counters and texts and advances them itself.

#include <cstdint>
#include <string>
#include <vector>

#include "session/fast_delivery.h"

namespace qor::mms {

using qor::FastDeliveryAsk;

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kLeadWord = 0x00000001;
constexpr uint32_t kCommandSignature = 0xB00BFACE;
constexpr uint32_t kSeal = 0x20534D4D;  // "MMS "
constexpr uint16_t kClientDirection = 0x0003;
// Lead word, signature, length, seal, chunk count, sequence, time sent, chunk length, id,
// direction.
constexpr size_t kCommandFramingLength = 40;

// Client-to-server command ids.
enum CommandId : uint16_t {
  kCmdConnect = 0x01,
  kCmdTransportSelect = 0x02,
  kCmdOpenFile = 0x05,
  kCmdStartPlay = 0x07,
  kCmdHeaderRequest = 0x15,
  kCmdTimingRequest = 0x18,
  kCmdPasswordResponse = 0x1A,
  kCmdPong = 0x1B,
  kCmdStreamSelection = 0x33,
};

constexpr uint32_t kTimingTcp = 0xF0F0F0F1;
constexpr uint32_t kTimingUdp = 0xF0F0F901;

// Where a command's fixed fields go relative to its stream list and text.
enum class Placement { First, Last };

// Little-endian appenders for building fixed fields.
void PutU16(Bytes& out, uint16_t value);
void PutU32(Bytes& out, uint32_t value);
void PutDouble(Bytes& out, double value);

// Each byte of a single-byte text followed by a zero byte; no terminator is added.
Bytes WidenText(const std::string& text);

// One whole command message. streamNumbers empty means no stream list; an empty text adds nothing.
Bytes BuildCommand(uint16_t id, const Bytes& fixed, Placement placement,
                   const std::vector<uint16_t>& streamNumbers, const std::string& text,
                   uint32_t sequence);

Bytes BuildConnect(uint32_t sequence, const std::string& clientGuid, bool proxyInUse,
                   const std::string& host);
// localPort is the UDP receiver's port when media comes over UDP, the TCP one otherwise.
Bytes BuildTransportSelect(uint32_t sequence, uint32_t serverIncarnation,
                           const std::string& localAddress, bool udp, uint32_t localPort);
Bytes BuildOpenFile(uint32_t sequence, uint32_t fileNumber, const std::string& path);
// accelerated: the optional fields that ask for an accelerated start (bandwidth, duration, link).
Bytes BuildStartPlay(uint32_t sequence, uint32_t fileNumber, uint32_t positionMs,
                     const FastDeliveryAsk* accelerated = nullptr);
Bytes BuildHeaderRequest(uint32_t sequence, uint32_t fileNumber);
// Picks the timing word from timingState and leaves timingState as the server will be asked.
Bytes BuildTimingRequest(uint32_t sequence, int32_t& timingState, bool udp);
Bytes BuildPasswordResponse(uint32_t sequence, uint32_t fileNumber, const std::string& credentials);
Bytes BuildPong(uint32_t sequence, uint32_t fileNumber);
// Every stream of the header in the list; those in offStreams are switched off.
Bytes BuildStreamSelection(uint32_t sequence, const std::vector<uint16_t>& streamNumbers,
                           const std::vector<uint16_t>& offStreams = {});

// A start position other than 0 cannot be asked of a live stream (stream kind 2).
bool StartPlayRefused(uint32_t positionMs, int32_t streamKind);
inline constexpr const char* kLiveSeekRefusal =
    "Seeking into live streams is not allowed\n> Offset time must = 0";

}  // namespace qor::mms
