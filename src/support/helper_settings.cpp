// Settings go to the per-user store under the caller's key path plus the version, so that
// settings of different versions never mix.

#include <algorithm>
#include <atomic>
#include <string>

#include "platform/settings_store.h"
#include "support/helper.h"

namespace qor {

namespace {

std::atomic<SettingsStore*> g_store{nullptr};
std::atomic<const std::vector<std::string>*> g_writable{nullptr};

}  // namespace

void THelper::UseStore(SettingsStore* store) {
  g_store.store(store, std::memory_order_release);
}

std::string THelper::ReadSetting(const std::string& keyPath, const std::string& name) const {
  const std::string key = keyPath + kVersionText;
  if (SettingsStore* store = g_store.load(std::memory_order_acquire)) return store->Read(key, name);
  // A fresh handle per call: a change of the user's configuration folder is seen at once.
  return SettingsStore().Read(key, name);
}

std::string THelper::SettingsFile() {
  if (SettingsStore* store = g_store.load(std::memory_order_acquire)) return store->FilePath();
  return SettingsStore().FilePath();
}

void THelper::AllowWritesOnly(const std::vector<std::string>* names) {
  g_writable.store(names, std::memory_order_release);
}

void THelper::WriteSetting(const std::string& keyPath, const std::string& name,
                           const std::string& value) {
  if (const auto* writable = g_writable.load(std::memory_order_acquire)) {
    if (std::find(writable->begin(), writable->end(), name) == writable->end()) return;
  }
  const std::string key = keyPath + kVersionText;
  if (SettingsStore* store = g_store.load(std::memory_order_acquire)) {
    store->Write(key, name, value);
    return;
  }
  SettingsStore().Write(key, name, value);
}

}  // namespace qor
