#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/settings_store.h"
#include "support/helper.h"

namespace qor {
namespace {

class HelperSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "qor-helper-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
  }
  void TearDown() override {
    THelper::UseStore(nullptr);
    std::filesystem::remove_all(folder_);
  }
  std::filesystem::path folder_;
};

TEST_F(HelperSettings, ValuesLiveUnderTheKeyPathWithTheVersion) {
  SettingsStore store((folder_ / "store").string());
  THelper::UseStore(&store);
  THelper helper;
  helper.WriteSetting(kSettingsKeyPath, "AsfDir", "/home/u/media");
  helper.WriteSetting(kSettingsKeyPath, "Authh", "");
  EXPECT_EQ(helper.ReadSetting(kSettingsKeyPath, "AsfDir"), "/home/u/media");
  EXPECT_EQ(store.Read("Software\\Qor\\Qor downloader\\2.3.0", "AsfDir"), "/home/u/media");
  EXPECT_EQ(store.Read("Software\\Qor\\Qor downloader\\", "AsfDir"), "");
  // Another helper sees the same store.
  EXPECT_EQ(THelper().ReadSetting(kSettingsKeyPath, "AsfDir"), "/home/u/media");
}

TEST_F(HelperSettings, MissingValuesReadEmptyAndReadingCreatesNothing) {
  SettingsStore store((folder_ / "never").string());
  THelper::UseStore(&store);
  THelper helper;
  EXPECT_EQ(helper.ReadSetting(kSettingsKeyPath, "ProtoSelected"), "");
  EXPECT_FALSE(std::filesystem::exists(folder_ / "never"));
}

TEST_F(HelperSettings, ListsAndOddTextsComeBackUnchanged) {
  SettingsStore store((folder_ / "store").string());
  THelper::UseStore(&store);
  THelper helper;
  const std::string list = "mms://a/x\r\nhttp://b/y = z\r\n\\\\share\\f.asx";
  helper.WriteSetting(kSettingsKeyPath, "MediaList", list);
  EXPECT_EQ(helper.ReadSetting(kSettingsKeyPath, "MediaList"), list);
}

TEST_F(HelperSettings, WithoutAChosenStoreTheUsersFolderIsUsed) {
  const char* old = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = old ? old : "";
  ASSERT_EQ(::setenv("XDG_CONFIG_HOME", folder_.c_str(), 1), 0);
  THelper::UseStore(nullptr);
  THelper helper;
  helper.WriteSetting(kSettingsKeyPath, "Width", "640");
  const std::string read_back = helper.ReadSetting(kSettingsKeyPath, "Width");
  const std::string direct = SettingsStore((folder_ / "qor").string())
                                 .Read("Software\\Qor\\Qor downloader\\2.3.0", "Width");
  if (old) {
    ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
  EXPECT_EQ(read_back, "640");
  EXPECT_EQ(direct, "640");
}

TEST_F(HelperSettings, AStoreThatCannotBeWrittenRaisesTheSettingsError) {
  const auto blocker = folder_ / "not-a-folder";
  std::ofstream(blocker) << "x";
  SettingsStore store(blocker.string());
  THelper::UseStore(&store);
  THelper helper;
  EXPECT_THROW(helper.WriteSetting(kSettingsKeyPath, "AsfDir", "/x"), SettingsError);
}

}  // namespace
}  // namespace qor
