#pragma once
// A settings store in a private folder that every THelper uses for the length of one test.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/settings_store.h"
#include "platform/temp_folder.h"
#include "support/helper.h"

namespace qor {

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store_ = std::make_unique<SettingsStore>(folder_.Path("config"));
    THelper::UseStore(store_.get());
  }
  void TearDown() override { THelper::UseStore(nullptr); }

  std::string Stored(const std::string& name) const {
    return helper_.ReadSetting(kSettingsKeyPath, name);
  }
  void Store(const std::string& name, const std::string& value) {
    helper_.WriteSetting(kSettingsKeyPath, name, value);
  }

  TempFolder folder_;
  std::unique_ptr<SettingsStore> store_;
  THelper helper_;
};

}  // namespace qor
