// MMS servers that fail, refuse, lie or disappear: the session says what happened, ends, and the
// save file keeps what was written and is finished.

#include <gtest/gtest.h>

#include "session/mms_protocol.h"
#include "session/mms_test_support.h"

namespace qor::testing {
namespace {

using namespace std::chrono_literals;

struct Outcome {
  std::string log;
  PacketMatch packets;
  bool finished = false;
};

class MmsFault : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = StartServer().release(); }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(server_->Running()); }

  // Downloads clip.wmv with the given faults and runs until the session has ended.
  std::unique_ptr<SessionHarness> Download(const std::string& query, bool udp = false) {
    auto h = std::make_unique<SessionHarness>();
    saved_ = NewTempFolder() + "/clip.asf";
    NewMmsSession(*h, server_->MmsPort(), "clip.wmv?" + query, saved_, {.udp = udp});
    EXPECT_TRUE(h->Run()) << LogText(*h);
    EXPECT_TRUE(h->Finished());
    EXPECT_EQ(h->CountCode(mcCompleted), 0) << LogText(*h);
    return h;
  }

  static ServerProcess* server_;
  std::string saved_;
};
ServerProcess* MmsFault::server_ = nullptr;

bool LoggedStartingWith(const SessionHarness& h, const std::string& prefix) {
  for (const MessagePair& p : h.Log())
    if (p.text.rfind(prefix, 0) == 0) return true;
  return false;
}

void ExpectServerError(const SessionHarness& h) {
  EXPECT_TRUE(h.Logged("Server Error Message : You do not have access to the location or file"))
      << LogText(h);
  EXPECT_EQ(h.CountCode(mcFatal), 1) << LogText(h);
  EXPECT_EQ(h.CountCode(mcStarted), 0);
  EXPECT_EQ(h.CountCode(mcCompleted), 0);
}

TEST_F(MmsFault, EveryServerFailureCodeEndsTheSessionWithItsText) {
  // Commands after the file is opened (header request, stream selection, start): faults asked
  // for in the file name.
  for (const char* id : {"0x15", "0x33", "0x07"}) {
    SCOPED_TRACE(id);
    ExpectServerError(*Download(std::string("fail=") + id + ":0x80070005"));
  }
  // Commands before it (connect, timing, transport, open): faults set for the whole server.
  for (const char* id : {"0x01", "0x18", "0x02", "0x05"}) {
    SCOPED_TRACE(id);
    auto server = StartServer({"--faults", std::string("fail=") + id + ":0x80070005"});
    ASSERT_TRUE(server->Running());
    SessionHarness h;
    NewMmsSession(h, server->MmsPort(), "clip.wmv", NewTempFolder() + "/clip.asf");
    ASSERT_TRUE(h.Run()) << LogText(h);
    ExpectServerError(h);
    EXPECT_TRUE(h.Finished());
  }
}

TEST_F(MmsFault, UnknownFailureCodeStillEndsTheSession) {
  auto h = Download("fail=0x15:0x8BADF00D");
  EXPECT_EQ(h->CountCode(mcFatal), 1) << LogText(*h);
  EXPECT_TRUE(LoggedStartingWith(*h, "Server Error Message : ")) << LogText(*h);
}

TEST_F(MmsFault, RefusedTransport) {
  auto server = StartServer({"--faults", "refuse-transport=1"});
  ASSERT_TRUE(server->Running());
  SessionHarness h;
  NewMmsSession(h, server->MmsPort(), "clip.wmv", NewTempFolder() + "/clip.asf");
  ASSERT_TRUE(h.Run()) << LogText(h);
  // The refusal carries a failure code, so it is reported as the server's error.
  EXPECT_TRUE(h.Logged("Error: 02 protocol select failure") ||
              LoggedStartingWith(h, "Server Error Message : "))
      << LogText(h);
  EXPECT_EQ(h.CountCode(mcFatal), 1) << LogText(h);
  EXPECT_FALSE(h.Logged("- Requesting ASF header...waiting"));
}

TEST_F(MmsFault, UnknownTagEndsTheSessionKeepingThePacketsBeforeIt) {
  auto h = Download("unknown-tag=5");
  const int failed = FindText(*h, "The current MMS packet failed - Closing now");
  ASSERT_GE(failed, 0) << LogText(*h);
  ASSERT_LT(static_cast<size_t>(failed + 1), h->Log().size());
  EXPECT_EQ(h->Log()[static_cast<size_t>(failed)].code, mcMedia);
  EXPECT_EQ(h->Log()[static_cast<size_t>(failed + 1)].code, mcFatal);  // the hex dump
  const PacketMatch m = ComparePackets(SampleMedia("clip.wmv"), saved_);
  EXPECT_EQ(m.saved, 5u);
  EXPECT_GE(m.equal, 5u);
  EXPECT_GT(FfprobePacketCount(saved_), 0);
}

TEST_F(MmsFault, UnknownCommandEndsTheSession) {
  auto h = Download("unknown-command=5");
  const int at = FindText(*h, "The current MMS command was unhandled");
  ASSERT_GE(at, 0) << LogText(*h);
  EXPECT_EQ(h->Log()[static_cast<size_t>(at)].code, mcMedia);
  EXPECT_EQ(h->Log()[static_cast<size_t>(at + 1)].code, mcFatal);
  // The dump shows the message's own first bytes: lead word and signature.
  EXPECT_NE(h->Log()[static_cast<size_t>(at + 1)].text.find("CE FA 0B B0"), std::string::npos)
      << h->Log()[static_cast<size_t>(at + 1)].text;
  EXPECT_EQ(ComparePackets(SampleMedia("clip.wmv"), saved_).saved, 5u);
}

TEST_F(MmsFault, LyingLengthIsCaughtBeforeTheRing) {
  auto h = Download("bad-length=5");
  EXPECT_TRUE(h->Logged("The current MMS packet failed - Closing now")) << LogText(*h);
  const PacketMatch m = ComparePackets(SampleMedia("clip.wmv"), saved_);
  EXPECT_EQ(m.saved, 5u);
  EXPECT_EQ(m.equal, 5u);
}

TEST_F(MmsFault, DisconnectInTheMiddleOfTheHeader) {
  SessionHarness h;
  const std::string saved = NewTempFolder() + "/clip.asf";
  NewMmsSession(h, server_->MmsPort(), "clip.wmv?cut-header=1", saved);
  ASSERT_TRUE(h.Run(60s, [&] { return h.Logged("Disconnected"); })) << LogText(h);
  h.Abort();
  h.EndSession();
  EXPECT_TRUE(h.Finished());
  EXPECT_FALSE(h.Logged("- Header received and saving"));
  EXPECT_EQ(ReadWholeFile(saved).size(), 0u);
}

}  // namespace
}  // namespace qor::testing
