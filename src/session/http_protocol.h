#pragma once
// MMS over HTTP streaming for one session: the three requests, the response header parse and the
// chunk loop that the session thread runs.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "session/window_answer.h"
#include "support/http_auth.h"

namespace qor {

class TMMS;

class HttpProtocol {
 public:
  explicit HttpProtocol(TMMS& session);

  void InitFields();
  // Window thread, from TcpConnected: the request that fits the stream kind.
  void SendRequest();
  // Window thread: a whole response header (up to and including its blank line).
  void ParseResponseHeader(const std::string& header);
  // Session thread.
  void RunHttpLoop();

  uint32_t FirstSequence() const { return first_sequence_; }

  // A 401: shows the HTTP password dialog on the window thread for the site ("host:port") and
  // realm the server names and returns the user id and password, or nothing when the user
  // declined. Without one, a 401 ends the session.
  using CredentialsPrompt = std::function<std::optional<std::pair<std::string, std::string>>(
      const std::string& site, const std::string& realm)>;
  CredentialsPrompt AskCredentials;
  // Window thread: the server answered the credentials given (true: it took them).
  std::function<void(bool accepted)> CredentialsAnswered;

 // Any thread: wakes the wait for the answer to a sign-in request, so it looks at the stop
  // request.
  void WakeWaits();

 private:
  // Of a sign-in request: user and password, or nothing when the user declined.
  WindowAnswer<std::optional<std::pair<std::string, std::string>>> credentials_answer_;

  void SendDescribeRequest();
  void SendPrerecordedPlayRequest();
  void SendLivePlayRequest();
  bool Send(const std::string& request);

  // A redirection of the describe request: the session's host, port and path now name where
  // it points. False when that is no place this protocol can go.
  bool FollowRedirection(const std::string& location);
  enum class Sniff { Wait, Decided, Fail };
  // Tells a chunked stream from a plain file by the body's first bytes.
  Sniff SniffBody();
  bool WriteProgressive(const uint8_t* data, int32_t count);
  // False when the loop must end.
  // mark: the loop's WakeMark, taken before it looked at the end of the connection.
  bool RunProgressive(uint64_t mark);
  // A resumed plain file's 206 (continues at the asked byte, or refused) or 416 (complete).
  bool StartRangeAnswer(int status);
  // One chunk; false when the loop must end.
  bool HandleChunk();
  bool HandleHeaderChunk(const uint8_t* body, uint16_t length);
  // A new header for the file being written: parsed into the session's model, and the layout
  // follows it. False (posted, the session ends) when it cannot be read.
  bool AdoptHeader(uint32_t headerLength);
  bool HandleDataChunk(uint8_t* body, uint16_t length);
  // Writes one media packet (the payload after the chunk's extension; body is what a failure
  // dumps); false when the session must end.
  bool WritePacket(uint8_t* payload, size_t length, uint32_t locationId, const uint8_t* body,
                   size_t bodyLength);
  // As in the MMS loop: a session started by a change of entry drops the ended entry's packets
  // and starts its file with the next entry's packets the previous session kept.
  bool TakeCarriedPackets(uint32_t locationId, bool& ours);
  // After a change: the next entry's data chunks go to the carry-over until the session stops.
  void CarryUntilStopped();
  void UnknownChunk(uint16_t type, uint16_t length);
  // After the end of the stream or a change: nothing more is written or parsed.
  void DrainUntilStopped();

  // The Authorization line for a request of path (empty without credentials).
  std::string Authorization(const std::string& path);
  // Session thread: asks for credentials and connects again with them; false when the session
  // must end.
  bool SignIn();

  TMMS& session_;
  // Signing in: the challenge the server sent (set on the window thread with sign_in_pending_),
  // the credentials the user gave and how many requests went out with the challenge's nonce.
  std::atomic<bool> sign_in_pending_{false};
  AuthChallenge challenge_;
  std::string realm_;
  std::string user_, password_;
  bool signed_in_ = false;      // credentials were given; a second 401 means they are wrong
  bool answer_reported_ = false;
  uint32_t nonce_count_ = 0;
  std::string cnonce_;
  uint32_t first_sequence_ = 0;
  uint32_t first_timecode_ = 0;
  uint32_t last_time_ = 0;  // a packet whose time cannot be read keeps the one before
  bool seen_first_data_ = false;
  bool ended_ = false;
  bool track_changed_ = false;
  bool carry_checked_ = false;
  bool replacing_header_ = false;  // the header after an ignored change replaces the file's
  uint32_t highest_location_ = 0;
  bool wrote_media_ = false;  // a media packet of this download reached the save file
  int64_t progressive_position_ = 0;
  int64_t range_from_ = -1;  // the saved file's length a resumed download asked from
  std::vector<uint8_t> buffer_;
  // Set on the window thread by the response header, acted on by the loop.
  std::atomic<bool> sniffing_{false};
  std::atomic<bool> redirect_pending_{false};
  int redirections_ = 0;
  // The first chunk head, read by the sniff before the loop took the chunk.
  uint8_t sniffed_head_[4] = {};
  bool has_sniffed_head_ = false;
};

}  // namespace qor
