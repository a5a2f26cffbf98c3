#include "app/location_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qor {

namespace {

// Closes a descriptor on every way out.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

int OpenForReading(const std::string& path) {
  // Non-blocking, so that opening a FIFO by mistake does not hang the window.
  return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
}

}  // namespace

bool CanOpenForReading(const std::string& path) {
  Descriptor fd(OpenForReading(path));
  return fd.get() >= 0;
}

LocalFileRead ReadLocalLocationFile(const std::string& path, std::string& content,
                                    std::string* reason) {
  content.clear();
  const auto fail = [reason](LocalFileRead result, const std::string& why) {
    if (reason != nullptr) *reason = why;
    return result;
  };
  Descriptor fd(OpenForReading(path));
  if (fd.get() < 0) return fail(LocalFileRead::CannotOpen, std::strerror(errno));
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return fail(LocalFileRead::CannotAccess, std::strerror(errno));
  if (!S_ISREG(info.st_mode)) return fail(LocalFileRead::CannotAccess, "not a regular file");
  const off_t size = ::lseek(fd.get(), 0, SEEK_END);
  if (size < 0) return fail(LocalFileRead::CannotAccess, std::strerror(errno));
  if (size > kMaxLocalLocationBytes) {
    return fail(LocalFileRead::CannotAccess, "larger than the 16 MiB a play list may have");
  }
  if (size == 0) return LocalFileRead::Empty;
  if (::lseek(fd.get(), 0, SEEK_SET) != 0) {
    return fail(LocalFileRead::CannotAccess, std::strerror(errno));
  }
  content.resize(static_cast<size_t>(size));
  size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::read(fd.get(), content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const std::string why = std::strerror(errno);
      content.clear();
      return fail(LocalFileRead::CannotAccess, why);
    }
    if (n == 0) break;  // the file shrank meanwhile: what is there is the content
    done += static_cast<size_t>(n);
  }
  content.resize(done);
  return done == 0 ? LocalFileRead::Empty : LocalFileRead::Ok;
}

LocalFileWrite WriteWholeFile(const std::string& path, const std::string& content) {
  Descriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (fd.get() < 0) return LocalFileWrite::CannotCreate;
  size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd.get(), content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return LocalFileWrite::CannotWrite;
    done += static_cast<size_t>(n);
  }
  return fd.Close() ? LocalFileWrite::Ok : LocalFileWrite::CannotWrite;
}

}  // namespace qor
