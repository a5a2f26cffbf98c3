#pragma once
// The error numbers our failure texts carry are the Windows Sockets numbers users and server
// operators know ("...10061" for a refused connection), so every errno and resolver failure is
// translated before it is shown.

#include <string>

namespace qor {

constexpr int kWsaMessageTooLong = 10040;  // a datagram did not fit the receive buffer

// Maps a socket errno to its Windows Sockets number (10000 + the BSD value); an errno without a
// socket counterpart is returned unchanged.
int WinsockErrorFromErrno(int error);

// Maps a getaddrinfo result to the numbers a failed host lookup gives on Windows (11001 not found,
// 11002 try again, 11003 unrecoverable, 11004 no address). EAI_SYSTEM maps the errno it leaves.
int WinsockErrorFromResolver(int eaiCode, int savedErrno);

// The number followed by what it means, as failure texts show it: "10061 (connection refused)";
// a number without a known meaning stands alone.
std::string SocketErrorText(int number);

}  // namespace qor
