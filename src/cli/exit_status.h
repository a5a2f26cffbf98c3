#pragma once
// The exit statuses of qor-cli, one table for every command.

namespace qor::cli {

enum ExitStatus : int {
  kExitCompleted = 0,      // the download completed (or the command did what it was asked)
  kExitFailed = 1,         // the download or the command failed
  kExitUsage = 2,          // bad command line
  kExitClosedEarly = 3,    // the server closed the connection before the end of the stream;
                           // the file was finished
  kExitMissing = 4,        // the download completed, but packets are missing from the file
  kExitInterrupted = 130,  // interrupted (Ctrl-C); the file was finished
};

inline constexpr const char* kExitStatusTable =
    "Exit status:\n"
    "  0    the download completed\n"
    "  1    the download failed\n"
    "  2    usage error (bad command or flag)\n"
    "  3    the stream was cut before its end: closed by the server or stalled (file finished)\n"
    "  4    the download completed, but packets are missing (see the summary)\n"
    "  130  interrupted by Ctrl-C (file finished)\n";

}  // namespace qor::cli
