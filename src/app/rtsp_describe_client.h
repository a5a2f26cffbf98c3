#pragma once
// TRtspDescribeClient: asks an RTSP server what it describes at a location (a DESCRIBE alone, as a
// recording starts), for a front end that lists a title's streams before it records. Synchronous
// for its caller, it keeps the window thread serving while it waits (TSocketClient), follows
// redirections (at most kMaxRedirections) and answers one 401 with the credentials given (Basic
// or Digest). Failures are raised as ESocketError; a refusal is no failure: Status says it.

#include <cstdint>
#include <string>

#include "http/socket_client.h"
#include "session/rtsp_message.h"
#include "session/rtsp_sdp.h"

namespace qor {

class TRtspDescribeClient : public TSocketClient {
 public:
  static constexpr int kMaxRedirections = 10;
  static constexpr int32_t kStandardPort = 554;

  std::string User, Password;
  std::string ClientGuid = "{3300AD50-2C39-46C0-AE0A-00000000D0C1}";

  // The answer to the last DESCRIBE, and its description when it was 200 with a readable one
  // (why says what was wrong with it otherwise).
  RtspMessage Answer;
  SdpDescription Description;
  bool Described = false;
  std::string Why;

  void Describe(const std::string& url);

 private:
  // Reads one message (the server's answer) from the connection.
  RtspMessage ReadMessage();
};

}  // namespace qor
