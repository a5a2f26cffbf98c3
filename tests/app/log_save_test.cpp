// Saving and printing the log, and the help entries.

#include "app/app_constants.h"
#include "main_form_fixture.h"

namespace qor {
namespace {

class LogActions : public MainFormTest {
 protected:
  void Fill() {
    Form().Messages.Post("first line", mcNormal);
    Form().Messages.Post("tab\tinside", mcWarning);
    Advance(200);
  }
  std::string ProposedLogName() {
    desktop_.FileAnswers.push_back(std::nullopt);
    Form().SaveLogFile();
    return desktop_.CallsOf(ScriptedDesktop::CallKind::SaveFile).back().Request.FileName;
  }
};

TEST_F(LogActions, ProposedNames) {
  Form().SaveWindow.Caption = "/music/shows/clip.asf";
  Form().MediaWindow.Caption = "mms://host/other.wmv";
  EXPECT_EQ(ProposedLogName(), "clip.txt");
  Form().SaveWindow.Caption.clear();
  EXPECT_EQ(ProposedLogName(), "other.txt");
  Form().MediaWindow.Caption.clear();
  EXPECT_EQ(ProposedLogName(), "default_qor_log.txt");
}

TEST_F(LogActions, SavedLogHoldsEveryLineWithCrLf) {
  Fill();
  Store("LogDir", folder_.Path() + "/");
  const std::string file = folder_.Path("saved.txt");
  desktop_.FileAnswers.push_back(file);
  Form().SaveLog1Click();
  Advance(200);
  EXPECT_EQ(ReadText(file), "> first line\r\n> tab\tinside\r\n");
  EXPECT_TRUE(Logged("Log file was saved"));
  const auto request = desktop_.CallsOf(ScriptedDesktop::CallKind::SaveFile).back().Request;
  EXPECT_EQ(request.InitialDir, folder_.Path() + "/");
  EXPECT_EQ(request.Title, "Save Log File");
  EXPECT_EQ(request.DefaultExt, "txt");
}

TEST_F(LogActions, EmptyLogOrCancelSavesNothing) {
  const std::string file = folder_.Path("empty.txt");
  desktop_.FileAnswers.push_back(file);
  Form().SaveLog1Click();
  Advance(200);
  EXPECT_TRUE(Logged("No log data to save !"));
  EXPECT_TRUE(Logged("Log file saving cancelled"));
  EXPECT_EQ(FileSize(file), -1);

  desktop_.FileAnswers.push_back(std::nullopt);
  Form().SaveLog1Click();
  Advance(200);
  EXPECT_EQ(CountLog("Log file saving cancelled"), 2);
}

TEST_F(LogActions, PrintingAndItsCancel) {
  Fill();
  Form().Print1Click();  // the scripted print dialog is cancelled
  EXPECT_EQ(desktop_.Recorder().Documents, 0);
  desktop_.PrintAnswers.push_back(true);
  Form().Print1Click();
  RecordingPrinter& printer = desktop_.Recorder();
  EXPECT_EQ(printer.Title, "Qor loggin printout");
  EXPECT_EQ(printer.FontPoints, 10);
  ASSERT_EQ(printer.Pages.size(), 1u);
  const auto& page = printer.Pages[0];
  ASSERT_EQ(page.size(), 4u);
  EXPECT_EQ(page[0], (RecordingPrinter::Text{100, 200, "Qor Start of logging data"}));
  EXPECT_EQ(page[1], (RecordingPrinter::Text{100, 350, "> first line"}));
  EXPECT_EQ(page[2].Line, "> tab\tinside");
  EXPECT_EQ(page[3].Line, "Qor End of logging data");
}

TEST_F(LogActions, HelpEntriesGoToTheShell) {
  Form().VisitQorWebSite1Click();
  Form().QorMediatestSite1Click();
  desktop_.ShellAnswers.push_back(2);
  Form().ReadMe1Click();
  const auto shell = desktop_.CallsOf(ScriptedDesktop::CallKind::Shell);
  ASSERT_EQ(shell.size(), 3u);
  EXPECT_EQ(shell[0].Text, WebSiteAddress());
  EXPECT_EQ(shell[1].Text, MediaTestSiteAddress());
  EXPECT_EQ(shell[2].Text, ReadmePath());
  EXPECT_EQ(desktop_.Messages(),
            std::vector<std::string>{"The following file failed to open:  " + ReadmePath() +
                                     "\n\nFile is missing or failed to open"});
  EXPECT_EQ(Form().StatusBar.Caption, " For help visit: " + WebSiteAddress());
}

// A help page that is not where it is looked for is said, not handed to a browser.
TEST_F(LogActions, AMissingHelpPageIsSaidPlainly) {
  setenv(kDocDirVariable, folder_.Path("nothing-here").c_str(), 1);
  Form().VisitQorWebSite1Click();
  unsetenv(kDocDirVariable);
  EXPECT_TRUE(desktop_.CallsOf(ScriptedDesktop::CallKind::Shell).empty());
  ASSERT_EQ(desktop_.Messages().size(), 1u);
  EXPECT_EQ(desktop_.Messages()[0].rfind(
                "The help page is missing:  " + folder_.Path("nothing-here") + "/index.html", 0),
            0u)
      << desktop_.Messages()[0];
}

TEST_F(LogActions, PreviewHandsOnlyRealMediaNamesToTheShell) {
  Form().SaveWindow.Caption = "/music/clip.wmv.txt";
  Form().MediaWindow.Caption = "/music/show.asf";
  Form().PreviewClick();
  desktop_.ShellAnswers.push_back(0);
  Form().SaveWindow.Caption = "/music/clip.WMV";
  Form().PreviewClick();
  const auto shell = desktop_.CallsOf(ScriptedDesktop::CallKind::Shell);
  ASSERT_EQ(shell.size(), 2u);
  EXPECT_EQ(shell[0].Text, "/music/show.asf");
  EXPECT_EQ(shell[1].Text, "/music/clip.WMV");
  ASSERT_EQ(desktop_.Messages().size(), 1u);
  EXPECT_EQ(
      desktop_.Messages()[0].rfind("The following file failed to open:  /music/clip.WMV\n\n", 0),
      0u);
  Form().SaveWindow.Caption.clear();
  Form().MediaWindow.Caption = "/music/playlist.asx";
  Form().PreviewClick();
  Advance(200);
  EXPECT_TRUE(Logged("No valid media type to open player"));
}

}  // namespace
}  // namespace qor
