#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/http_password_dlg.h"
#include "app/mms_password_dlg.h"
#include "dialogs_store.h"
#include "scripted_desktop.h"
#include "support/base64.h"

namespace qor {
namespace {

using HttpPassword = StoreTest;
using MmsPassword = StoreTest;

TEST_F(HttpPassword, OkHandsOverTrimmedValuesAndSavesThemAsTypedOnceTheSiteTookThem) {
  std::vector<std::pair<std::string, std::string>> given;
  THttpPasswordDlg dialog([&](const std::string& id, const std::string& password) {
    given.emplace_back(id, password);
  });
  dialog.Site = "web.example:80";
  ScriptedDesktop desktop;
  auto type = [&](const std::string& password) {
    desktop.ModalScripts.push_back([password](TForm& form) {
      auto& d = static_cast<THttpPasswordDlg&>(form);
      EXPECT_TRUE(d.SavePassTick.Checked);
      d.UserIDWindow.Text = " alice ";
      d.PasswordWindow.Text = password;
      d.Button1.Click();
    });
    EXPECT_EQ(desktop.ShowModal(dialog), mrOk);
  };
  // A refused password is not kept.
  type("typo ");
  dialog.CredentialsAnswered(false);
  EXPECT_EQ(Stored("Authh"), "");
  type("se:cr:et ");
  ASSERT_EQ(given.size(), 2u);
  EXPECT_EQ(given[1], (std::pair<std::string, std::string>{"alice", "se:cr:et"}));
  EXPECT_EQ(Stored("Authh"), "");  // not before the site has answered
  dialog.CredentialsAnswered(true);
  EXPECT_EQ(Base64Coder::DecodeString(Stored("Authh")), " alice :se:cr:et ");
  EXPECT_EQ(Stored("AuthhSite"), "web.example:80");

  // Shown again for that site, the saved set comes back with everything after the first ":" as
  // the password; another site (another port too) gets empty fields.
  desktop.ModalScripts.push_back([](TForm& form) {
    auto& d = static_cast<THttpPasswordDlg&>(form);
    EXPECT_EQ(d.UserIDWindow.Text, " alice ");
    EXPECT_EQ(d.PasswordWindow.Text, "se:cr:et ");
    d.Button2.Click();
  });
  EXPECT_EQ(desktop.ShowModal(dialog), mrCancel);
  for (const char* other : {"other.example:80", "web.example:8080"}) {
    dialog.Site = other;
    desktop.ModalScripts.push_back([](TForm& form) {
      auto& d = static_cast<THttpPasswordDlg&>(form);
      EXPECT_EQ(d.UserIDWindow.Text, "");
      EXPECT_EQ(d.PasswordWindow.Text, "");
      d.Button2.Click();
    });
    EXPECT_EQ(desktop.ShowModal(dialog), mrCancel);
  }
  EXPECT_EQ(given.size(), 2u);
  EXPECT_EQ(Base64Coder::DecodeString(Stored("Authh")), " alice :se:cr:et ");
}

// A store written before credentials were bound to a site still reads, but its set is offered
// to no server.
TEST_F(HttpPassword, CredentialsSavedWithoutASiteAreOfferedNowhere) {
  Store("Authh", Base64Coder::EncodeString("bob:pw"));
  THttpPasswordDlg dialog;
  dialog.Site = "web.example:80";
  ScriptedDesktop desktop;
  desktop.ModalScripts.push_back(
      [](TForm& form) { EXPECT_EQ(static_cast<THttpPasswordDlg&>(form).UserIDWindow.Text, ""); });
  desktop.ShowModal(dialog);
  EXPECT_EQ(Stored("Authh"), Base64Coder::EncodeString("bob:pw"));
}

TEST_F(HttpPassword, OkWithoutSaveForgetsAndCancelChangesNothing) {
  Store("Authh", Base64Coder::EncodeString("bob:pw"));
  Store("AuthhSite", "web.example:80");
  THttpPasswordDlg dialog;
  dialog.Site = "web.example:80";
  ScriptedDesktop desktop;
  // Cancel, and the close box, leave the store alone even after edits.
  desktop.ModalScripts.push_back([](TForm& form) {
    auto& d = static_cast<THttpPasswordDlg&>(form);
    d.UserIDWindow.Text = "mallory";
    d.SavePassTick.Click();
    d.Button2.Click();
  });
  desktop.ModalScripts.push_back(
      [](TForm& form) { static_cast<THttpPasswordDlg&>(form).UserIDWindow.Text = "eve"; });
  EXPECT_EQ(desktop.ShowModal(dialog), mrCancel);
  EXPECT_EQ(desktop.ShowModal(dialog), mrCancel);
  EXPECT_EQ(Stored("Authh"), Base64Coder::EncodeString("bob:pw"));

  desktop.ModalScripts.push_back([](TForm& form) {
    auto& d = static_cast<THttpPasswordDlg&>(form);
    EXPECT_EQ(d.UserIDWindow.Text, "bob");
    d.SavePassTick.Checked = false;
    d.Button1.Click();
  });
  EXPECT_EQ(desktop.ShowModal(dialog), mrOk);
  dialog.CredentialsAnswered(true);  // an answer does not bring back what was not to be saved
  EXPECT_EQ(Stored("Authh"), "");
  desktop.ModalScripts.push_back([](TForm& form) {
    auto& d = static_cast<THttpPasswordDlg&>(form);
    EXPECT_EQ(d.UserIDWindow.Text, "");
    EXPECT_EQ(d.PasswordWindow.Text, "");
  });
  desktop.ShowModal(dialog);
}

TEST(SavedCredentials, SplitAtTheFirstColonOnly) {
  std::string id, password;
  SplitSavedCredentials("user", id, password);
  EXPECT_EQ(id, "user");
  EXPECT_EQ(password, "");
  SplitSavedCredentials(":a:b", id, password);
  EXPECT_EQ(id, "");
  EXPECT_EQ(password, "a:b");
}

TEST_F(MmsPassword, ShowsTheServerAndItsRealmAndFillsTheCredentials) {
  Store("Authm", Base64Coder::EncodeString("carol:pa:ss"));
  Store("AuthmSite", "media.example:1755");
  ScriptedDesktop desktop;
  desktop.ModalScripts.push_back([](TForm& form) {
    auto& d = static_cast<TMmsPasswordDlg&>(form);
    EXPECT_EQ(d.Caption, "Enter Network Password");
    EXPECT_EQ(d.Site.Caption, "media.example");
    EXPECT_EQ(d.Realm.Caption, "Members area");
    EXPECT_EQ(d.Id.Text, "carol");
    EXPECT_EQ(d.Password.Text, "pa:ss");
    d.Id.Text = "dan";
    d.Button1.Click();
  });
  std::optional<MmsCredentialsExchange> answer =
      AskMmsCredentials(desktop, "media.example", "realm=Members area", "media.example:1755");
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(answer->Credentials, Base64Coder::EncodeString("dan:pa:ss"));
  EXPECT_TRUE(answer->SaveRequested);
  // Saving waits for the server's acceptance, which only the window hears of.
  EXPECT_EQ(Stored("Authm"), Base64Coder::EncodeString("carol:pa:ss"));

  // Another challenge text shows no realm; another server is not offered the saved set.
  desktop.ModalScripts.push_back([](TForm& form) {
    auto& d = static_cast<TMmsPasswordDlg&>(form);
    EXPECT_EQ(d.Realm.Caption, "");
    EXPECT_EQ(d.Id.Text, "");
    EXPECT_EQ(d.Password.Text, "");
    d.Button2.Click();
  });
  EXPECT_FALSE(AskMmsCredentials(desktop, "127.0.0.2", "Realm=x", "127.0.0.2:1755").has_value());
  // The close box, as when the session stops while it waits, is not a confirmation either.
  EXPECT_FALSE(AskMmsCredentials(desktop, "media.example", "", "media.example:1755").has_value());
  EXPECT_EQ(Stored("Authm"), Base64Coder::EncodeString("carol:pa:ss"));
}

TEST_F(MmsPassword, OkWithoutSaveStillAnswersButForgets) {
  Store("Authm", Base64Coder::EncodeString("old:one"));
  Store("AuthmSite", "10.0.0.5:1755");
  MmsCredentialsExchange exchange{"10.0.0.5", "realm=", "", "10.0.0.5:1755"};
  TMmsPasswordDlg dialog(exchange);
  ScriptedDesktop desktop;
  desktop.ModalScripts.push_back([](TForm& form) {
    auto& d = static_cast<TMmsPasswordDlg&>(form);
    d.SavePassTick.Click();
    d.Id.Text = "dave";
    d.Password.Text = "";
    d.Button1.Click();
  });
  EXPECT_EQ(desktop.ShowModal(dialog), mrOk);
  EXPECT_EQ(exchange.Credentials, Base64Coder::EncodeString("dave:"));
  EXPECT_FALSE(exchange.SaveRequested);
  EXPECT_EQ(Stored("Authm"), "");
}

}  // namespace
}  // namespace qor
