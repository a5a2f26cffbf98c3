#pragma once
// MMS over HTTP streaming for one session: the describe and play requests, the response header
// of each connection (window thread), and the loop that takes the chunks (or a plain file's bytes)
// on the session thread.
//
// A response header decides what its connection's body is (a stream, a plain file, a body to
// sniff, a redirection, a sign-in) and hands that to the loop as a Turn; the loop is in one State
// at a time, changed only by Enter.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "session/http_sign_in.h"
#include "session/session_port.h"
#include "session/session_protocol.h"
#include "session/window_answer.h"
#include "support/http_auth.h"

namespace qor {

class HttpProtocol final : public SessionProtocol {
 public:
  enum class State {
    kChunks,        // the chunks of a stream ($H, $D, $E, $C)
    kHeaderAgain,   // a change came before any packet of this session: its header replaces the
                    // one in the file
    kSniffing,      // the body's first bytes will tell a stream from a plain file
    kProgressive,   // a plain file: every byte goes into the file as it comes
    kTrackChanged,  // the entry changed: the next entry's packets are kept for the next session
    kEnded,         // nothing more is written; the loop waits for the stop
  };

  explicit HttpProtocol(SessionPort& port);

  void Connected() override;
  void ResponseHeader(const std::string& header) override;
  void TcpData(const uint8_t* data, int32_t length) override;
  void Run() override;
  void WakeWaits() override;
  bool EndsWhenAnswered() const override { return describing_.load(std::memory_order_acquire); }

  State CurrentState() const { return state_.load(); }

 private:
  // What a response header asked the loop to do next (set on the window thread).
  enum class Turn { kNone, kRedirect, kSignIn, kSniff, kPlainFile };
  void HandTurn(Turn turn);
  void Enter(State next);

  // ---- Requests (http_protocol.cpp) ----
  void SendDescribeRequest();
  void SendPrerecordedPlayRequest();
  void SendLivePlayRequest();
  // The play request's lines that ask for fast delivery of the clip from start (empty when the
  // server is too old to be asked); says in the log what is asked.
  std::string FastDeliveryLines(uint32_t start);
  // The play answer's header: what it says of the delivery asked for, in the log.
  void ReportFastDelivery(const std::vector<std::string>& lines);
  bool Send(const std::string& request);
  // The server as requests name it, and the next connection to it.
  std::string HostText() const;
  void ConnectAgain();

  // ---- Response headers and signing in (http_response_head.cpp) ----
  // A redirection of the describe request: the target now names where it points. False when that
  // is no place this protocol can go.
  bool FollowRedirection(const std::string& location);
  // True when the header was a redirection or a sign-in request, handed to the loop.
  bool TakeRedirectionOrSignIn(int status, const std::vector<std::string>& lines);
  // A resumed plain file's 206 (continues at the asked byte, or refused) or 416 (complete).
  bool StartRangeAnswer(int status, const std::vector<std::string>& lines);
  // What the body is, by the content type (the last step of a response header).
  void TakeContentType(int status, const std::vector<std::string>& lines);
  // The Authorization line for a request of path (empty without credentials).
  std::string Authorization(const std::string& path);
  // Session thread: asks for credentials and connects again with them; false when the session
  // must end.
  bool SignIn();

  // ---- The loop (http_protocol.cpp) ----
  // Acts on a turn a response header handed over; false when the loop must end.
  bool TakeTurn(Turn turn);
  // Takes the chunks the ring holds; false when the loop must end.
  bool TakeChunks();

  // ---- Chunks (http_chunks.cpp) ----
  // One chunk; false when the loop must end.
  bool HandleChunk();
  bool HandleEndOrChange(uint16_t type);
  bool HandleHeaderChunk(const uint8_t* body, uint16_t length);
  // The first header of the download, from the describe answer: read, and the play request made.
  bool TakeFirstHeader();
  bool HandleDataChunk(uint8_t* body, uint16_t length);
  // After a change: the next entry's data chunks go to the carry-over until the session stops.
  void CarryUntilStopped();
  void UnknownChunk(uint16_t type, uint16_t length);
  // After the end of the stream or a change: nothing more is written or parsed.
  void DrainUntilStopped();

  // ---- Plain files (http_progressive.cpp) ----
  enum class Sniff { Wait, Decided, Fail };
  // Tells a chunked stream from a plain file by the body's first bytes.
  Sniff SniffBody();
  void StartProgressive();
  bool WriteProgressive(const uint8_t* data, int32_t count);
  // mark: the loop's wake mark, taken before it looked at the end of the connection. False when
  // the loop must end.
  bool RunProgressive(uint64_t mark);

  SessionPort& port_;
  std::atomic<State> state_{State::kChunks};
  std::atomic<Turn> turn_{Turn::kNone};
  // The current connection answers the describe request (the server closes it after the header).
  std::atomic<bool> describing_{false};
  // Where requests go: the location, or where a redirection pointed (changed on the window thread
  // before the turn that tells the loop).
  Endpoint target_;
  std::string path_;
  int redirections_ = 0;
  int asks_again_ = 0;  // play requests made again for a header that changed

  HttpSignIn sign_in_;

  // The last response header's lines (window thread).
  std::vector<std::string> header_lines_;
  std::string content_type_;
  // What the server named itself in its last Server header, and whether the play request asked
  // for fast delivery (window thread).
  std::string server_name_;
  bool fast_asked_ = false;

  int64_t progressive_position_ = 0;
  int64_t range_from_ = -1;  // the saved file's length a resumed download asked from
  std::vector<uint8_t> buffer_;
  // The first chunk head, read by the sniff before the loop took the chunk.
  uint8_t sniffed_head_[4] = {};
  bool has_sniffed_head_ = false;
};

}  // namespace qor
