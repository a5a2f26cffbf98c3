#include <gtest/gtest.h>

#include <string>

#include "app/open_media_dialog.h"
#include "dialogs_store.h"
#include "scripted_desktop.h"

namespace qor {
namespace {

class OpenMedia : public StoreTest {
 protected:
  OpenMedia() {
    url_.Items.SetText("mms://a/1\r\nmms://a/2");
    url_.Text = "mms://a/1";
    save_.Caption = "/tmp/old.asf";
  }
  // Types a location and confirms it with "&Ok".
  int32_t Enter(const std::string& text) {
    desktop_.ModalScripts.push_back([text](TForm& form) {
      auto& d = static_cast<TOpenMediaDialog&>(form);
      d.Combo1.Text = text;
      d.Button3.Click();
    });
    return desktop_.ShowModal(dialog_);
  }
  TStringList History() const {
    TStringList list;
    list.SetText(Stored("MediaList"));
    return list;
  }

  ScriptedDesktop desktop_;
  TLabel media_, save_;
  TComboBox url_;
  TOpenMediaDialog dialog_{desktop_, media_, save_, url_};
};

TEST_F(OpenMedia, ConfirmingFillsTheWindowAndPutsTheLocationFirst) {
  EXPECT_EQ(Enter("  mms://server/live  "), mrOk);
  EXPECT_EQ(media_.Caption, "mms://server/live");
  EXPECT_EQ(save_.Caption, "");
  EXPECT_EQ(url_.Items.Count(), 0);
  EXPECT_EQ(url_.Text, "");
  EXPECT_EQ(Enter("http://web/b.asx"), mrOk);
  // The same location twice is listed twice.
  EXPECT_EQ(Enter("mms://server/live"), mrOk);
  EXPECT_EQ(History().Lines(), (std::vector<std::string>{"mms://server/live", "http://web/b.asx",
                                                         "mms://server/live"}));
  // Shown again, the newest is offered.
  desktop_.ModalScripts.push_back([](TForm& form) {
    auto& d = static_cast<TOpenMediaDialog&>(form);
    EXPECT_EQ(d.Combo1.Text, "mms://server/live");
    EXPECT_EQ(d.Combo1.Items.Count(), 3);
    d.Button2.Click();
  });
  EXPECT_EQ(desktop_.ShowModal(dialog_), mrCancel);
}

TEST_F(OpenMedia, TheTwentyFirstLocationPushesOutTheOldest) {
  for (int i = 1; i <= 21; ++i) Enter("mms://s/" + std::to_string(i));
  TStringList history = History();
  ASSERT_EQ(history.Count(), 20);
  EXPECT_EQ(history[0], "mms://s/21");
  EXPECT_EQ(history[19], "mms://s/2");
  EXPECT_EQ(history.IndexOf("mms://s/1"), -1);

  TStringList longer;
  for (int i = 0; i < 25; ++i) longer.Add("mms://old/" + std::to_string(i));
  Store("MediaList", longer.Text());
  Enter("mms://new");
  history = History();
  ASSERT_EQ(history.Count(), 20);
  EXPECT_EQ(history[0], "mms://new");
  EXPECT_EQ(history[19], "mms://old/18");
}

TEST_F(OpenMedia, AnEmptyConfirmationChangesNothingButStillAnswersOk) {
  Enter("mms://first");
  const std::string stored = Stored("MediaList");
  url_.Text = "mms://kept";
  save_.Caption = "/tmp/kept.asf";
  EXPECT_EQ(Enter(""), mrOk);
  EXPECT_EQ(media_.Caption, "mms://first");
  EXPECT_EQ(Stored("MediaList"), stored);
  EXPECT_EQ(url_.Text, "mms://kept");
  EXPECT_EQ(save_.Caption, "/tmp/kept.asf");
}

// The prompt is a placeholder, never text; what is no location is refused with the dialog kept
// open, and never stored (junk an older version stored is not offered again).
TEST_F(OpenMedia, OnlyLocationsAreAcceptedAndRemembered) {
  Store("MediaList", "Enter your media location herehttp://a/b.wmv\r\nmms://kept/1");
  desktop_.ModalScripts.push_back([](TForm& form) {
    auto& d = static_cast<TOpenMediaDialog&>(form);
    EXPECT_EQ(d.Combo1.Placeholder, "Enter your media location here");
    EXPECT_EQ(d.Combo1.Text, "mms://kept/1");
    EXPECT_EQ(d.Combo1.Items.Count(), 1);
    for (const char* wrong : {"Enter your media location herehttp://a/b.wmv", "mms://", "foo://x/y",
                              "http://a b/c.wmv"}) {
      d.Combo1.Text = wrong;
      d.Button3.Click();
      EXPECT_FALSE(d.ModalDone()) << wrong;
    }
    d.Combo1.Text = "mms://good/live";
    d.Button3.Click();
  });
  EXPECT_EQ(desktop_.ShowModal(dialog_), mrOk);
  EXPECT_EQ(desktop_.Messages().size(), 4u);
  EXPECT_EQ(media_.Caption, "mms://good/live");
  EXPECT_EQ(History().Lines(), (std::vector<std::string>{"mms://good/live", "mms://kept/1"}));
  // A file that is not there opens (and fails there), but is not kept.
  EXPECT_EQ(Enter(folder_.Path("gone.asx")), mrOk);
  EXPECT_EQ(media_.Caption, folder_.Path("gone.asx"));
  EXPECT_EQ(History().Count(), 2);
}

TEST_F(OpenMedia, EnterInTheBoxConfirmsOnce) {
  desktop_.ModalScripts.push_back([](TForm& form) {
    auto& d = static_cast<TOpenMediaDialog&>(form);
    d.Combo1.Text = "mms://typed";
    d.Combo1.OnKeyDown('a');
    EXPECT_FALSE(d.ModalDone());
    d.Combo1.OnKeyDown(kKeyReturn);
  });
  EXPECT_EQ(desktop_.ShowModal(dialog_), mrOk);
  EXPECT_EQ(History().Lines(), std::vector<std::string>{"mms://typed"});
}

TEST_F(OpenMedia, BrowseStartsInTheLastFolderAndRemembersTheNewOne) {
  desktop_.FileAnswers.push_back(std::string("/media/clips/one.wmv"));
  desktop_.FileAnswers.push_back(std::nullopt);
  desktop_.ModalScripts.push_back([](TForm& form) {
    auto& d = static_cast<TOpenMediaDialog&>(form);
    d.Button1.Click();
    EXPECT_EQ(d.Combo1.Text, "/media/clips/one.wmv");
    d.Button1.Click();  // cancelled: the text stays
    EXPECT_EQ(d.Combo1.Text, "/media/clips/one.wmv");
    d.Button3.Click();
  });
  EXPECT_EQ(desktop_.ShowModal(dialog_), mrOk);
  EXPECT_EQ(media_.Caption, "/media/clips/one.wmv");
  EXPECT_EQ(Stored("OpenDir"), "/media/clips/");
  auto dialogs = desktop_.CallsOf(ScriptedDesktop::CallKind::OpenFile);
  ASSERT_EQ(dialogs.size(), 2u);
  EXPECT_EQ(dialogs[0].Request.Title, "Open a local file");
  EXPECT_EQ(dialogs[0].Request.InitialDir, "");
  EXPECT_EQ(dialogs[0].Request.Filter, kOpenMediaFilter);
  EXPECT_EQ(dialogs[1].Request.InitialDir, "/media/clips/");
}

}  // namespace
}  // namespace qor
