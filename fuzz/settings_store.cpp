// Any bytes as the settings file on disk, read and then written through the store the programs
// use: a value read is the one the file holds, and a write keeps every value that could be read
// while setting the new one (a file with unreadable lines is kept aside, never lost).

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/settings_format.h"
#include "platform/settings_store.h"

namespace {

// Values of the file read back through the store before the write (plus the last one).
constexpr size_t kSampled = 4;

void Check(bool condition) {
  if (!condition) std::abort();
}

bool Same(const std::string& a, const std::string& b) {
  return !qor::CaseInsensitiveLess{}(a, b) && !qor::CaseInsensitiveLess{}(b, a);
}

void Empty(const std::string& directory) {
  if (DIR* dir = ::opendir(directory.c_str())) {
    while (dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") ::unlink((directory + "/" + name).c_str());
    }
    ::closedir(dir);
  }
}

// libFuzzer leaves without running exit handlers, so each run removes the folders of runs that
// have ended instead (the process id is in the name).
void RemoveEndedRuns(const std::string& parent) {
  DIR* dir = ::opendir(parent.c_str());
  if (dir == nullptr) return;
  const std::string prefix = "qor-fuzz-settings-";
  while (dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.rfind(prefix, 0) != 0) continue;
    const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
    if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
      Empty(parent + "/" + name);
      ::rmdir((parent + "/" + name).c_str());
    }
  }
  ::closedir(dir);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string directory = [] {
    // In memory where there is a tmpfs: the store syncs every write, which a disk makes slow.
    struct stat info {};
    const std::string parent = ::stat("/dev/shm", &info) == 0 ? "/dev/shm" : "/tmp";
    RemoveEndedRuns(parent);
    std::string made = parent + "/qor-fuzz-settings-" + std::to_string(::getpid());
    if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST) std::abort();
    qor::SetSettingsWarningSink([](const std::string&) {});
    return made;
  }();
  Empty(directory);
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const qor::SettingsStore store(directory);
  {
    FILE* file = std::fopen(store.FilePath().c_str(), "wb");
    if (file == nullptr) std::abort();
    if (size != 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);
  }
  const qor::ParsedSettings parsed = qor::ParseSettings(text);
  // Every Read parses the whole file again, so reading each value back would make a run cost the
  // square of the file; a few spread over the file reach the same code. The rewritten file is
  // then checked whole, below, with one parse.
  std::vector<std::pair<const std::string*, const std::string*>> all;
  for (const auto& [key, values] : parsed.keys) {
    for (const auto& [name, value] : values) all.emplace_back(&key, &name);
  }
  for (size_t i = 0; i < all.size(); i += all.size() / kSampled + 1) {
    const auto& [key, name] = all[i];
    Check(store.Read(*key, *name) == parsed.keys.at(*key).at(*name));
  }
  if (!all.empty()) {
    const auto& [key, name] = all.back();
    Check(store.Read(*key, *name) == parsed.keys.at(*key).at(*name));
  }

  qor::SettingsStore writer(directory);
  const std::string key = "Software\\Qor\\Qor downloader\\2.3.0";
  const std::string value(text.substr(0, 64));
  writer.Write(key, "URLList", value);
  Check(writer.Read(key, "URLList") == value);
  std::string written;
  {
    FILE* file = std::fopen(writer.FilePath().c_str(), "rb");
    if (file == nullptr) std::abort();
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) written.append(buffer, n);
    std::fclose(file);
  }
  const qor::ParsedSettings after = qor::ParseSettings(written);
  Check(after.badLines == 0);
  for (const auto& [otherKey, values] : parsed.keys) {
    for (const auto& [name, old] : values) {
      // Key paths and names match without regard to case, as in the store.
      if (Same(qor::NormaliseKeyPath(otherKey), qor::NormaliseKeyPath(key)) &&
          Same(name, "URLList")) {
        continue;
      }
      // Read's own lookup: the normalised key path, then the name.
      const auto kept = after.keys.find(qor::NormaliseKeyPath(otherKey));
      Check(kept != after.keys.end());
      const auto found = kept->second.find(name);
      Check(found != kept->second.end() && found->second == old);
    }
  }
  return 0;
}
