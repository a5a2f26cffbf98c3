// Starting a session: the configuration checks in their order, the handlers' texts for a
// connection that fails, and that nothing starts again after Stop.

#include <gtest/gtest.h>

#include "asf/asf.h"
#include "platform/window_thread.h"
#include "session/save_file.h"
#include "session/session.h"
#include "session/session_harness.h"
#include "session/session_test_support.h"

namespace qor::testing {
namespace {

using namespace std::chrono_literals;

class SessionStart : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = TSaveFile::Open(NewTempFolder() + "/s.asf", FileHandle::Mode::CreateTruncate);
    session_ = std::make_unique<TMMS>();
    session_->Messages = &queue_;
    session_->Asf = &asf_;
    session_->SaveFile = file_;
    session_->ProtocolFlags = pfHttp;
    session_->HttpPort = 1;
    session_->Host = "127.0.0.1";
    session_->Source = 7;
  }
  void TearDown() override {
    session_->Stop();
    session_.reset();
  }
  std::vector<MessagePair> Taken() {
    std::vector<MessagePair> pairs;
    MessagePair p;
    while (queue_.Take(p)) pairs.push_back(p);
    return pairs;
  }
  // Starts and returns the first fatal text posted (empty when none within the time).
  std::string FirstFatal() {
    session_->Start();
    std::string fatal;
    window_.ProcessUntil(
        [&] {
          MessagePair p;
          while (queue_.Take(p)) {
            texts_.push_back(p.text);
            if (p.code == mcFatal && fatal.empty()) fatal = p.text;
          }
          return !fatal.empty();
        },
        20000);
    return fatal;
  }

  WindowThread window_;
  TMessageClass queue_;
  TASF asf_;
  std::shared_ptr<TSaveFile> file_;
  std::unique_ptr<TMMS> session_;
  std::vector<std::string> texts_;
};

TEST_F(SessionStart, NewSessionHasAFreshGuidAndNothingSet) {
  TMMS other;
  EXPECT_EQ(other.ClientGuid.size(), 38u);
  EXPECT_EQ(other.ClientGuid.front(), '{');
  EXPECT_NE(other.ClientGuid, session_->ClientGuid);
  EXPECT_EQ(other.Messages, nullptr);
  EXPECT_FALSE(other.SaveFile);
  EXPECT_EQ(other.Status().StreamKind, 0);
  EXPECT_FALSE(other.IsConnected());
  const std::string before = other.ClientGuid;
  other.InitFields();
  EXPECT_NE(other.ClientGuid, before);
}

TEST_F(SessionStart, WithoutAQueueTheFirstCheckIsShownInAMessageBox) {
  std::string shown;
  session_->Messages = nullptr;
  session_->ProtocolFlags = 0;
  session_->ShowMessageBox = [&](const std::string& text) { shown = text; };
  session_->Start();
  EXPECT_EQ(shown, "MMS Class - no message callback handler object specified");
  EXPECT_FALSE(session_->Started());
  EXPECT_EQ(queue_.Pending(), 0u);
}

TEST_F(SessionStart, ChecksRunInOrderAndLeaveTheThreadSuspended) {
  session_->ProtocolFlags = 0;
  session_->Asf = nullptr;
  session_->Start();
  session_->ProtocolFlags = pfHttp;
  session_->Start();
  session_->Asf = &asf_;
  session_->SaveFile.reset();
  session_->Start();
  const auto pairs = Taken();
  ASSERT_EQ(pairs.size(), 3u);
  EXPECT_EQ(pairs[0].text, "MMS Class - No protocol was specified");
  EXPECT_EQ(pairs[1].text, "MMS Class - No ASF object specified, cannot parse data");
  EXPECT_EQ(pairs[2].text, "MMS Class - No save file specified");
  for (const auto& p : pairs) {
    EXPECT_EQ(p.code, mcFatal);
    EXPECT_EQ(p.source, 7u);
  }
  EXPECT_FALSE(session_->Started());
}

TEST_F(SessionStart, UdpDataAlwaysComesWithTheTcpConnection) {
  session_->ProtocolFlags = pfMmsUdp;
  session_->ConnectPort = 0;
  EXPECT_EQ(FirstFatal(), "MMS class - TCP port out of range");
  EXPECT_EQ(session_->GetProtocolFlags(), pfMmsTcp | pfMmsUdp);
}

TEST_F(SessionStart, TransportChecksPostTheirTexts) {
  session_->Host.clear();
  EXPECT_EQ(FirstFatal(), "MMS class - server host not specified");
}

TEST_F(SessionStart, ProxyPortIsCheckedEvenWhenTheServerPortIsValid) {
  for (int32_t port : {0, 65536}) {
    SetUp();
    session_->HttpPort = 80;
    session_->UseProxy = 1;
    session_->ProxyHost = "127.0.0.1";
    session_->ProxyPort = port;
    EXPECT_EQ(FirstFatal(), "MMS class - Proxy port is out of range");
    TearDown();
  }
  SetUp();
  session_->UseProxy = 1;
  session_->ProxyPort = 8080;
  EXPECT_EQ(FirstFatal(), "MMS class - Proxy IP not specified");
}

TEST_F(SessionStart, HttpUsesTheHttpPortInsteadOfTheMmsPort) {
  session_->ConnectPort = 1755;
  session_->HttpPort = 70000;
  EXPECT_EQ(FirstFatal(), "MMS class - TCP port out of range");
  EXPECT_EQ(session_->ConnectPort, 70000);
}

TEST_F(SessionStart, ResolvingAndProxyNoticesFollowTheSettings) {
  session_->UseProxy = 1;
  session_->ProxyHost = "127.0.0.1";
  session_->ProxyPort = 1;  // nobody listens there
  session_->BypassDns = 1;
  const std::string fatal = FirstFatal();
  EXPECT_NE(fatal.find("10061"), std::string::npos) << fatal;
  EXPECT_TRUE(InOrder(texts_, {"Connecting...", "Using proxy host settings for connection",
                               "Not resolving DNS IP, trying direct...", fatal}));
  EXPECT_FALSE(InOrder(texts_, {"Resolving DNS IP address, please wait..."}));
}

TEST_F(SessionStart, WithoutAProxyTheHostIsResolved) {
  session_->Host = "localhost";
  const std::string fatal = FirstFatal();
  EXPECT_TRUE(
      InOrder(texts_, {"Connecting...", "Resolving DNS IP address, please wait...", fatal}));
  EXPECT_FALSE(InOrder(texts_, {"Using proxy host settings for connection"}));
}

TEST_F(SessionStart, AfterStopNoTransportStartsAgain) {
  session_->HttpPort = 1;
  session_->Stop();
  session_->Start();
  EXPECT_FALSE(session_->IsConnected());
  window_.ProcessMessages();
  EXPECT_EQ(queue_.Pending(), 0u);
}

TEST_F(SessionStart, StopWhileConnectingEndsQuietly) {
  auto server = StartServer();
  ASSERT_TRUE(server->Running());
  session_->HttpPort = server->HttpPort();
  session_->Path = "clip.wmv";
  session_->Start();
  EXPECT_TRUE(session_->IsConnected());
  session_->Stop();
  EXPECT_FALSE(session_->IsConnected());
  session_.reset();  // waits for the session and its connection, serving handovers
  SetUp();
}

}  // namespace
}  // namespace qor::testing
