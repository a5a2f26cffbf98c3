#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "app/about_dialog.h"
#include "app/app_constants.h"
#include "app/resume_dlg.h"
#include "scripted_desktop.h"

namespace qor {
namespace {

TEST(ResumeDialog, EachWayOfClosingGivesItsResult) {
  ScriptedDesktop desktop;
  TResumeDlg dialog;
  auto press = [&](TButton TResumeDlg::*button) {
    desktop.ModalScripts.push_back(
        [button](TForm& form) { (static_cast<TResumeDlg&>(form).*button).Click(); });
    return desktop.ShowModal(dialog);
  };
  EXPECT_EQ(press(&TResumeDlg::ResumeBtn), mrOk);
  EXPECT_EQ(press(&TResumeDlg::OverwriteBtn), mrIgnore);
  EXPECT_EQ(press(&TResumeDlg::CancelBtn), mrCancel);
  // Escape presses the cancel button, which is also the default one.
  ASSERT_NE(dialog.CancelButton(), nullptr);
  EXPECT_EQ(dialog.CancelButton(), &dialog.CancelBtn);
  EXPECT_EQ(dialog.DefaultButton(), &dialog.CancelBtn);
  desktop.ModalScripts.push_back([](TForm& form) { form.CancelButton()->Click(); });
  EXPECT_EQ(desktop.ShowModal(dialog), mrCancel);
  // The close box answers nothing.
  EXPECT_EQ(desktop.ShowModal(dialog), mrNone);
  EXPECT_EQ(dialog.Message.Lines[0], "The save file you have selected already contains data.");
  EXPECT_EQ(dialog.Message.Lines[4], "you must select Overwrite for live downloads");
}

TEST(AboutDialog, VersionLinesAndTheInstalledDocumentation) {
  const char* old = std::getenv(kDocDirVariable);
  const std::string saved = old ? old : "";
  setenv(kDocDirVariable, "/opt/qor/doc/", 1);
  TAboutDialog dialog;
  const TStringList& lines = dialog.Memo1.Lines;
  ASSERT_EQ(lines.Count(), 10);
  EXPECT_EQ(lines[0], "Qor version information and web site:-");
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "Qor  Program Version\t2.3.0");
  EXPECT_EQ(lines[3], "MMS  Protocol Version\tNSPlayer/7.1.0.1956");
  EXPECT_EQ(lines[4], "HTTP Protocol Version\tHTTP/1.0");
  EXPECT_EQ(lines[5], "Release Date\t\t20.10.06");
  EXPECT_NE(lines[6].find(kAuthorText), std::string::npos);
  EXPECT_EQ(lines[7], "Web Site\t\tfile:///opt/qor/doc/index.html");
  EXPECT_EQ(lines[8], "Copyright\t\t2026 The Qor developers");
  EXPECT_EQ(lines[9], "Licence\t\t\tMIT");
  EXPECT_EQ(ReadmePath(), "/opt/qor/doc/README.md");
  EXPECT_EQ(MediaTestSiteAddress(), "file:///opt/qor/doc/media-test.html");
  if (old)
    setenv(kDocDirVariable, saved.c_str(), 1);
  else
    unsetenv(kDocDirVariable);
  // Run from the build tree, the help finds the pages without being told where they are.
  if (!old) {
    for (const std::string& page :
         {ReadmePath(), WebSiteAddress().substr(7), MediaTestSiteAddress().substr(7)}) {
      EXPECT_EQ(::access(page.c_str(), R_OK), 0) << page;
    }
  }

  ScriptedDesktop desktop;
  desktop.ShowModeless(dialog);
  EXPECT_TRUE(dialog.Visible);
  dialog.OKButton.Click();
  EXPECT_FALSE(dialog.Visible);
}

}  // namespace
}  // namespace qor
