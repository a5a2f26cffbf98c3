#pragma once
// An owned file descriptor with 64-bit positions. "No file" is a handle that is not open, never
// descriptor 0. Descriptors are close-on-exec.

#include <cstddef>
#include <cstdint>
#include <string>

namespace qor {

class FileHandle {
 public:
  enum class Mode {
    OpenRead,         // existing file, read only
    OpenReadWrite,    // existing file, read and write (shared: others may read and write too)
    CreateTruncate,   // create or empty, read and write
    CreateExclusive,  // create; fails with EEXIST when it is there
    OpenOrCreate      // read and write; created when missing, kept when present
  };
  enum class Whence { Begin, Current, End };

  FileHandle() = default;
  ~FileHandle();
  FileHandle(FileHandle&& other) noexcept;
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  // Opens (closing any file held). On failure returns false and keeps errno in LastError().
  bool Open(const std::string& path, Mode mode);
  bool IsOpen() const { return fd_ >= 0; }
  int Descriptor() const { return fd_; }
  int LastError() const { return last_error_; }

  // New position, or -1 on failure.
  int64_t Seek(int64_t offset, Whence whence = Whence::Begin);
  int64_t Position();
  // Current length in bytes, or -1.
  int64_t Size();

  // From the current position: reads up to count bytes, returns how many (0 at the end, -1 on
  // failure); interrupted and short reads are retried until count or the end.
  int64_t Read(void* buffer, size_t count);
  // Writes all count bytes at the current position or fails (false).
  bool Write(const void* data, size_t count);
  // Positional forms: the file position is not used and not moved.
  int64_t ReadAt(int64_t offset, void* buffer, size_t count);
  bool WriteAt(int64_t offset, const void* data, size_t count);
  bool Truncate(int64_t length);
  bool Sync();
  // Asks the system to start writing [offset, offset + length) to the disk without waiting for
  // it; a hint, so nothing is reported.
  void StartWriteback(int64_t offset, int64_t length);
  // Closes; false when the close reported an error. A closed handle stays closed.
  bool Close();

 private:
  int fd_ = -1;
  int last_error_ = 0;
};

}  // namespace qor
