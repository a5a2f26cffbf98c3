#include "platform/file_handle.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace qor {

static_assert(sizeof(off_t) == 8, "positions beyond 2 GiB need a 64-bit off_t");

namespace {

// Repeats one transfer call until count bytes have moved, retrying interrupted calls. A call
// that moves nothing is the end of the file for reads and a failure (EIO) for writes. Returns the
// bytes moved, or -1 with the error kept in lastError.
template <typename Call>
int64_t TransferAll(size_t count, bool isWrite, int& lastError, Call call) {
  size_t done = 0;
  while (done < count) {
    ssize_t n = call(done);
    if (n < 0) {
      if (errno == EINTR) continue;
      lastError = errno;
      return -1;
    }
    if (n == 0) {
      if (!isWrite) break;
      lastError = EIO;
      return -1;
    }
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

int OpenFlags(FileHandle::Mode mode) {
  switch (mode) {
    case FileHandle::Mode::OpenRead:
      return O_RDONLY;
    case FileHandle::Mode::OpenReadWrite:
      return O_RDWR;
    case FileHandle::Mode::CreateTruncate:
      return O_RDWR | O_CREAT | O_TRUNC;
    case FileHandle::Mode::CreateExclusive:
      return O_RDWR | O_CREAT | O_EXCL;
    case FileHandle::Mode::OpenOrCreate:
      return O_RDWR | O_CREAT;
  }
  return O_RDONLY;
}

}  // namespace

FileHandle::~FileHandle() {
  Close();
}

FileHandle::FileHandle(FileHandle&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), last_error_(other.last_error_) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    last_error_ = other.last_error_;
  }
  return *this;
}

bool FileHandle::Open(const std::string& path, Mode mode) {
  Close();
  int fd;
  do {
    fd = ::open(path.c_str(), OpenFlags(mode) | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    last_error_ = errno;
    return false;
  }
  fd_ = fd;
  last_error_ = 0;
  return true;
}

int64_t FileHandle::Seek(int64_t offset, Whence whence) {
  if (fd_ < 0) {
    last_error_ = EBADF;
    return -1;
  }
  int how = whence == Whence::Begin ? SEEK_SET : whence == Whence::Current ? SEEK_CUR : SEEK_END;
  off_t result = ::lseek(fd_, static_cast<off_t>(offset), how);
  if (result < 0) {
    last_error_ = errno;
    return -1;
  }
  return result;
}

int64_t FileHandle::Position() {
  return Seek(0, Whence::Current);
}

int64_t FileHandle::Size() {
  if (fd_ < 0) {
    last_error_ = EBADF;
    return -1;
  }
  struct stat info {};
  if (::fstat(fd_, &info) != 0) {
    last_error_ = errno;
    return -1;
  }
  return info.st_size;
}

int64_t FileHandle::Read(void* buffer, size_t count) {
  if (fd_ < 0) {
    last_error_ = EBADF;
    return -1;
  }
  auto* out = static_cast<char*>(buffer);
  return TransferAll(count, false, last_error_,
                     [&](size_t done) { return ::read(fd_, out + done, count - done); });
}

bool FileHandle::Write(const void* data, size_t count) {
  if (fd_ < 0) {
    last_error_ = EBADF;
    return false;
  }
  const auto* in = static_cast<const char*>(data);
  return TransferAll(count, true, last_error_,
                     [&](size_t done) { return ::write(fd_, in + done, count - done); }) >= 0;
}

int64_t FileHandle::ReadAt(int64_t offset, void* buffer, size_t count) {
  if (fd_ < 0) {
    last_error_ = EBADF;
    return -1;
  }
  if (offset < 0) {
    last_error_ = EINVAL;
    return -1;
  }
  auto* out = static_cast<char*>(buffer);
  return TransferAll(count, false, last_error_, [&](size_t done) {
    return ::pread(fd_, out + done, count - done, static_cast<off_t>(offset + done));
  });
}

bool FileHandle::WriteAt(int64_t offset, const void* data, size_t count) {
  if (fd_ < 0) {
    last_error_ = EBADF;
    return false;
  }
  if (offset < 0) {
    last_error_ = EINVAL;
    return false;
  }
  const auto* in = static_cast<const char*>(data);
  return TransferAll(count, true, last_error_, [&](size_t done) {
           return ::pwrite(fd_, in + done, count - done, static_cast<off_t>(offset + done));
         }) >= 0;
}

bool FileHandle::Truncate(int64_t length) {
  if (fd_ < 0) {
    last_error_ = EBADF;
    return false;
  }
  int rc;
  do {
    rc = ::ftruncate(fd_, static_cast<off_t>(length));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    last_error_ = errno;
    return false;
  }
  return true;
}

bool FileHandle::Sync() {
  if (fd_ < 0) {
    last_error_ = EBADF;
    return false;
  }
  if (::fsync(fd_) != 0) {
    last_error_ = errno;
    return false;
  }
  return true;
}

void FileHandle::StartWriteback(int64_t offset, int64_t length) {
  if (fd_ < 0 || offset < 0 || length <= 0) return;
  ::sync_file_range(fd_, static_cast<off_t>(offset), static_cast<off_t>(length),
                    SYNC_FILE_RANGE_WRITE);
}

bool FileHandle::Close() {
  if (fd_ < 0) return true;
  // Never retried: on Linux the descriptor is gone even when close reports EINTR, and a retry
  // could close a descriptor another thread has just been given.
  int rc = ::close(std::exchange(fd_, -1));
  if (rc != 0 && errno != EINTR) {
    last_error_ = errno;
    return false;
  }
  return true;
}

}  // namespace qor
