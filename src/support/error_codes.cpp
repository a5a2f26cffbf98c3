#include "support/error_codes.h"

#include <cstdio>

namespace qor {

namespace {

struct CodeText {
  uint32_t code;
  const char* text;
};

constexpr CodeText kCodeTexts[] = {
    {0x80004001, "Instruction not implemented"},
    {0x80004004, "Cannot open location, operation aborted"},
    {0x80004005, "Failed to open a file"},
    {0x8000FFFF, "Catastrophic failure. The server has failed"},
    {0x8002000B, "Invalid Index, please check offset time"},
    {0x80040200, "Unable to download the appropriate decompressor"},
    {0x8004022F, "Invalid file format"},
    {0x80070001, "An incorrect function was requested"},
    {0x80070002, "The system cannot find the file specified"},
    {0x80070003, "The system cannot find the path specified"},
    {0x80070004, "The system cannot open the file"},
    {0x80070005, "You do not have access to the location or file"},
    {0x80070008, "Not enough storage is available to process this command"},
    {0x8007000D, "The data is invalid"},
    {0x8007000E, "Not enough storage to complete this operation"},
    {0x80070017, "Data error (cyclic redundancy check failed)"},
    {0x80070019, "The drive cannot seek to the specified area or track"},
    {0x80070040, "The specified network name is no longer available"},
    {0x80070043, "Please verify that the server path and filename are correct"},
    {0x80070057, "A parameter in the location given is incorrect"},
    {0x800C0005, "The server or proxy was not found"},
    {0x800C000D, "Protocol unknown, no match found"},
    {0xC00D0005, "No connection to establish windows media server"},
    {0xC00D0006, "Server is busy or unable to establish connection, try again later"},
    {0xC00D000E, "The network is busy, try again later"},
    {0xC00D000F, "Too many connected sessions to server"},
    {0xC00D0010, "The network connection already exists"},
    {0xC00D0012, "No protocol version match found between the server and client"},
    {0xC00D0013, "There was no timely response from the server"},
    {0xC00D0015, "Error reading from network"},
    {0xC00D0017, "Error reading from disk"},
    {0xC00D0019, "Error reading from file"},
    {0xC00D001A, "File not found"},
    {0xC00D001D, "Failed to open a file"},
    {0xC00D001E, "Unabled to allocate a file"},
    {0xC00D001F, "Unabled to initialize a file"},
    {0xC00D0026, "The specified stream type is not recognised"},
    {0xC00D0029, "The network has failed - connection lost"},
    {0xC00D002A, "The session is being terminated locally"},
    {0xC00D002B, "The filename or its streaming parameters are incorrect"},
    {0xC00D002C, "The server bandwidth has exceeded its limit"},
    {0xC00D002E, "An operation or request could not be carried out on schedule"},
    {0xC00D002F, "Invalid or corrupt data was encountered"},
    {0xC00D0030, "The maximum server file bitrate allowed was exceeded"},
    {0xC00D0031, "The client cannot have any more files open simultaneously"},
    {0xC00D0032, "The server received invalid data from the client on the control connection"},
    {0xC00D0034, "There is no more data in the stream"},
    {0xC00D0035, "The specified server could not be found"},
    {0xC00D0047, "Cannot exceed the maximum bandwidth limit"},
    {0xC00D07D1, "The supplied input/output buffer was too small"},
    {0xC00D07E2, "The specified stream type is not recognised"},
    {0xC00D0BBE, "You need a licence to perform the requested operation on this media file"},
    {0xC00D1199, "Cannot play or receive the file. The file type may be invalid"},
    {0xC00D11B3, "The server encountered a network error"},
    {0xC00D11BD, "The selected protocol is not supported by this server"},
    {0xC00D151D, "Service unavailable, try some other time"},
    {0xC00D157F, "Unknown error, but it was detected"},
    {0xC00D2EE2, "There was a server internal error"},
};

// WinSock errors 10001 to 11004 arrive as operating-system result codes.
constexpr uint32_t kFirstWinSockCode = 0x80072711;
constexpr uint32_t kLastWinSockCode = 0x80072AFC;
constexpr uint32_t kRefusedCode = 0xFFFFB003;

}  // namespace

std::string TErrorCodeHandler::GetErrorText(uint32_t code) const {
  if (code >= kFirstWinSockCode && code <= kLastWinSockCode) {
    return "Error encountered in WinSock, code = " + std::to_string(code & 0xFFFF);
  }
  for (const CodeText& entry : kCodeTexts) {
    if (entry.code == code) return entry.text;
  }
  if (code == kRefusedCode) {
    return "The server is refusing to connect.\n"
           "This could possibly be caused by a server that requires\n"
           "another open client port or a player plugin to be installed.";
  }
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%04X", static_cast<unsigned>(code));
  return std::string("\n ### Unknown server error code ###\n") +
         "Please report this number to Qor:\n" + hex;
}

}  // namespace qor
