// Opening a location: which rule decides, what the user is told, and what happens to the URL list.
// Local files here; web play lists in location_web_test.cpp.

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "app/options_dialog.h"
#include "location_fixture.h"

namespace qor::location_test {
namespace {

constexpr const char* kInvalid =
    "The media type or its location was invalid\nPlease re-check your entry";

TEST_F(LocationTest, RefusedKindsAreExplainedAsFatal) {
  struct Case {
    std::string location;
    std::string message;
  };
  const std::vector<Case> cases{
      {"", "The media type or location is of an unknown type"},
      {"/tmp/notes.xyz", "The media type or location is of an unknown type"},
      {"mms://media.example/list.asx",
       "You are trying to access a redirector location file\nusing a MMS:// server URL. Only "
       "HTTP:// web servers\nhold redirector location files, please check your URL\nthen try "
       "again"},
      {"mmst://media.example/page.asp",
       "You are trying to access a redirector location file\nusing a MMS:// server URL. Only "
       "HTTP:// web servers\nhold redirector location files, please check your URL\nthen try "
       "again"},
      {"http://media.example/song.ram",
       "You are trying to access a Real Networks file type\nQor does not support connection to "
       "Real Networks locations\n"},
      {"pnm://media.example/live",
       "You are trying to access a Real Networks file type\nQor does not support connection to "
       "Real Networks locations\n"},
      {"http://media.example/pack.wmd",
       "This location is a Windows Media downloadable file\nUse media player or your web browser "
       "to download this file\nQor is not required\n"},
      {"/home/user/skin.wmz",
       "This file type is a skin and is only used by media player\nQor does not support player "
       "skins\n"},
      {"http://media.example/old-log.txt", kInvalid},
      {"ftp://media.example/list.asx", kInvalid},
  };
  for (const Case& c : cases) {
    log_.clear();
    Open(c.location);
    EXPECT_TRUE(Saw("Media changing ...", mcNormal)) << c.location;
    EXPECT_TRUE(Saw(c.message, mcFatal)) << c.location << "\n" << Dump();
    EXPECT_EQ(Loader().LastOutcome(), TLocationLoader::Outcome::Refused) << c.location;
  }
  EXPECT_TRUE(desktop_.CallsOf(ScriptedDesktop::CallKind::Shell).empty());
}

TEST_F(LocationTest, StreamAndMediaLocationsBecomeTheUrlAndLeaveTheList) {
  Form().urlCount = 1;
  Form().urlList[0] = "mms://kept.example/one";
  for (const std::string location :
       {"mms://media.example/live", "http://media.example/clip.wmv", "mmsu://10.0.0.1/a.wma"}) {
    log_.clear();
    Open(location);
    EXPECT_EQ(Form().URL.Text, location);
    EXPECT_TRUE(Saw("URL ready to connect -> hit GO to start", mcNotice)) << Dump();
    EXPECT_EQ(Loader().LastOutcome(), TLocationLoader::Outcome::UrlReady);
  }
  EXPECT_EQ(Entries(), (std::vector<std::string>{"mms://kept.example/one"}));
}

TEST_F(LocationTest, LocalPlayListFillsListAndUrlBox) {
  const std::string path = WriteRootFile(
      "list.asx", AsxOf({"mms://h/live", "http://h/a.wmv", "http://h/inner.asx", "mms://h/b.asf"}));
  Form().URL.Items.Add("old entry");
  Open(path);
  EXPECT_EQ(Entries(),
            (std::vector<std::string>{"mms://h/live", "http://h/a.wmv", "mms://h/b.asf"}))
      << Dump();
  EXPECT_EQ(Form().URL.Items.Lines(), Entries());
  EXPECT_EQ(Form().URL.Text, "mms://h/live");
  EXPECT_TRUE(Saw("URL list now has data, please select an entry", mcNotice));
  EXPECT_EQ(Loader().LastOutcome(), TLocationLoader::Outcome::ListLoaded);
}

TEST_F(LocationTest, LocalPlayListFailuresHaveTheirOwnTexts) {
  Open(Root() + "/missing.asx");
  EXPECT_TRUE(Saw("Could not open local redirector file", mcFatal)) << Dump();

  log_.clear();
  Open(WriteRootFile("empty.asx", ""));
  EXPECT_TRUE(Saw("Local location file contains no data", mcFatal)) << Dump();
  EXPECT_TRUE(Saw("Local parse file error", mcFatal));

  log_.clear();
  Open(WriteRootFile("mixed.wax", AsxOf({"Http://h/a.wmv", "Mms://h/live"})));
  EXPECT_TRUE(Saw("Http Parse: no usable entries were found", mcWarning)) << Dump();
  EXPECT_TRUE(Saw("Local parse file error", mcFatal));
  EXPECT_EQ(Form().urlCount, 0);

  // A folder named like a play list opens but is not a file that can be read.
  std::filesystem::create_directories(Root() + "/folder.asx");
  log_.clear();
  Open(Root() + "/folder.asx");
  EXPECT_TRUE(Saw(
      "Cannot access local location file: " + Root() + "/folder.asx (not a regular file)", mcFatal))
      << Dump();
}

TEST_F(LocationTest, LocalPlayListOverSixteenMegabytesIsRefused) {
  const std::string path = WriteRootFile("huge.asx", "mms://h/live\n");
  ASSERT_EQ(::truncate(path.c_str(), kMaxLocalLocationBytes + 1), 0);
  Form().urlCount = 1;
  Open(path);
  EXPECT_TRUE(Saw("Cannot access local location file: " + path +
                      " (larger than the 16 MiB a play list may have)",
                  mcFatal))
      << Dump();
  EXPECT_EQ(Form().urlCount, 0) << "the parse empties the list before it reads";

  log_.clear();
  ASSERT_EQ(::truncate(path.c_str(), kMaxLocalLocationBytes), 0);
  Open(path);
  EXPECT_EQ(Entries(), (std::vector<std::string>{"mms://h/live"})) << Dump();
}

TEST_F(LocationTest, LocalMediaFileIsLoadedForInspection) {
  const std::string clip = std::string(QOR_SAMPLE_MEDIA_DIR) + "/clip.wmv";
  Open(clip);
  EXPECT_TRUE(Saw("Media Loaded -> Click Information tab", mcNotice)) << Dump();
  EXPECT_TRUE(Saw("Media Loaded -> Click Preview monitor", mcNotice));
  EXPECT_GT(Form().Asf.PlayDuration, 0);
  EXPECT_TRUE(desktop_.CallsOf(ScriptedDesktop::CallKind::Shell).empty());

  log_.clear();
  app_->OptionsDialog->AutoPlayTick.Checked = true;
  Open(clip);
  EXPECT_TRUE(Saw("Media Loaded -> Player activated", mcNotice)) << Dump();
  const auto shell = desktop_.CallsOf(ScriptedDesktop::CallKind::Shell);
  ASSERT_EQ(shell.size(), 1u);
  EXPECT_EQ(shell[0].Text, clip);

  log_.clear();
  Open(WriteRootFile("broken.asf", std::string(100, 'x')));
  EXPECT_TRUE(Saw("Cancelled, file not loaded", mcFatal)) << Dump();
  EXPECT_EQ(Loader().LastOutcome(), TLocationLoader::Outcome::Refused);
}

TEST_F(LocationTest, OnlyARealTextLogGoesToTheDesktop) {
  const std::string log = WriteRootFile("session.txt", "> a log line\r\n");
  Open("  " + log + " ");
  EXPECT_TRUE(Saw("Displaying archived Qor log file", mcNotice)) << Dump();
  auto shell = desktop_.CallsOf(ScriptedDesktop::CallKind::Shell);
  ASSERT_EQ(shell.size(), 1u);
  EXPECT_EQ(shell[0].Text, log) << "handed over trimmed";

  log_.clear();
  Open(WriteRootFile("session.txt.sh", "echo hi\n"));
  EXPECT_TRUE(Saw("No valid media type to open player", mcFatal)) << Dump();
  EXPECT_FALSE(Saw("Displaying archived Qor log file"));
  EXPECT_EQ(desktop_.CallsOf(ScriptedDesktop::CallKind::Shell).size(), 1u);
}

TEST_F(LocationTest, OpenDialogOkOpensWhatWasTyped) {
  const std::string path = WriteRootFile("typed.asx", AsxOf({"mms://h/typed"}));
  desktop_.ModalScripts.push_back([&path](TForm& form) {
    auto& dialog = dynamic_cast<TOpenMediaDialog&>(form);
    dialog.Combo1.Text = path;
    dialog.Button3.Click();
  });
  Form().OpenClick();
  Form().Timer3Timer();
  EXPECT_EQ(Form().MediaWindow.Caption, path);
  EXPECT_EQ(Entries(), (std::vector<std::string>{"mms://h/typed"})) << Dump();

  // Cancelled: nothing is opened.
  log_.clear();
  Form().Open1Click();
  Form().Timer3Timer();
  EXPECT_FALSE(Saw("Media changing ..."));
}

}  // namespace
}  // namespace qor::location_test
