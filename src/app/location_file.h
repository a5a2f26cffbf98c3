#pragma once
// Reading and writing the local files of location loading: a play list opened from disk (bounded,
// so a huge or endless file cannot be taken in whole) and a fetched play list saved for later.

#include <cstdint>
#include <string>

namespace qor {

// The largest local location file that is read.
inline constexpr int64_t kMaxLocalLocationBytes = 16 * 1024 * 1024;

enum class LocalFileRead {
  Ok,
  CannotOpen,    // missing, unreadable
  CannotAccess,  // not a plain file, too large, or reading failed
  Empty,
};

// Whether path can be opened for reading (a FIFO is not waited on).
bool CanOpenForReading(const std::string& path);
// Reads a whole local location file into content. On a failure, reason (when given) says why in
// words a user can act on.
LocalFileRead ReadLocalLocationFile(const std::string& path, std::string& content,
                                    std::string* reason = nullptr);

enum class LocalFileWrite { Ok, CannotCreate, CannotWrite };
// Creates (or truncates) path and writes content unchanged; the file is closed on every path.
LocalFileWrite WriteWholeFile(const std::string& path, const std::string& content);

}  // namespace qor
