// Starting a download: what is refused before anything is touched, and how files are named.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "common/script_server.h"
#include "main_form_fixture.h"

namespace qor {
namespace {

using MainFormStart = MainFormTest;

// A loopback port nobody listens on: bound for a moment to learn a free one, then released.
int UnusedLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                     ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  if (fd >= 0) ::close(fd);
  return bound ? ntohs(address.sin_port) : 9;  // the discard port: refused on any test machine
}

TEST_F(MainFormStart, RefusedLocationsTouchNothing) {
  struct Case {
    std::string url;
    std::string message;
  };
  for (const Case& c :
       {Case{"", "No URL given"}, Case{"mms://host", "Please check URL entry, invalid IP/Host"},
        Case{"mms://host/", "Please check URL entry, invalid IP/Host"},
        Case{"mms://[::1/x", "Please check URL entry, invalid IP/Host"},
        Case{"http://ann:pw@/x", "Please check URL entry, invalid IP/Host"},
        Case{"mms://host:0/x",
             "Bad port '0' in the location: a port is a number from 1 to 65535"}}) {
    SCOPED_TRACE(c.url);
    Form().URL.Text = c.url;
    Form().ConnectionSingleClick();
    Advance(200);
    EXPECT_TRUE(Logged(c.message));
    EXPECT_TRUE(Form().hostText.empty());
    EXPECT_FALSE(Form().Session->Started());
  }
  EXPECT_TRUE(desktop_.CallsOf(ScriptedDesktop::CallKind::SaveFile).empty());
}

TEST_F(MainFormStart, AutomaticNamesNeverReplaceAFile) {
  Form().AutoSaveDir = folder_.Path() + "/";
  for (const char* existing : {"_1_live_live.asf", "_2_live_live.asf"}) {
    std::ofstream out(folder_.Path(existing));
    out << "keep";
  }
  Form().URL.Text = "mms://127.0.0.1/channels/live?x=1";
  ASSERT_TRUE(Form().CreateAutoSaveFile());
  EXPECT_EQ(Form().SaveWindow.Caption, folder_.Path("_3_live_live.asf"));
  EXPECT_EQ(ReadText(folder_.Path("_1_live_live.asf")), "keep");
  EXPECT_EQ(ReadText(folder_.Path("_2_live_live.asf")), "keep");
  EXPECT_EQ(FileSize(folder_.Path("_3_live_live.asf")), 0);
  Form().FinishSaveFile();

  // Without a folder of its own the stored AsfDir is used.
  Form().AutoSaveDir.reset();
  Store("AsfDir", folder_.Path() + "/");
  Form().URL.Text = "http://127.0.0.1/clip.wmv";
  ASSERT_TRUE(Form().CreateAutoSaveFile());
  EXPECT_EQ(Form().SaveWindow.Caption, folder_.Path("_1_clip.wmv"));
  Form().FinishSaveFile();

  // A location naming a folder is named after it.
  Form().URL.Text = "http://127.0.0.1/dir/";
  ASSERT_TRUE(Form().CreateAutoSaveFile());
  EXPECT_EQ(Form().SaveWindow.Caption, folder_.Path("_1_dir_live.asf"));
  Form().FinishSaveFile();

  Form().URL.Text.clear();
  EXPECT_FALSE(Form().CreateAutoSaveFile());
  // A name that cannot be created (its folder does not exist) is not retried with other numbers.
  Form().AutoSaveDir = folder_.Path("missing") + "/";
  Form().URL.Text = "http://127.0.0.1/clip.wmv";
  EXPECT_FALSE(Form().CreateAutoSaveFile());
  Advance(200);
  EXPECT_TRUE(Logged("Error: Auto save file URL data is missing or invalid"));
  EXPECT_EQ(CountLog("There was a problem creating an auto save file: " + folder_.Path("missing") +
                     "/_1_clip.wmv (No such file or directory)"),
            1);
}

// Whatever a play list entry or a server's location holds, its automatic name is one valid file
// inside the chosen folder; a long one is cut, keeping its type.
TEST_F(MainFormStart, AutomaticNamesStayOneValidNameInTheFolder) {
  Form().AutoSaveDir = folder_.Path("in") + "/";
  std::filesystem::create_directory(folder_.Path("in"));
  std::string accented;
  for (int i = 0; i < 250; ++i) accented += "\xC3\xA9";  // é, two bytes each
  const std::vector<std::pair<std::string, std::string>> cases{
      {"http://127.0.0.1/..", "_1____live.asf"},
      {"http://127.0.0.1/...", "_1_____live.asf"},
      {"mms://127.0.0.1/bell\a\x7f\nname.wmv", "_1_bell___name.wmv"},
      // The query names no part of the file: a clip with one is still the clip.
      {"http://127.0.0.1/clip.wmv?name=radio/one", "_1_clip.wmv"},
      {"http://127.0.0.1/show?x=a:b", "_1_show_live.asf"},
      {"http://127.0.0.1/" + std::string(250, 'a'), ""},
      {"http://127.0.0.1/" + accented + ".wmv", ""},
  };
  std::vector<std::string> names;
  for (const auto& [location, expected] : cases) {
    Form().URL.Text = location;
    ASSERT_TRUE(Form().CreateAutoSaveFile()) << location;
    const std::filesystem::path saved(Form().SaveWindow.Caption);
    EXPECT_TRUE(std::filesystem::exists(saved)) << saved;
    Form().FinishSaveFile();
    EXPECT_EQ(saved.parent_path(), std::filesystem::path(folder_.Path("in"))) << location;
    const std::string name = saved.filename().string();
    if (!expected.empty()) {
      EXPECT_EQ(name, expected);
    }
    EXPECT_LE(name.size(), 255u);
    for (char c : name) EXPECT_GE(static_cast<unsigned char>(c), 0x20) << name;
    names.push_back(name);
  }
  // The long names keep their type and a whole last character.
  int longOnes = 0;
  for (const std::string& name : names) {
    if (name.size() < 200) continue;
    ++longOnes;
    const std::string type = name.substr(name.size() - 4);
    EXPECT_TRUE(type == ".asf" || type == ".wmv") << name;
    if (type == ".wmv") {
      EXPECT_EQ(name.substr(name.size() - 6, 2), "\xC3\xA9") << name;
    }
  }
  EXPECT_EQ(longOnes, 2);
}

TEST_F(MainFormStart, SaveDialogLoopsUntilAMediaName) {
  desktop_.FileAnswers.push_back(folder_.Path("notes.txt"));
  desktop_.FileAnswers.push_back(std::nullopt);
  Form().URL.Text = "http://127.0.0.1/live";
  Options().ProtoGroup.ItemIndex = kProtoHttp;
  Form().ConnectionSingleClick();
  Advance(200);
  const auto saves = desktop_.CallsOf(ScriptedDesktop::CallKind::SaveFile);
  ASSERT_EQ(saves.size(), 2u);
  EXPECT_EQ(saves[0].Request.FileName, "live_live.asf");
  EXPECT_EQ(CountLog("Invalid save file type"), 1);
  EXPECT_FALSE(Form().Session->Started());
  EXPECT_EQ(FileSize(folder_.Path("notes.txt")), -1);
}

TEST_F(MainFormStart, ResumeQuestionOnlyForFilesHoldingData) {
  const std::string empty = folder_.Path("empty.asf");
  const std::string huge = folder_.Path("huge.asf");
  { std::ofstream out(empty); }
  // Exactly 4 GiB, sparse: its size must not wrap to 0.
  { std::ofstream out(huge); }
  ASSERT_EQ(::truncate(huge.c_str(), 4LL << 30), 0);
  Form().URL.Text = "http://127.0.0.1/x.wmv";
  desktop_.FileAnswers.push_back(empty);
  ASSERT_TRUE(Form().CreateOrResumeSaveFile());
  EXPECT_TRUE(desktop_.CallsOf(ScriptedDesktop::CallKind::Modal).empty());
  Form().FinishSaveFile();

  desktop_.FileAnswers.push_back(huge);
  desktop_.ModalScripts.push_back(
      [](TForm& form) { static_cast<TResumeDlg&>(form).ResumeBtn.Click(); });
  ASSERT_TRUE(Form().CreateOrResumeSaveFile());
  EXPECT_TRUE(Form().resumeSave);
  EXPECT_EQ(desktop_.CallsOf(ScriptedDesktop::CallKind::Modal).size(), 1u);
  Form().FinishSaveFile();
  EXPECT_EQ(FileSize(huge), 4LL << 30);

  // The close box answers nothing: neither resumed nor overwritten.
  desktop_.FileAnswers.push_back(huge);
  EXPECT_FALSE(Form().CreateOrResumeSaveFile());
  EXPECT_FALSE(Form().saveFile);
  EXPECT_EQ(FileSize(huge), 4LL << 30);
}

TEST_F(MainFormStart, UnknownProtocolIsReportedByTheSession) {
  desktop_.FileAnswers.push_back(folder_.Path("x.asf"));
  Form().URL.Text = "mms://127.0.0.1/x.wmv";
  Options().ProtoGroup.ItemIndex = -1;
  Form().ConnectionSingleClick();
  Advance(200);
  EXPECT_TRUE(Logged("MMS Class - No protocol was specified"));
  EXPECT_FALSE(Form().saveFile);
}

TEST_F(MainFormStart, AFailedConnectionRemovesOnlyAnEmptyFileItCreated) {
  const std::string fresh = folder_.Path("fresh.asf");
  const std::string existing = folder_.Path("existing.asf");
  { std::ofstream out(existing); }
  Form().URL.Text = "http://127.0.0.1:" + std::to_string(UnusedLoopbackPort()) + "/clip.wmv";
  Options().ProtoGroup.ItemIndex = kProtoHttp;
  for (const std::string& saved : {fresh, existing}) {
    SCOPED_TRACE(saved);
    desktop_.FileAnswers.push_back(saved);
    Form().ConnectionSingleClick();
    ASSERT_TRUE(Form().saveFile);
    ASSERT_TRUE(RunUntil([this] { return !Form().saveFile; }));
  }
  EXPECT_EQ(FileSize(fresh), -1);
  EXPECT_EQ(FileSize(existing), 0);
}

// The time-outs are stored options: a server that accepts and never answers ends the download
// after the stored answer time-out.
TEST_F(MainFormStart, StoredTimeOutsReachTheSession) {
  const test::SilentListener silent;
  Form().Helper.WriteSetting(kSettingsKeyPath, "AnswerTimeout", "1");
  Form().URL.Text = "http://127.0.0.1:" + std::to_string(silent.Port()) + "/clip.wmv";
  Options().ProtoGroup.ItemIndex = kProtoHttp;
  desktop_.FileAnswers.push_back(folder_.Path("silent.asf"));
  Form().ConnectionSingleClick();
  EXPECT_EQ(Form().Session->Timeouts.AnswerSeconds, 1);
  ASSERT_TRUE(RunUntil([this] { return !Form().saveFile; }));
  EXPECT_TRUE(Logged("The server did not answer within 1 seconds"));
}

TEST_F(MainFormStart, StatusLabelsAndBatchEnd) {
  Form().SetStatusLabel(2);
  EXPECT_TRUE(Form().Live.Visible);
  EXPECT_FALSE(Form().Standby.Visible);
  Form().SetStatusLabel(5);
  for (TLabel* label :
       {&Form().Standby, &Form().PreRec, &Form().Live, &Form().VCR, &Form().Progressive})
    EXPECT_FALSE(label->Visible);
  // The message is a fatal one: its drain finishes (no file) and shows Standby again.
  Advance(200);
  EXPECT_TRUE(Form().Standby.Visible);
  EXPECT_TRUE(Logged("Qor Main APP: bad status bar value internal error"));

  Form().URL.Text.clear();
  Form().ConnectionBatchClick();
  Advance(200);
  EXPECT_TRUE(Logged("Qor Main App: first use 'OPEN' to load a .asx playlist"));
  Form().unattended = true;
  Form().batchActive = true;
  Form().batchIndex = Form().urlCount = 2;
  Form().NextPlaylistTrack();
  EXPECT_FALSE(Form().unattended);
  EXPECT_FALSE(Form().batchActive);
}

TEST_F(MainFormStart, SetupOptionsAndAboutShowBesideTheWindowAndCloseWaitsForAQuery) {
  Form().ViewSetupClick();
  Form().About1Click();
  const auto shown = desktop_.CallsOf(ScriptedDesktop::CallKind::Modeless);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].Text, "Setup Options");
  EXPECT_EQ(shown[1].Text, "About");
  EXPECT_TRUE(desktop_.CallsOf(ScriptedDesktop::CallKind::Modal).empty());
  // Every closing way asks first; a refusal (a fetch runs) leaves the window and its files alone.
  bool refuse = true;
  Form().OnCloseQuery = [&] { return !refuse; };
  EXPECT_FALSE(Form().RequestClose());
  Form().Exit.Click();
  EXPECT_FALSE(Form().Closed());
  refuse = false;
  Form().Exit.Click();
  EXPECT_TRUE(Form().Closed());
}

TEST_F(MainFormStart, GeometryAndUrlListPersist) {
  Store("Height", "700");
  Store("Width", "wide");
  Store("URLSelected", "mms://a/b");
  Store("URLList", "mms://a/b\r\nhttp://c/d.wmv\r\n");
  Form().FormCreate();
  EXPECT_EQ(Form().Height, 700);
  EXPECT_EQ(Form().Width, 640);
  EXPECT_EQ(Form().URL.Text, "mms://a/b");
  EXPECT_EQ(Form().URL.Items.Count(), 2);
  Form().Width = 800;
  // A password typed into a location is kept for nothing but this session's downloads.
  Form().URL.Items.Add("http://ann:s3cret@e/f.wmv");
  Form().URL.Text = "mms://ann:s3cret@e/f";
  Form().Exit1Click();
  EXPECT_TRUE(Form().Closed());
  EXPECT_EQ(Stored("Width"), "800");
  EXPECT_EQ(Stored("URLList"), "mms://a/b\r\nhttp://c/d.wmv\r\nhttp://ann@e/f.wmv\r\n");
  EXPECT_EQ(Stored("URLSelected"), "mms://ann@e/f");
}

}  // namespace
}  // namespace qor
