// The log is the record of everything the window did: saving it never touches a recording, and
// every download (a batch's entries, a Go that was cancelled) keeps its lines under a separator.

#include <algorithm>

#include "main_form_fixture.h"

namespace qor {
namespace {

class LogKept : public MainFormTest {
 protected:
  std::string HttpUrl(const std::string& name) const {
    return "http://127.0.0.1:" + std::to_string(server_->HttpPort()) + "/" + name;
  }
  int Separators() const {
    const auto lines = LogTexts();
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
      return line.rfind("-----", 0) == 0;
    }));
  }
};

TEST_F(LogKept, ACancelledOrFailedLogSaveLeavesTheRecordingRunning) {
  server_ = StartServer({"--live", "show=" + SampleMedia("clip.wmv"), "--rate", "1"});
  ASSERT_TRUE(server_->Running());
  const std::string saved = folder_.Path("live.asf");
  desktop_.FileAnswers.push_back(saved);
  Location(HttpUrl("show"), kProtoHttp);
  Form().ConnectClick();
  ASSERT_TRUE(RunUntil([&] { return Form().Session->Status().PacketNumber >= 3; }));

  // Cancelled, then a folder that does not exist.
  desktop_.FileAnswers.push_back(std::nullopt);
  desktop_.FileAnswers.push_back(folder_.Path("missing/log.txt"));
  Form().SaveLog1Click();
  Form().SaveLog1Click();
  Advance(300);
  EXPECT_EQ(CountLog("Log file saving cancelled"), 2);
  EXPECT_TRUE(Logged("Error creating the log file"));
  const auto before = Form().Session->Status().PacketNumber;
  ASSERT_TRUE(RunUntil([&] { return Form().Session->Status().PacketNumber >= before + 5; }));
  EXPECT_TRUE(Form().saveFile != nullptr);
  EXPECT_TRUE(Form().Session->IsConnected());
  EXPECT_FALSE(Logged("- ASF index seeking object written"));
  Form().AbortClick();
  Advance(300);
  EXPECT_GT(ProbeDuration(saved), 0.5);
}

TEST_F(LogKept, EveryDownloadKeepsItsLinesUnderASeparator) {
  server_ = StartServer();
  ASSERT_TRUE(server_->Running());
  const std::string first = folder_.Path("first.asf");
  desktop_.FileAnswers.push_back(first);
  Location(HttpUrl("clip.wmv"), kProtoHttp);
  Form().ConnectClick();
  ASSERT_TRUE(RunToCompletion());
  Advance(300);
  EXPECT_EQ(Separators(), 0);

  // Go, then Cancel in the save dialog: the first download's lines stay, one separator follows.
  desktop_.FileAnswers.push_back(std::nullopt);
  Form().ConnectClick();
  Advance(300);
  Form().ConnectClick();
  Advance(300);
  EXPECT_TRUE(Logged("SAVE :\t" + first));
  EXPECT_EQ(Separators(), 1);

  // A batch of two: every entry's lines stay, each under its own separator.
  Form().urlList[0] = HttpUrl("clip.wmv");
  Form().urlList[1] = HttpUrl("audio.wma");
  Form().urlCount = 2;
  Form().AutoSaveDir = folder_.Path() + "/";
  Form().ConnectBatchClick();
  ASSERT_TRUE(RunUntil([&] { return !Form().batchActive && !Form().Session->IsConnected(); }));
  Advance(300);
  EXPECT_TRUE(Logged("SAVE :\t" + first));
  EXPECT_TRUE(Logged("URL  :\t" + HttpUrl("clip.wmv")));
  EXPECT_TRUE(Logged("URL  :\t" + HttpUrl("audio.wma")));
  EXPECT_EQ(CountLog("- ** DOWNLOAD COMPLETED ** -"), 3);
  // The first entry follows the separator the cancelled Go left.
  EXPECT_EQ(Separators(), 2);
  // What is saved is what is shown.
  const std::string log = folder_.Path("all.txt");
  desktop_.FileAnswers.push_back(log);
  Form().SaveLog1Click();
  EXPECT_EQ(ReadText(log), Form().LogWindow.Text());
  EXPECT_NE(ReadText(log).find("SAVE :\t" + first), std::string::npos);
}

}  // namespace
}  // namespace qor
