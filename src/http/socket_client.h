#pragma once
// TSocketClient: one outgoing TCP connection for a caller on the window thread that must not
// block it. Every wait (name lookup, connect, send, receive) sleeps in the window thread's own
// loop, which goes on running its handovers and timers and is woken by the socket, the lookup or
// a stop, under the time-out of the step. A host is looked up in both families and its addresses
// are tried in turn. Failures are raised as ESocketError carrying the text the user is shown.
//
// Disconnect() may be called at any time and from any thread, including from a window timer or an
// event handler that runs inside one of those waits: during an operation it cancels the step that
// runs (the operation then fails with that step's cancel text); otherwise it closes the
// connection. The client must not be destroyed from inside its own operation.

#include <sys/socket.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qor {

class ESocketError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "Socket Error # " and the Windows Sockets number of an errno.
std::string SocketErrorText(int error);

class TSocketClient {
 public:
  static constexpr size_t kTransferBufferSize = 65536;

  TSocketClient();
  virtual ~TSocketClient();
  TSocketClient(const TSocketClient&) = delete;
  TSocketClient& operator=(const TSocketClient&) = delete;

  int32_t Port = 80;
  // Milliseconds each step may wait; 0 waits without limit.
  uint32_t TimeOut = 0;
  // Milliseconds the name lookup and the connection may each take, when they have a limit of
  // their own (0 waits without limit); unset: TimeOut.
  std::optional<uint32_t> ConnectTimeOut;

  std::function<void(TSocketClient* sender)> OnConnect;
  std::function<void(TSocketClient* sender)> OnConnectionFailed;
  std::function<void(bool& handled)> OnInvalidHost;
  // Runs in a wait each time the window thread has served its handovers and timers (at the start
  // of the wait and whenever something woke it). A toolkit front end whose events do not pass
  // through the window thread lets them run here; a window timer keeps it coming.
  std::function<void()> OnWait;

  void Disconnect();
  bool Connected() const;

 protected:
  // Brackets one whole operation of the derived client; only one may run at a time ("Already
  // connected" otherwise). Its end closes the connection.
  class Operation {
   public:
    explicit Operation(TSocketClient& client);
    ~Operation();
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

   private:
    TSocketClient& client_;
  };

  // Resolves host (a dotted address is used as it is) and connects to it at port.
  void Connect(const std::string& host, int32_t port);
  void SendText(const std::string& text);

  enum class LineResult { Line, Closed, TooLong };
  // Reads one line up to and including its line feed into line. A line cut off by the end of the
  // connection is returned without one; Closed when nothing was left. TooLong when the line would
  // pass limit bytes. Timeout or cancel: "Socket readln aborted".
  LineResult ReadLine(std::string& line, size_t limit);
  // Appends the next bytes received (at most max) to out; returns how many, 0 when the server has
  // closed the connection. Timeout or cancel: "Socket capture aborted".
  size_t ReadChunk(std::string& out, size_t max);
  // Closes the connection (abortively, as it was opened); buffered input is dropped.
  void CloseSocket();

 private:
  enum class WaitResult { Ready, TimedOut, Cancelled };
  WaitResult Wait(int fd, short events, int64_t deadline, const std::function<bool()>& done);
  int64_t DeadlineFromNow() const;
  int64_t ConnectDeadlineFromNow() const;
  bool Cancelled() const { return cancel_.load(std::memory_order_acquire); }
  // The addresses of host (a literal is used as it is, brackets and all); none when it has none.
  std::vector<sockaddr_storage> Resolve(const std::string& host);
  // Connects to one address; the failure's text, empty when connected. Cancel throws nothing
  // here: it is the caller's to report.
  std::string ConnectTo(const sockaddr_storage& address, int32_t port);
  [[noreturn]] void FailConnection(const std::string& text);
  // Receives into the transfer buffer: bytes received, 0 at the end, -1 when it would block.
  long Receive(const char* abortText);
  size_t Buffered() const { return end_ - begin_; }

  mutable std::mutex mutex_;  // guards fd_ and busy_ against Disconnect from other threads
  int fd_ = -1;
  bool busy_ = false;
  std::atomic<bool> cancel_{false};
  std::vector<char> buffer_;
  size_t begin_ = 0;
  size_t end_ = 0;
  // Signalled by Disconnect during an operation: a wait sleeping on anything wakes at once.
  int wake_ = -1;
};

}  // namespace qor
