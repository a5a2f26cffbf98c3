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

TEST_F(HttpPassword, OkHandsOverTrimmedValuesAndSavesThemAsTyped) {
  std::vector<std::pair<std::string, std::string>> given;
  THttpPasswordDlg dialog([&](const std::string& id, const std::string& password) {
    given.emplace_back(id, password);
  });
  ScriptedDesktop desktop;
  desktop.ModalScripts.push_back([](TForm& form) {
    auto& d = static_cast<THttpPasswordDlg&>(form);
    EXPECT_EQ(d.UserIDWindow.Text, "");
    EXPECT_TRUE(d.SavePassTick.Checked);
    d.UserIDWindow.Text = " alice ";
    d.PasswordWindow.Text = "se:cr:et ";
    d.Button1.Click();
  });
  EXPECT_EQ(desktop.ShowModal(dialog), mrOk);
  ASSERT_EQ(given.size(), 1u);
  EXPECT_EQ(given[0], (std::pair<std::string, std::string>{"alice", "se:cr:et"}));
  EXPECT_EQ(Base64Coder::DecodeString(Stored("Authh")), " alice :se:cr:et ");

  // Shown again, the saved set comes back with everything after the first ":" as the password.
  desktop.ModalScripts.push_back([](TForm& form) {
    auto& d = static_cast<THttpPasswordDlg&>(form);
    EXPECT_EQ(d.UserIDWindow.Text, " alice ");
    EXPECT_EQ(d.PasswordWindow.Text, "se:cr:et ");
    d.Button2.Click();
  });
  EXPECT_EQ(desktop.ShowModal(dialog), mrCancel);
  EXPECT_EQ(given.size(), 1u);
  EXPECT_EQ(Base64Coder::DecodeString(Stored("Authh")), " alice :se:cr:et ");
}

TEST_F(HttpPassword, OkWithoutSaveForgetsAndCancelChangesNothing) {
  Store("Authh", Base64Coder::EncodeString("bob:pw"));
  THttpPasswordDlg dialog;
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
  ScriptedDesktop desktop;
  desktop.ModalScripts.push_back([](TForm& form) {
    auto& d = static_cast<TMmsPasswordDlg&>(form);
    EXPECT_EQ(d.Caption, "Enter Network Password");
    EXPECT_EQ(d.Site.Caption, "media.example");
    EXPECT_EQ(d.Realm.Caption, "Members area");
    d.Id.Text = "carol";
    d.Password.Text = "pa:ss";
    d.Button1.Click();
  });
  std::optional<std::string> answer =
      AskMmsCredentials(desktop, "media.example", "realm=Members area");
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(*answer, Base64Coder::EncodeString("carol:pa:ss"));
  EXPECT_EQ(Stored("Authm"), *answer);

  // Another challenge text shows no realm; the saved set is offered.
  desktop.ModalScripts.push_back([](TForm& form) {
    auto& d = static_cast<TMmsPasswordDlg&>(form);
    EXPECT_EQ(d.Realm.Caption, "");
    EXPECT_EQ(d.Id.Text, "carol");
    EXPECT_EQ(d.Password.Text, "pa:ss");
    d.Button2.Click();
  });
  EXPECT_FALSE(AskMmsCredentials(desktop, "media.example", "Realm=x").has_value());
  // The close box, as when the session stops while it waits, is not a confirmation either.
  EXPECT_FALSE(AskMmsCredentials(desktop, "media.example", "").has_value());
  EXPECT_EQ(Stored("Authm"), Base64Coder::EncodeString("carol:pa:ss"));
}

TEST_F(MmsPassword, OkWithoutSaveStillAnswersButForgets) {
  Store("Authm", Base64Coder::EncodeString("old:one"));
  MmsCredentialsExchange exchange{"10.0.0.5", "realm=", ""};
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
  EXPECT_EQ(Stored("Authm"), "");
}

}  // namespace
}  // namespace qor
