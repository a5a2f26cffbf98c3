#include "platform/settings_store.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "platform/file_handle.h"
#include "platform/settings_format.h"

namespace qor {

namespace {

std::mutex g_warning_mutex;
std::function<void(const std::string&)> g_warning_sink;
// Files already reported as holding bad lines: a read happens for every value.
std::set<std::string> g_reported_files;

void Warn(const std::string& text) {
  std::function<void(const std::string&)> sink;
  {
    std::lock_guard<std::mutex> lock(g_warning_mutex);
    sink = g_warning_sink;
  }
  if (sink) {
    sink(text);
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
}

// True the first time for each file.
bool FirstReportOf(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_warning_mutex);
  return g_reported_files.insert(path).second;
}

constexpr const char* kFileName = "settings.conf";
constexpr const char* kLockName = "settings.lock";

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
  throw SettingsError("Qor settings: " + what + " " + path + ": " + std::strerror(error));
}

// The whole file; false when there is none.
bool ReadWholeFile(const std::string& path, std::string& out) {
  FileHandle file;
  if (!file.Open(path, FileHandle::Mode::OpenRead)) {
    if (file.LastError() == ENOENT || file.LastError() == ENOTDIR) return false;
    Fail("cannot read", path, file.LastError());
  }
  out.clear();
  char buffer[8192];
  for (;;) {
    int64_t n = file.Read(buffer, sizeof buffer);
    if (n < 0) Fail("cannot read", path, file.LastError());
    if (n == 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  return true;
}

// Creates the folder and any missing parent, each private to the user.
void MakeDirectories(const std::string& directory) {
  struct stat info {};
  if (::stat(directory.c_str(), &info) == 0) {
    if (!S_ISDIR(info.st_mode)) Fail("not a folder:", directory, ENOTDIR);
    return;
  }
  if (errno != ENOENT) Fail("cannot reach", directory, errno);
  size_t slash = directory.find_last_of('/');
  if (slash != std::string::npos && slash > 0) MakeDirectories(directory.substr(0, slash));
  if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
    Fail("cannot create the folder", directory, errno);
  }
  ::chmod(directory.c_str(), 0700);  // whatever the umask said
}

class LockFile {
 public:
  explicit LockFile(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) Fail("cannot write in", path, errno);
    int rc;
    do {
      rc = ::flock(fd_, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      int error = errno;
      ::close(fd_);
      Fail("cannot lock", path, error);
    }
  }
  ~LockFile() { ::close(fd_); }  // closing releases the lock
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

 private:
  int fd_ = -1;
};

// A name beside the store for a file we could not understand, so nothing is lost silently.
std::string CorruptName(const std::string& directory) {
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
  std::string base = directory + "/settings.corrupt-" + stamp;
  std::string name = base;
  struct stat info {};
  for (int n = 2; ::lstat(name.c_str(), &info) == 0; ++n) name = base + "-" + std::to_string(n);
  return name;
}

void SyncDirectory(const std::string& directory) {
  int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

bool WriteAll(int fd, const std::string& content) {
  size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

void ReplaceAtomically(const std::string& directory, const std::string& target,
                       const std::string& content) {
  std::string temp = directory + "/.settings.conf.XXXXXX";
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) Fail("cannot write in", directory, errno);
  // mkostemp already gives 0600; made explicit because the store holds saved passwords.
  bool ok = ::fchmod(fd, 0600) == 0 && WriteAll(fd, content) && ::fsync(fd) == 0;
  int error = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    Fail("cannot write", target, error);
  }
  SyncDirectory(directory);
}

}  // namespace

std::string DefaultSettingsDirectory() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  // A relative value is invalid by the base-directory rules and is ignored.
  if (config != nullptr && config[0] == '/') return std::string(config) + "/qor";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return std::string(home) + "/.config/qor";
  // No HOME (a service or a cron job): the account's home from the user database.
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] != '\0') {
    return std::string(found->pw_dir) + "/.config/qor";
  }
  return std::string();  // no place at all: reads find nothing, writes fail
}

void SetSettingsWarningSink(std::function<void(const std::string& text)> sink) {
  std::lock_guard<std::mutex> lock(g_warning_mutex);
  g_warning_sink = std::move(sink);
}

SettingsStore::SettingsStore() : directory_(DefaultSettingsDirectory()) {}

SettingsStore::SettingsStore(std::string directory) : directory_(std::move(directory)) {}

std::string SettingsStore::FilePath() const {
  return directory_ + "/" + kFileName;
}

std::string SettingsStore::Read(const std::string& keyPath, const std::string& name) const {
  if (directory_.empty()) return std::string();
  std::string text;
  if (!ReadWholeFile(FilePath(), text)) return std::string();
  ParsedSettings parsed = ParseSettings(text);
  if (parsed.badLines > 0 && FirstReportOf(FilePath())) {
    Warn("Qor settings: " + std::to_string(parsed.badLines) + " line(s) of " + FilePath() +
         " cannot be read and are ignored; the file is kept aside when settings are next saved");
  }
  auto key = parsed.keys.find(NormaliseKeyPath(keyPath));
  if (key == parsed.keys.end()) return std::string();
  auto value = key->second.find(name);
  return value == key->second.end() ? std::string() : value->second;
}

void SettingsStore::Write(const std::string& keyPath, const std::string& name,
                          const std::string& value) {
  if (directory_.empty()) {
    throw SettingsError("Qor settings: no home folder to keep the settings in");
  }
  MakeDirectories(directory_);
  LockFile lock(directory_ + "/" + kLockName);
  std::string path = FilePath();
  std::string text;
  bool exists = ReadWholeFile(path, text);
  ParsedSettings parsed = ParseSettings(text);
  std::string& slot = parsed.keys[NormaliseKeyPath(keyPath)][name];
  if (exists && parsed.badLines == 0 && slot == value) return;
  slot = value;
  if (parsed.badLines > 0) {
    // Keep what we could not read; the rewrite below carries only the lines that parsed.
    std::string aside = CorruptName(directory_);
    if (::rename(path.c_str(), aside.c_str()) != 0) Fail("cannot keep aside", path, errno);
    Warn("Qor settings: " + path + " held lines that cannot be read; it was kept as " + aside +
         " and written again with the rest");
  }
  ReplaceAtomically(directory_, path, SerialiseSettings(parsed.keys));
}

}  // namespace qor
