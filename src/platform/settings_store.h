#pragma once
// The per-user settings store: string values under key paths such as
// "Software\Qor\Qor downloader\2.3.0". Kept in one file under $XDG_CONFIG_HOME/qor/ (default
// ~/.config/qor/), values escaped, written atomically under a lock with mode 0600 in a 0700
// folder. Reading never creates anything.

#include <functional>
#include <map>
#include <stdexcept>
#include <string>

namespace qor {

// Raised when the store cannot be read or written (the caller shows it like the framework's
// registry error).
class SettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class SettingsStore {
 public:
  // The store in its default place; tests pass their own folder.
  SettingsStore();
  explicit SettingsStore(std::string directory);

  // The empty text for a missing store, key or value. A store that exists but cannot be read
  // raises SettingsError; so does any failure to write. Both are safe from several threads and
  // programs at once: writes are serialised by a lock file, reads see a whole old or new file.
  std::string Read(const std::string& keyPath, const std::string& name) const;
  void Write(const std::string& keyPath, const std::string& name, const std::string& value);
  const std::string& Directory() const { return directory_; }
  std::string FilePath() const;

 private:
  std::string directory_;
};

// Receives the store's warnings (a settings file with lines that cannot be read, and where it was
// kept aside); the window posts them to its log. Without one they go to stderr. Any thread.
void SetSettingsWarningSink(std::function<void(const std::string& text)> sink);

// Where the default store lives: $XDG_CONFIG_HOME/qor, else $HOME/.config/qor, else the
// account's home from the user database; empty when there is no home at all (a store there
// reads as empty and fails to write).
std::string DefaultSettingsDirectory();

}  // namespace qor
