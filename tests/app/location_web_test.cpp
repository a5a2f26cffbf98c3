// Play lists fetched from web servers: the real qor-server for files, redirections, passwords and
// missing files; canned loopback servers for odd answers, silence and refusals.

#include <algorithm>
#include <filesystem>

#include "app/http_password_dlg.h"
#include "common/script_server.h"
#include "location_fixture.h"
#include "support/base64.h"

namespace qor::location_test {
namespace {

// A web server for the answers qor-server does not give: every connection gets the same canned
// bytes after its request, then is closed; silent, it gets nothing at all.
std::unique_ptr<test::ScriptServer> Canned(std::string response, bool silent = false) {
  return std::make_unique<test::ScriptServer>([response, silent](int, const std::string&) {
    test::Script script;
    if (silent) {
      script.Hang();
    } else {
      script.Send(response);
    }
    return script;
  });
}

constexpr const char* kNotSuccessful = "---- HTTP file request was not successful ----";
constexpr const char* kParseFailed = "HTTP location parse failed";
constexpr const char* kExceptionIntro = "Qor Main App: An exception occured and reads :-";

std::vector<std::string> Clips(const std::string& prefix, int count) {
  std::vector<std::string> clips;
  for (int i = 0; i < count; ++i) clips.push_back(prefix + std::to_string(i) + ".wmv");
  return clips;
}

class LocationWebTest : public LocationTest {
 protected:
  void SetUp() override {
    LocationTest::SetUp();
    // The question whether to save the fetched file is answered no unless a test says otherwise.
    desktop_.MessageAnswers.push_back(mrNo);
  }
};

TEST_F(LocationWebTest, FetchedPlayListFillsTheListAndReportsEachStep) {
  StartServer();
  WriteRootFile("list.asx", AsxOf({"mms://h/live", "http://h/a.wmv", "mmsu://h/b.wma"}));
  Open(ServerUrl("list.asx"));
  EXPECT_EQ(Entries(),
            (std::vector<std::string>{"mms://h/live", "http://h/a.wmv", "mmsu://h/b.wma"}))
      << Dump();
  EXPECT_EQ(Form().URL.Text, "mms://h/live");
  EXPECT_TRUE(Saw("---- ** Accessing Location ** ----", mcNormal));
  EXPECT_TRUE(Saw("---- Connected and waiting ----", mcNotice));
  EXPECT_TRUE(Saw("---- HTTP location loaded, please wait ----", mcNormal));
  EXPECT_TRUE(Saw("URL list now has data, please select an entry", mcNotice));
  const auto boxes = desktop_.CallsOf(ScriptedDesktop::CallKind::MessageBox);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Text, kSaveLocationQuestion);
  EXPECT_EQ(boxes[0].Buttons, static_cast<uint32_t>(mbYes | mbNo));
  EXPECT_EQ(Loader().HTTPSocket.TimeOut, 45000u);
  EXPECT_TRUE(Form().Open.Enabled && Form().Connect.Enabled && Form().ConnectBatch.Enabled);
}

TEST_F(LocationWebTest, MixedCaseSchemesInAFetchedListYieldNothing) {
  StartServer();
  WriteRootFile("mixed.asx", AsxOf({"Http://h/a.wmv", "Mms://h/live"}));
  Open(ServerUrl("mixed.asx"));
  EXPECT_TRUE(Saw("Http Parse: no usable entries were found", mcWarning)) << Dump();
  EXPECT_TRUE(Saw(kParseFailed, mcFatal));
  EXPECT_EQ(Form().urlCount, 0);
}

TEST_F(LocationWebTest, NestingIsFollowedOneLevelAndTheThirdLevelIsSkipped) {
  StartServer();
  WriteRootFile("third.asx", AsxOf({"mms://h/third"}));
  WriteRootFile("second.asx",
                AsxOf({"mms://h/second-a", ServerUrl("third.asx"), "mms://h/second-b"}));
  WriteRootFile("first.asx",
                AsxOf({"mms://h/first-a", ServerUrl("second.asx"), "mms://h/first-b"}));
  Open(ServerUrl("first.asx"));
  EXPECT_EQ(Entries(), (std::vector<std::string>{"mms://h/first-a", "mms://h/second-a",
                                                 "mms://h/second-b", "mms://h/first-b"}))
      << Dump();
  EXPECT_EQ(Count("HTTP Parse: a location nests too deep in redirector, bypassing"), 1);
}

TEST_F(LocationWebTest, TheLimitCountsNestedEntriesAndEndsTheWholeScan) {
  StartServer();
  WriteRootFile("inner.asx", AsxOf(Clips("mms://h/inner", 30)));
  std::vector<std::string> outer = Clips("mms://h/outer", 30);
  outer.insert(outer.begin() + 25, ServerUrl("inner.asx"));
  WriteRootFile("outer.asx", AsxOf(outer));
  Open(ServerUrl("outer.asx"));
  const std::vector<std::string> entries = Entries();
  ASSERT_EQ(entries.size(), 50u) << Dump();
  EXPECT_EQ(entries[24], "mms://h/outer24.wmv");
  EXPECT_EQ(entries[25], "mms://h/inner0.wmv");
  EXPECT_EQ(entries[49], "mms://h/inner24.wmv");
  EXPECT_EQ(Count("Too many entires in URL list, displaying max only: 50"), 1);
  EXPECT_TRUE(Saw("URL list now has data, please select an entry", mcNotice));
}

TEST_F(LocationWebTest, SixtyFetchedEntriesGiveFifty) {
  StartServer();
  WriteRootFile("sixty.asx", AsxOf(Clips("http://h/c", 60)));
  Open(ServerUrl("sixty.asx"));
  EXPECT_EQ(Form().urlCount, 50);
  EXPECT_EQ(Form().URL.Items.Count(), 50);
  EXPECT_TRUE(Saw("Too many entires in URL list, displaying max only: 50", mcWarning)) << Dump();
}

TEST_F(LocationWebTest, AStatusWithout200NeverFillsTheList) {
  const auto server = Canned(
      "HTTP/1.0 404 Not Found\r\nContent-Type: text/plain\r\n\r\nmms://h/live http://h/a.wmv\r\n");
  Open("http://127.0.0.1:" + std::to_string(server->Port()) + "/list.asx");
  EXPECT_TRUE(Saw("---- A HTTP location was not found ----", mcFatal)) << Dump();
  EXPECT_TRUE(Saw(kNotSuccessful, mcFatal));
  EXPECT_TRUE(Saw("HTTP/1.0 404 Not Found", mcFatal));
  EXPECT_TRUE(Saw(kParseFailed, mcFatal));
  EXPECT_EQ(Form().urlCount, 0);
  EXPECT_TRUE(desktop_.CallsOf(ScriptedDesktop::CallKind::MessageBox).empty());
}

TEST_F(LocationWebTest, AnHtmlAnswerWithoutStatusLineGoesToTheBrowser) {
  const auto server = Canned("<HTML><BODY>\r\n\r\nmms://h/live</BODY></HTML>");
  const std::string location = "http://127.0.0.1:" + std::to_string(server->Port()) + "/x.asp";
  Open(location);
  EXPECT_TRUE(Saw(kNotSuccessful, mcFatal)) << Dump();
  EXPECT_TRUE(Saw("Qor Main APP: displaying server response using your browser", mcWarning));
  const auto shell = desktop_.CallsOf(ScriptedDesktop::CallKind::Shell);
  ASSERT_EQ(shell.size(), 1u);
  EXPECT_EQ(shell[0].Text, location);
  EXPECT_EQ(Form().urlCount, 0);
}

TEST_F(LocationWebTest, AnEmptyBodyIsReportedBeforeTheStatus) {
  const auto server = Canned("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n");
  Open("http://127.0.0.1:" + std::to_string(server->Port()) + "/empty.asx");
  EXPECT_TRUE(Saw("Location contains no data, body text empty", mcFatal)) << Dump();
  EXPECT_TRUE(Saw(kParseFailed, mcFatal));
}

TEST_F(LocationWebTest, MissingFileIsNotFound) {
  StartServer();
  Open(ServerUrl("missing.asx"));
  EXPECT_TRUE(Saw("---- A HTTP location was not found ----", mcFatal)) << Dump();
  EXPECT_TRUE(Saw("HTTP/1.0 404 Not Found", mcFatal));
  EXPECT_TRUE(Saw(kParseFailed, mcFatal));
  EXPECT_EQ(Loader().LastOutcome(), TLocationLoader::Outcome::Refused);
}

TEST_F(LocationWebTest, RedirectionsAreFollowedAndACycleEndsAsAnError) {
  StartServer({"--moved", "moved.asx=/list.asx", "--redirect", "relative.asx=list.asx",
               "--redirect", "a.asx=/b.asx", "--redirect", "b.asx=/a.asx"});
  WriteRootFile("list.asx", AsxOf({"mms://h/target"}));
  for (const std::string name : {"moved.asx", "relative.asx"}) {
    log_.clear();
    Open(ServerUrl(name));
    EXPECT_EQ(Entries(), (std::vector<std::string>{"mms://h/target"})) << name << "\n" << Dump();
    EXPECT_EQ(Count("---- HTTP socket is being redirected by host ----"), 1) << name;
    desktop_.MessageAnswers.push_back(mrNo);
  }
  log_.clear();
  Open(ServerUrl("a.asx"));
  EXPECT_TRUE(Saw(kExceptionIntro, mcWarning)) << Dump();
  EXPECT_TRUE(Saw("Too many redirections", mcFatal));
  EXPECT_FALSE(Saw(kParseFailed)) << "a client error ends the parse without its own messages";
  EXPECT_EQ(Form().urlCount, 0);
  EXPECT_EQ(Loader().LastOutcome(), TLocationLoader::Outcome::None);
  EXPECT_TRUE(Form().Open.Enabled) << "the controls come back after a failed fetch";
}

TEST_F(LocationWebTest, CredentialsAskedOnceThenTheNextOpenSucceeds) {
  StartServer({"--password", "user:pass"});
  WriteRootFile("secret.asx", AsxOf({"mms://h/secret"}));
  desktop_.ModalScripts.push_back([](TForm& form) {
    auto& dialog = dynamic_cast<THttpPasswordDlg&>(form);
    dialog.UserIDWindow.Text = "user";
    dialog.PasswordWindow.Text = "pass";
    dialog.Button1.Click();
  });
  const std::string location = ServerUrl("secret.asx");
  Open(location);
  EXPECT_TRUE(Saw("---- A HTTP location was not found ----", mcFatal)) << Dump();
  EXPECT_TRUE(Saw("You now need to re-access the site, try again", mcNormal));
  EXPECT_TRUE(Saw("Location contains no data, body text empty", mcFatal)) << "the 401 has no body";
  EXPECT_EQ(Form().urlCount, 0);
  EXPECT_EQ(Stored("Authh"), "") << "saved only once the site took them";

  log_.clear();
  desktop_.MessageAnswers.push_back(mrNo);
  Open(location);
  EXPECT_EQ(Entries(), (std::vector<std::string>{"mms://h/secret"})) << Dump();
  EXPECT_EQ(desktop_.CallsOf(ScriptedDesktop::CallKind::Modal).size(), 1u);
  EXPECT_EQ(Stored("Authh"), Base64Coder::EncodeString("user:pass"));
  EXPECT_EQ(Stored("AuthhSite"), "127.0.0.1:" + std::to_string(server_->HttpPort()));
}

// A mistyped password is refused by the site and not kept; the saved set of one site is not
// shown to another.
TEST_F(LocationWebTest, RefusedCredentialsAreNotSavedAndSavedOnesStayWithTheirSite) {
  StartServer({"--password", "user:pass"});
  WriteRootFile("secret.asx", AsxOf({"mms://h/secret"}));
  Store("Authh", Base64Coder::EncodeString("user:pass"));
  Store("AuthhSite", "127.0.0.2:" + std::to_string(server_->HttpPort()));
  desktop_.ModalScripts.push_back([](TForm& form) {
    auto& dialog = dynamic_cast<THttpPasswordDlg&>(form);
    EXPECT_EQ(dialog.UserIDWindow.Text, "");
    dialog.UserIDWindow.Text = "user";
    dialog.PasswordWindow.Text = "typo";
    dialog.Button1.Click();
  });
  const std::string location = ServerUrl("secret.asx");
  Open(location);
  desktop_.ModalScripts.push_back([](TForm& form) {
    auto& dialog = dynamic_cast<THttpPasswordDlg&>(form);
    EXPECT_EQ(dialog.PasswordWindow.Text, "") << "the refused password was kept";
    dialog.UserIDWindow.Text = "user";
    dialog.PasswordWindow.Text = "pass";
    dialog.Button1.Click();
  });
  Open(location);
  EXPECT_EQ(desktop_.CallsOf(ScriptedDesktop::CallKind::Modal).size(), 2u) << Dump();
  EXPECT_EQ(Form().urlCount, 0);
  EXPECT_EQ(Stored("AuthhSite"), "127.0.0.2:" + std::to_string(server_->HttpPort()));
  desktop_.MessageAnswers.push_back(mrNo);
  Open(location);
  EXPECT_EQ(Entries(), (std::vector<std::string>{"mms://h/secret"})) << Dump();
  EXPECT_EQ(Stored("Authh"), Base64Coder::EncodeString("user:pass"));
  EXPECT_EQ(Stored("AuthhSite"), "127.0.0.1:" + std::to_string(server_->HttpPort()));
}

TEST_F(LocationWebTest, ClientErrorsReachTheExceptionHandler) {
  const auto silent = Canned("", true);
  const test::RefusingPort refusingPort;
  const int refusing = refusingPort.Port();
  struct Case {
    std::string location;
    std::string error;
    std::string event;  // "" for none
    uint32_t timeOut = 30000;
  };
  const std::vector<Case> cases{
      {"https://127.0.0.1/list.asx", "HTTP Secure Socket is not supported", ""},
      {"http://127.0.0.1:" + std::to_string(silent->Port()) + "/list.asx", "Socket readln aborted",
       "", 1500},
      {"http://127.0.0.1:" + std::to_string(refusing) + "/list.asx", "Connection Failed",
       "---- A HTTP location failed to connect ----"},
      {"http://qor-no-such-host.invalid/list.asx", "Null Remote Address",
       "---- A HTTP location address was invalid ----"},
  };
  for (const Case& c : cases) {
    log_.clear();
    Loader().FetchTimeOut = c.timeOut;
    Open(c.location);
    EXPECT_TRUE(Saw(kExceptionIntro, mcWarning)) << c.location << "\n" << Dump();
    if (!c.error.empty()) {
      EXPECT_TRUE(Saw(c.error, mcFatal)) << c.location << "\n" << Dump();
    }
    if (!c.event.empty()) {
      EXPECT_TRUE(Saw(c.event, mcFatal)) << c.location << "\n" << Dump();
    }
    EXPECT_FALSE(Saw(kParseFailed)) << c.location;
    EXPECT_EQ(Form().urlCount, 0);
  }
}

TEST_F(LocationWebTest, AFailingNestedFetchIsLoggedAndTheScanGoesOn) {
  StartServer();
  const auto notFound = Canned("HTTP/1.0 404 Not Found\r\n\r\nmms://h/from-error-page\r\n");
  const test::RefusingPort refusingPort;
  const int refusing = refusingPort.Port();
  WriteRootFile("good.asx", AsxOf({"mms://h/nested"}));
  WriteRootFile("outer.asx",
                AsxOf({"mms://h/one", "http://127.0.0.1:" + std::to_string(refusing) + "/gone.asx",
                       ServerUrl("good.asx"),
                       "http://127.0.0.1:" + std::to_string(notFound->Port()) + "/nf.asx",
                       "https://127.0.0.1/secure.asx", ServerUrl("good.asx"), "mms://h/two"}));
  Open(ServerUrl("outer.asx"));
  EXPECT_EQ(Entries(), (std::vector<std::string>{"mms://h/one", "mms://h/nested", "mms://h/nested",
                                                 "mms://h/two"}))
      << Dump();
  EXPECT_TRUE(Saw("---- A HTTP location failed to connect ----", mcFatal));
  EXPECT_TRUE(Saw("---- A HTTP location was not found ----", mcFatal));
  EXPECT_TRUE(Saw("HTTP Parse: HTTP Secure Socket is not supported, bypassing", mcWarning));
  EXPECT_FALSE(Saw(kExceptionIntro));
  EXPECT_TRUE(Saw("URL list now has data, please select an entry", mcNotice));
}

TEST_F(LocationWebTest, OpenGoAndBatchAreDisabledWhileAFetchRunsAndCloseWaits) {
  const auto silent = Canned("", true);
  Loader().FetchTimeOut = 1500;
  std::vector<bool> enabled;
  bool clicked = false;
  bool closedDuringFetch = false;
  Loader().HTTPSocket.OnWait = [&] {
    TMainForm& f = Form();
    enabled.push_back(f.Open.Enabled || f.Open1.Enabled || f.Connect.Enabled ||
                      f.ConnectionSingle.Enabled || f.ConnectBatch.Enabled ||
                      f.ConnectionBatch.Enabled);
    if (!clicked) {
      clicked = true;
      f.URL.Text = "mms://127.0.0.1/x";
      f.Connect.Click();
      f.ConnectionSingle.Click();
      f.ConnectBatch.Click();
      f.Exit.Click();
    }
    closedDuringFetch = closedDuringFetch || f.Closed();
  };
  Open("http://127.0.0.1:" + std::to_string(silent->Port()) + "/list.asx");
  Loader().HTTPSocket.OnWait = nullptr;
  ASSERT_FALSE(enabled.empty());
  EXPECT_EQ(std::count(enabled.begin(), enabled.end(), true), 0)
      << "the drain ran during the fetch and must not have enabled them";
  EXPECT_FALSE(closedDuringFetch);
  EXPECT_TRUE(desktop_.CallsOf(ScriptedDesktop::CallKind::SaveFile).empty()) << "no Go started";
  EXPECT_FALSE(Saw("Qor Main App: first use 'OPEN' to load a .asx playlist")) << Dump();
  EXPECT_FALSE(Form().Session->Started());
  // The close asked for during the fetch happens once it has ended.
  EXPECT_TRUE(app_->Window.ProcessUntil([this] { return Form().Closed(); }, 10000));
}

}  // namespace
}  // namespace qor::location_test
