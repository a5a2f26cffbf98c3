#pragma once
// What a running session shows: the counters its protocol and its transport handlers move as the
// stream goes (SessionCounters, written on the session and window threads), and the copy the
// window takes of them to draw a moment of it (SessionStatus).

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace qor {

// The four texts of the MMS connected reply.
struct MmsServerTexts {
  std::string ServerVersion;
  std::string ToolVersion;
  std::string UpdateUrl;
  std::string EncryptionType;
};

// A copy of the counters, taken at one moment.
struct SessionStatus {
  int32_t StreamKind = 0;
  uint32_t HeaderLength = 0;
  uint32_t PacketSize = 0;
  int32_t PacketNumber = 0;
  uint32_t SendTime = 0;
  uint32_t RecoveredPackets = 0;
  uint32_t LostPackets = 0;
  uint32_t Acknowledgements = 0;
  uint32_t ClientId = 0;  // the 4 bytes of the funnel reply, little-endian
  uint32_t MaxStreamRate = 0;
  uint32_t ProxyInUse = 0;
  uint32_t Progressive = 0;
  int32_t LocalPort = 0;
  // Media has arrived (the session reached streaming).
  bool MediaArrived = false;
  // The server closed the connection, or stopped sending, after media had begun: the failure
  // ends a download whose file holds what arrived.
  bool StreamCut = false;
};

struct SessionCounters {
  std::atomic<int32_t> StreamKind{0};
  std::atomic<uint32_t> HeaderLength{0};
  std::atomic<uint32_t> PacketSize{0};
  std::atomic<int32_t> PacketNumber{0};
  std::atomic<uint32_t> SendTime{0};
  std::atomic<uint32_t> RecoveredPackets{0};
  std::atomic<uint32_t> LostPackets{0};
  std::atomic<uint32_t> Acknowledgements{0};
  std::atomic<uint32_t> ClientId{0};
  std::atomic<uint32_t> MaxStreamRate{0};
  std::atomic<uint32_t> ProxyInUse{0};
  std::atomic<uint32_t> Progressive{0};
  std::atomic<int32_t> LocalPort{0};
  std::atomic<bool> StreamCut{false};
  // Bytes and receives since the rate graph last took them.
  std::atomic<uint32_t> BytesSinceTick{0};
  std::atomic<uint32_t> ReceivesSinceTick{0};

  void Reset();
  // The counters, with whether media has arrived (known to the stage watch, not kept here).
  SessionStatus Snapshot(bool mediaArrived) const;

  // Written by the session thread while the window may read them (media information dialog).
  MmsServerTexts GetServerTexts() const;
  void SetServerTexts(const MmsServerTexts& texts);

 private:
  mutable std::mutex texts_mutex_;
  MmsServerTexts server_texts_;
};

}  // namespace qor
