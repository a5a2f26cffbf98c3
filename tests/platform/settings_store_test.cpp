#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/settings_format.h"
#include "platform/settings_store.h"
#include "temp_folder.h"

namespace qor {
namespace {

const std::string kKey = "Software\\Qor\\Qor downloader\\2.3.0";

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void Spill(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::set<std::string> Entries(const std::string& directory) {
  std::set<std::string> names;
  if (DIR* dir = opendir(directory.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.insert(name);
    }
    closedir(dir);
  }
  return names;
}

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

// Permissions mean nothing to a privileged user (root reads and writes anyway).
bool PermissionsAreEnforced(const std::string& lockedPath, int mode) {
  return access(lockedPath.c_str(), mode) != 0;
}

TEST(SettingsStoreTest, AwkwardValuesAndNamesRoundTrip) {
  TempFolder folder;
  SettingsStore store(folder.Path("qor"));
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"URLList", "mms://one/a\r\nmms://two/b\r\n"},
      {"Equals", "a=b==c"},
      {"Percent", "100% %41 %"},
      {"Newlines", "\n\nline\n"},
      {"NonAscii",
       "Gr\xC3\xBC\xC3\x9F"
       "e \xFF\xFE\x80"},
      {"Nul", std::string("a\0b", 3)},
      {"Spaces", "  padded  "},
      {"LooksLikeSyntax", "[not a key]"},
      {"Hash", "# not a comment"},
      {"Empty", ""},
      {"name=with equals", "v1"},
      {"[bracketed]", "v2"},
      {"#hashed", "v3"},
      {"", "default value"},
      {"Tab\tand\x01control", "v4"},
  };
  for (const auto& [name, value] : cases) store.Write(kKey, name, value);
  store.Write("Software\\Qor\\Other", "Equals", "other key");
  SettingsStore reader(folder.Path("qor"));
  for (const auto& [name, value] : cases) EXPECT_EQ(reader.Read(kKey, name), value) << name;
  EXPECT_EQ(reader.Read("Software\\Qor\\Other", "Equals"), "other key");
  // Every stored line stays one line: nothing written can break the file's structure.
  std::string text = Slurp(store.FilePath());
  EXPECT_EQ(ParseSettings(text).badLines, 0);
}

TEST(SettingsStoreTest, OverwriteCaseAndKeyPathSpelling) {
  TempFolder folder;
  SettingsStore store(folder.Path("qor"));
  store.Write(kKey, "AsfDir", "/first");
  store.Write(kKey, "AsfDir", "/second");
  EXPECT_EQ(store.Read(kKey, "AsfDir"), "/second");
  EXPECT_EQ(store.Read("software\\qor\\QOR DOWNLOADER\\2.3.0", "asfdir"), "/second");
  EXPECT_EQ(store.Read(kKey + "\\", "AsfDir"), "/second");
  EXPECT_EQ(store.Read(kKey, "Missing"), "");
  EXPECT_EQ(store.Read("Software\\Qor\\Missing", "AsfDir"), "");
  store.Write(kKey, "ASFDIR", "/third");  // same value name in another case
  EXPECT_EQ(store.Read(kKey, "AsfDir"), "/third");
}

TEST(SettingsStoreTest, MissingStoreReadsEmptyAndCreatesNothing) {
  TempFolder folder;
  std::string directory = folder.Path("not/yet/there");
  SettingsStore store(directory);
  EXPECT_EQ(store.Read(kKey, "AsfDir"), "");
  EXPECT_EQ(Entries(folder.Path()), std::set<std::string>{});
  mkdir(folder.Path("e").c_str(), 0700);
  Spill(folder.Path("e/settings.conf"), "");
  SettingsStore emptyStore(folder.Path("e"));
  EXPECT_EQ(emptyStore.Read(kKey, "AsfDir"), "");
  emptyStore.Write(kKey, "AsfDir", "/x");
  EXPECT_EQ(emptyStore.Read(kKey, "AsfDir"), "/x");
}

TEST(SettingsStoreTest, CreatesPrivateFolderAndFileWithoutLeftovers) {
  TempFolder folder;
  std::string directory = folder.Path("config/qor");
  mode_t oldMask = umask(0);  // even a permissive umask must not widen them
  SettingsStore store(directory);
  store.Write(kKey, "Authh", "c2VjcmV0");
  umask(oldMask);
  EXPECT_EQ(ModeOf(directory), 0700u);
  EXPECT_EQ(ModeOf(folder.Path("config")), 0700u);
  EXPECT_EQ(ModeOf(store.FilePath()), 0600u);
  store.Write(kKey, "Authm", "other");
  EXPECT_EQ(ModeOf(store.FilePath()), 0600u);
  EXPECT_EQ(Entries(directory), (std::set<std::string>{"settings.conf", "settings.lock"}));
}

TEST(SettingsStoreTest, CorruptFileIsKeptAsideAndItsGoodLinesSurvive) {
  TempFolder folder;
  std::string directory = folder.Path("qor");
  mkdir(directory.c_str(), 0700);
  const std::string original = "[" + kKey + "]\nAsfDir=/kept\nthis line has no equals sign\n" +
                               "Port=%ZZ\n[Software\\Broken\nOrphan=1\n[" + kKey +
                               "\\Sub]\nName=sub value";
  Spill(directory + "/settings.conf", original);
  std::vector<std::string> warnings;
  SetSettingsWarningSink([&](const std::string& text) { warnings.push_back(text); });
  SettingsStore store(directory);
  EXPECT_EQ(store.Read(kKey, "AsfDir"), "/kept");
  EXPECT_EQ(store.Read(kKey + "\\Sub", "Name"), "sub value");
  EXPECT_EQ(store.Read(kKey, "Port"), "");
  EXPECT_EQ(Entries(directory), std::set<std::string>{"settings.conf"});  // reading kept it as is

  store.Write(kKey, "Port", "1755");
  std::string aside;
  for (const std::string& name : Entries(directory)) {
    if (name.rfind("settings.corrupt-", 0) == 0) aside = name;
  }
  ASSERT_FALSE(aside.empty());
  EXPECT_EQ(Slurp(directory + "/" + aside), original);
  // Told once on reading, once where the file went.
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_NE(warnings[0].find(store.FilePath() + " cannot be read"), std::string::npos)
      << warnings[0];
  EXPECT_NE(warnings[1].find("kept as " + directory + "/" + aside), std::string::npos)
      << warnings[1];
  EXPECT_EQ(store.Read(kKey, "AsfDir"), "/kept");
  EXPECT_EQ(store.Read(kKey, "Port"), "1755");
  EXPECT_EQ(store.Read(kKey + "\\Sub", "Name"), "sub value");
  EXPECT_EQ(ParseSettings(Slurp(store.FilePath())).badLines, 0);

  // A second corruption gets its own name instead of replacing the first copy.
  Spill(store.FilePath(), "garbage\n");
  store.Write(kKey, "Port", "80");
  int copies = 0;
  for (const std::string& name : Entries(directory))
    copies += name.rfind("settings.corrupt-", 0) == 0;
  EXPECT_EQ(copies, 2);
  SetSettingsWarningSink(nullptr);
}

TEST(SettingsStoreTest, UnwritableFolderIsAClearErrorAtWrite) {
  TempFolder folder;
  std::string directory = folder.Path("qor");
  mkdir(directory.c_str(), 0700);
  SettingsStore store(directory);
  store.Write(kKey, "AsfDir", "/before");
  chmod(directory.c_str(), 0500);
  if (!PermissionsAreEnforced(directory, W_OK)) {
    GTEST_SKIP() << "running with privileges that ignore folder permissions";
  }
  try {
    store.Write(kKey, "AsfDir", "/after");
    ADD_FAILURE() << "write into a read-only folder succeeded";
  } catch (const SettingsError& error) {
    EXPECT_NE(std::string(error.what()).find(directory), std::string::npos) << error.what();
  }
  EXPECT_EQ(store.Read(kKey, "AsfDir"), "/before");  // the old file is untouched
}

TEST(SettingsStoreTest, UnreadableFileIsAnErrorAtRead) {
  TempFolder folder;
  SettingsStore store(folder.Path());
  store.Write(kKey, "AsfDir", "/x");
  chmod(store.FilePath().c_str(), 0000);
  if (!PermissionsAreEnforced(store.FilePath(), R_OK)) {
    GTEST_SKIP() << "running with privileges that ignore file permissions";
  }
  EXPECT_THROW(store.Read(kKey, "AsfDir"), SettingsError);
}

TEST(SettingsStoreTest, ConcurrentWritersLoseNothing) {
  TempFolder folder;
  constexpr int kWriters = 4;
  constexpr int kEach = 15;
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      SettingsStore store(folder.Path("qor"));  // each its own object, as separate programs
      for (int i = 0; i < kEach; ++i) {
        store.Write(kKey, "W" + std::to_string(w) + "N" + std::to_string(i), std::to_string(i));
      }
    });
  }
  for (auto& writer : writers) writer.join();
  SettingsStore store(folder.Path("qor"));
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 0; i < kEach; ++i) {
      EXPECT_EQ(store.Read(kKey, "W" + std::to_string(w) + "N" + std::to_string(i)),
                std::to_string(i));
    }
  }
}

TEST(SettingsStoreTest, DefaultFolderFollowsTheEnvironment) {
  std::string oldConfig = getenv("XDG_CONFIG_HOME") ? getenv("XDG_CONFIG_HOME") : "";
  bool hadConfig = getenv("XDG_CONFIG_HOME") != nullptr;
  std::string oldHome = getenv("HOME") ? getenv("HOME") : "";
  setenv("XDG_CONFIG_HOME", "/somewhere/config", 1);
  EXPECT_EQ(DefaultSettingsDirectory(), "/somewhere/config/qor");
  setenv("XDG_CONFIG_HOME", "relative/is/ignored", 1);
  setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(DefaultSettingsDirectory(), "/home/someone/.config/qor");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(SettingsStore().Directory(), "/home/someone/.config/qor");
  if (hadConfig) setenv("XDG_CONFIG_HOME", oldConfig.c_str(), 1);
  setenv("HOME", oldHome.c_str(), 1);
}

TEST(SettingsFormatTest, MalformedEscapesAreBadLinesNotGuesses) {
  ParsedSettings parsed = ParseSettings("[K]\nA=%4\nB=%4G\nC=ok%41\nD=%\n[K%]\nE=1\n[]\nF=2\n");
  EXPECT_EQ(parsed.badLines, 5);  // A, B, D, the key line [K%] and its entry E
  ASSERT_EQ(parsed.keys.count("K"), 1u);
  EXPECT_EQ(parsed.keys["K"].size(), 1u);
  EXPECT_EQ(parsed.keys["K"]["C"], "okA");
  EXPECT_EQ(parsed.keys[""]["F"], "2");
  EXPECT_EQ(NormaliseKeyPath("\\\\A\\B\\\\"), "A\\B");
}

TEST(SettingsFormatTest, AnyBytesSurviveEscapingAndAnyFileReparsesCleanly) {
  std::mt19937 random(20260607);
  auto randomText = [&](size_t maxLength, const std::string& alphabet) {
    std::string text(random() % (maxLength + 1), '\0');
    for (char& c : text) {
      c = alphabet.empty() ? static_cast<char>(random() & 0xFF)
                           : alphabet[random() % alphabet.size()];
    }
    return text;
  };
  const std::string syntax = "[]=%#\r\nab0F";
  for (int round = 0; round < 2000; ++round) {
    std::string text = randomText(40, round % 2 ? syntax : "");
    std::string back;
    ASSERT_TRUE(UnescapeSettingsText(EscapeSettingsText(text, true), back));
    EXPECT_EQ(back, text);
    ASSERT_TRUE(UnescapeSettingsText(EscapeSettingsText(text, false), back));
    EXPECT_EQ(back, text);

    // Whatever a file holds, what we read from it is written back so that it reads the same.
    ParsedSettings first = ParseSettings(randomText(200, round % 2 ? syntax : ""));
    ParsedSettings second = ParseSettings(SerialiseSettings(first.keys));
    EXPECT_EQ(second.badLines, 0);
    EXPECT_EQ(second.keys, first.keys);
  }
}

}  // namespace
}  // namespace qor
