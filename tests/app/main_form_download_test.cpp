// Whole downloads through the main window's handlers, from the real qor-server.

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <filesystem>
#include <fstream>

#include "app/convert_error.h"
#include "app/main_info_dialog.h"
#include "app/mms_password_dlg.h"
#include "app/resume_dlg.h"
#include "asf/asf.h"
#include "asf/media_info.h"
#include "main_form_fixture.h"

namespace qor {
namespace {

class MainFormDownload : public MainFormTest {
 protected:
  void SetUp() override {
    MainFormTest::SetUp();
    server_ = StartServer();
    ASSERT_TRUE(server_->Running());
  }
  std::string HttpUrl(const std::string& name) const {
    return "http://127.0.0.1:" + std::to_string(server_->HttpPort()) + "/" + name;
  }
  std::string RtspUrl(const std::string& scheme, const std::string& name) const {
    return scheme + "://127.0.0.1:" + std::to_string(server_->RtspPort()) + "/" + name;
  }
  std::string MmsUrl(const std::string& name) const {
    return "mms://127.0.0.1:" + std::to_string(server_->MmsPort()) + "/" + name;
  }
  // Index of the first log line equal to text; -1 when absent.
  int IndexOf(const std::string& text) const {
    const auto lines = LogTexts();
    const auto it = std::find(lines.begin(), lines.end(), text);
    return it == lines.end() ? -1 : static_cast<int>(it - lines.begin());
  }
};

TEST_F(MainFormDownload, HttpDownloadIsLoggedFinishedAndPlayable) {
  const std::string saved = folder_.Path("clip.asf");
  desktop_.FileAnswers.push_back(saved);
  Location(HttpUrl("clip.wmv"), kProtoHttp);
  Form().ConnectClick();
  ASSERT_TRUE(RunToCompletion());
  Advance(200);

  // The start's three lines come first, then the session's, then the finishing in its order.
  EXPECT_EQ(IndexOf("OPEN :\t" + HttpUrl("clip.wmv")), 0);
  EXPECT_EQ(IndexOf("SAVE :\t" + saved), 1);
  EXPECT_EQ(IndexOf("URL  :\t" + HttpUrl("clip.wmv")), 2);
  const int receiving = IndexOf("- Receiving HTTP protocol streams -");
  const int header = IndexOf("- ASF header was successfully updated");
  const int timecode = IndexOf("- ASF end resume timecode written");
  const int index = IndexOf("- ASF index seeking object written");
  const int done = IndexOf("- ** DOWNLOAD COMPLETED ** -");
  ASSERT_GT(receiving, 2);
  EXPECT_LT(receiving, header);
  EXPECT_EQ(timecode, header + 1);
  EXPECT_EQ(index, header + 2);
  EXPECT_EQ(done, header + 3);
  EXPECT_EQ(CountLog("- ASF header was successfully updated"), 1);
  // Notices are blue.
  EXPECT_EQ(Form().LogWindow.Lines()[static_cast<size_t>(done)].Color, clBlue);

  EXPECT_FALSE(Form().saveFile);
  // Completion shows 100 % and keeps it: the counter timer, still running a moment after, must not
  // recompute it from the last packet counted.
  Advance(3000);
  EXPECT_EQ(Form().ProgBar.Gauge.Progress(), 100);
  EXPECT_TRUE(Form().Standby.Visible);
  EXPECT_TRUE(Form().Connect.Enabled);
  EXPECT_FALSE(Form().Abort.Enabled);
  EXPECT_EQ(Stored("AsfDir"), folder_.Path() + "/");
  EXPECT_NEAR(ProbeDuration(saved), ProbeDuration(SampleMedia("clip.wmv")), 0.5);
  // The dialog was set up as the window sets it up.
  const auto saves = desktop_.CallsOf(ScriptedDesktop::CallKind::SaveFile);
  ASSERT_EQ(saves.size(), 1u);
  EXPECT_EQ(saves[0].Request.Title, "Create / Resume save file");
  EXPECT_EQ(saves[0].Request.FileName, "clip.wmv");
  EXPECT_EQ(saves[0].Request.DefaultExt, "asf");
  EXPECT_FALSE(saves[0].Request.OverwritePrompt);
}

TEST_F(MainFormDownload, MmsOverTcpWithThePortInTheLocation) {
  const std::string saved = folder_.Path("clip.asf");
  desktop_.FileAnswers.push_back(saved);
  // The stored MMS port is wrong on purpose: the location's own port must win.
  Options().TCPPort.Text = "1";
  Location(MmsUrl("clip.wmv"), kProtoTcp);
  Form().ConnectClick();
  ASSERT_TRUE(RunToCompletion());
  EXPECT_TRUE(Logged("- Receiving MMS via TCP protocol streams -"));
  EXPECT_TRUE(Logged("- ** DOWNLOAD COMPLETED ** -"));
  EXPECT_NEAR(ProbeDuration(saved), ProbeDuration(SampleMedia("clip.wmv")), 0.5);
}

TEST_F(MainFormDownload, CompletionSavesTheLogAndStartsThePlayer) {
  const std::string saved = folder_.Path("clip.wmv");
  const std::string log = folder_.Path("clip.txt");
  desktop_.FileAnswers.push_back(saved);
  desktop_.FileAnswers.push_back(log);
  Options().AutoLogTick.Checked = true;
  Options().AutoPlayTick.Checked = true;
  Location(HttpUrl("clip.wmv"), kProtoHttp);
  Form().ConnectClick();
  ASSERT_TRUE(RunToCompletion());
  Advance(300);

  const auto saves = desktop_.CallsOf(ScriptedDesktop::CallKind::SaveFile);
  ASSERT_EQ(saves.size(), 2u);
  EXPECT_EQ(saves[1].Request.Title, "Save Log File");
  EXPECT_EQ(saves[1].Request.FileName, "clip.txt");
  EXPECT_EQ(saves[1].Request.FilterIndex, 3);
  EXPECT_TRUE(saves[1].Request.OverwritePrompt);
  const std::string text = ReadText(log);
  EXPECT_EQ(text.rfind("> OPEN :\t", 0), 0u);
  // Saved while completing: the lines drained before; the finishing lines are still queued.
  EXPECT_NE(text.find("> URL  :\t" + HttpUrl("clip.wmv") + "\r\n"), std::string::npos);
  EXPECT_EQ(text.find("ASF header was successfully updated"), std::string::npos);
  EXPECT_TRUE(Logged("Log file was saved"));
  EXPECT_TRUE(Logged("Media Loaded -> Player activated"));
  const auto shell = desktop_.CallsOf(ScriptedDesktop::CallKind::Shell);
  ASSERT_EQ(shell.size(), 1u);
  EXPECT_EQ(shell[0].Text, saved);
  EXPECT_EQ(Stored("LogDir"), folder_.Path() + "/");
}

TEST_F(MainFormDownload, AbortFinishesTheFileOnceAndNothingIsWrittenAfter) {
  const std::string saved = folder_.Path("clip.asf");
  desktop_.FileAnswers.push_back(saved);
  Location(HttpUrl("clip.wmv?stall=60&stall-after=25"), kProtoHttp);
  Form().ConnectClick();
  ASSERT_TRUE(RunUntil([this] { return Form().Session->Status().PacketNumber >= 20; }));
  Form().batchActive = true;
  Form().unattended = true;
  Form().AbortClick();
  EXPECT_FALSE(Form().saveFile);
  EXPECT_FALSE(Form().batchActive);
  EXPECT_FALSE(Form().unattended);
  Advance(300);
  EXPECT_EQ(CountLog("- ASF header was successfully updated"), 1);
  EXPECT_EQ(CountLog("- ASF index seeking object written"), 1);
  EXPECT_FALSE(Logged("- ** DOWNLOAD COMPLETED ** -"));
  const int64_t size = FileSize(saved);
  Advance(1000);
  EXPECT_EQ(FileSize(saved), size);
  EXPECT_GT(ProbeDuration(saved), 0.5);
  EXPECT_FALSE(Form().Session->IsConnected());
}

TEST_F(MainFormDownload, AbortWhileTheServerKeepsStreamingLeavesAnExactFile) {
  server_ = StartServer({"--rate", "1"});
  ASSERT_TRUE(server_->Running());
  const std::string saved = folder_.Path("clip.asf");
  desktop_.FileAnswers.push_back(saved);
  Location(HttpUrl("clip.wmv"), kProtoHttp);
  Form().ConnectClick();
  ASSERT_TRUE(RunUntil([this] { return Form().Session->Status().PacketNumber >= 5; }));
  Form().AbortClick();
  // A file opened right after may get the descriptor the save file had: nothing may land in it.
  const std::string other = folder_.Path("other.bin");
  FileHandle next;
  ASSERT_TRUE(next.Open(other, FileHandle::Mode::CreateTruncate));
  Advance(1500);
  EXPECT_EQ(FileSize(other), 0);

  TASF asf;
  ASSERT_TRUE(asf.ReadHeaderFromFile(saved));
  ASSERT_GT(asf.DataPacketsCount, 4u);
  const uint64_t dataEnd = asf.FirstPacketOffset() + asf.DataPacketsCount * asf.PacketSize;
  const std::string bytes = ReadText(saved);
  ASSERT_GT(bytes.size(), dataEnd + 24);
  uint64_t indexSize = 0;
  for (int i = 0; i < 8; ++i)
    indexSize |= static_cast<uint64_t>(static_cast<uint8_t>(bytes[dataEnd + 16 + i])) << (8 * i);
  EXPECT_EQ(bytes.size(), dataEnd + indexSize);
  EXPECT_GT(ProbeDuration(saved), 0.1);
}

int OpenDescriptors() {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++n;
  return n;
}

TEST_F(MainFormDownload, GoAfterAServerDropFinishesTheFirstFile) {
  const int descriptors = OpenDescriptors();
  const std::string first = folder_.Path("first.asf");
  const std::string second = folder_.Path("second.asf");
  desktop_.FileAnswers.push_back(first);
  desktop_.FileAnswers.push_back(second);
  Location(HttpUrl("clip.wmv?disconnect=20"), kProtoHttp);
  Form().ConnectClick();
  ASSERT_TRUE(RunUntil([this] {
    return Form().Session->Status().PacketNumber >= 15 && !Form().Session->IsConnected();
  }));
  Advance(300);
  // The cut ends the download by itself, and Go may come before or after that end is seen: the
  // first file is finished either way.
  Location(HttpUrl("clip.wmv"), kProtoHttp);
  Form().ConnectClick();
  TASF asf;
  ASSERT_TRUE(asf.ReadHeaderFromFile(first));
  EXPECT_GE(asf.DataPacketsCount, 16u);
  EXPECT_GT(ProbeDuration(first), 1.0);
  ASSERT_TRUE(RunToCompletion());
  Advance(300);
  EXPECT_NEAR(ProbeDuration(second), ProbeDuration(SampleMedia("clip.wmv")), 0.5);
  // The stopped session's connection closes on its own thread: wait for it rather than race it.
  EXPECT_TRUE(RunUntil([&] { return OpenDescriptors() == descriptors; }, 20000))
      << OpenDescriptors() << " open, " << descriptors << " before";
}

TEST_F(MainFormDownload, TearingTheWindowDownFinishesTheFile) {
  const std::string saved = folder_.Path("clip.asf");
  desktop_.FileAnswers.push_back(saved);
  Location(HttpUrl("clip.wmv?stall=60&stall-after=25"), kProtoHttp);
  Form().ConnectClick();
  ASSERT_TRUE(RunUntil([this] { return Form().Session->Status().PacketNumber >= 20; }));
  app_.reset();
  TASF asf;
  ASSERT_TRUE(asf.ReadHeaderFromFile(saved));
  EXPECT_GE(asf.DataPacketsCount, 21u);
  EXPECT_GT(ProbeDuration(saved), 1.0);
}

TEST_F(MainFormDownload, FatalMessageFinishesTheFileOnce) {
  const std::string saved = folder_.Path("clip.asf");
  desktop_.FileAnswers.push_back(saved);
  Location(HttpUrl("clip.wmv?stall=60&stall-after=25"), kProtoHttp);
  Form().ConnectClick();
  ASSERT_TRUE(RunUntil([this] { return Form().Session->Status().PacketNumber >= 20; }));
  // A window-side code-8 message (Preview without a local file) ends the running download.
  Form().SaveWindow.Caption.clear();
  Form().MediaWindow.Caption = "http://example.invalid/x.wmv";
  Form().PreviewClick();
  Advance(300);
  EXPECT_TRUE(Logged("No valid media type to open player"));
  EXPECT_FALSE(Form().saveFile);
  EXPECT_EQ(CountLog("- ASF header was successfully updated"), 1);
  // A second finish finds no file.
  Form().FinishSaveFile();
  Advance(300);
  EXPECT_EQ(CountLog("- ASF header was successfully updated"), 1);
  EXPECT_GT(ProbeDuration(saved), 0.5);
}

TEST_F(MainFormDownload, InfoDuringADownloadLeavesTheSessionsModelAlone) {
  const std::string saved = folder_.Path("clip.asf");
  desktop_.FileAnswers.push_back(saved);
  Location(HttpUrl("clip.wmv?stall=60&stall-after=25"), kProtoHttp);
  Form().ConnectClick();
  ASSERT_TRUE(RunUntil([this] { return Form().Session->Status().PacketNumber >= 20; }));
  Form().InfoClick();
  // The dialog describes the save file, read into a model of its own: the session's model, which
  // its thread reads and parses into, was not rewritten from the window thread.
  const MediaInfoReport& shown = app_->InfoDialog->Report;
  EXPECT_FALSE(shown.Created_File.empty());
  EXPECT_FALSE(shown.StreamProp.empty());
  EXPECT_TRUE(Form().Asf.Snapshot().FileWrittenText.empty());
  Form().AbortClick();
  Advance(300);
  // Once the session has ended the shared model takes the file's header again.
  ASSERT_TRUE(RunUntil([this] { return Form().Session->Finished(); }));
  Form().InfoClick();
  EXPECT_FALSE(Form().Asf.Snapshot().FileWrittenText.empty());
}

// Enter in the location box is Go; a location that started a download is offered again, one that
// did not start is not.
TEST_F(MainFormDownload, EnterInTheLocationBoxIsGoAndAStartedLocationIsKept) {
  desktop_.FileAnswers.push_back(folder_.Path("enter.asf"));
  Location(HttpUrl("clip.wmv"), kProtoHttp);
  Form().URL.OnKeyDown(kKeyReturn);
  ASSERT_TRUE(RunToCompletion());
  Advance(300);
  EXPECT_EQ(Form().URL.Items.IndexOf(HttpUrl("clip.wmv")), 0);
  Form().URL.Text = HttpUrl("audio.wma");
  Form().URL.OnKeyDown(kKeyReturn);  // the save dialog is cancelled
  Advance(300);
  EXPECT_EQ(desktop_.CallsOf(ScriptedDesktop::CallKind::SaveFile).size(), 2u);
  EXPECT_EQ(Form().URL.Items.IndexOf(HttpUrl("audio.wma")), -1);
}

// A file still being written is not a truncated one; an open dialog follows the next download.
TEST_F(MainFormDownload, InfoOfARunningDownloadIsNotTruncatedAndFollowsTheNextOne) {
  desktop_.FileAnswers.push_back(folder_.Path("clip.asf"));
  Location(HttpUrl("clip.wmv?stall=60&stall-after=25"), kProtoHttp);
  Form().ConnectClick();
  ASSERT_TRUE(RunUntil([this] { return Form().Session->Status().PacketNumber >= 20; }));
  Form().InfoClick();
  const MediaInfoReport& shown = app_->InfoDialog->Report;
  EXPECT_EQ(shown.FileSize.find("truncated"), std::string::npos) << shown.FileSize;
  EXPECT_EQ(shown.ASFTotalPackets.find("truncated"), std::string::npos) << shown.ASFTotalPackets;
  EXPECT_NE(shown.FileSize.find("so far"), std::string::npos) << shown.FileSize;
  Form().AbortClick();
  Advance(300);

  desktop_.FileAnswers.push_back(folder_.Path("audio.asf"));
  Location(HttpUrl("audio.wma"), kProtoHttp);
  Form().ConnectClick();
  ASSERT_TRUE(RunToCompletion());
  Advance(300);
  ASSERT_TRUE(app_->InfoDialog->Visible);
  std::string streams;
  for (const std::string& line : shown.StreamProp) streams += line + "\n";
  EXPECT_EQ(streams.find("[Video]"), std::string::npos) << streams;
  EXPECT_NE(streams.find("[Audio]"), std::string::npos) << streams;
}

// The media information tells nothing it does not know: with no header anywhere, or a header
// that belongs to neither a named file nor a download, its pages are empty rather than stale;
// its site is the location downloaded, not whatever MediaWindow shows.
TEST_F(MainFormDownload, InfoNamesTheDownloadedLocationAndShowsNothingStale) {
  Form().InfoClick();
  EXPECT_TRUE(desktop_.Messages().empty());
  EXPECT_EQ(desktop_.CallsOf(ScriptedDesktop::CallKind::Modeless).size(), 1u);
  EXPECT_TRUE(app_->InfoDialog->Report.Clip.empty());
  EXPECT_EQ(app_->InfoDialog->Report.TotalStreams, "0");

  Form().MediaWindow.Caption = SampleMedia("clip.wmv");
  Form().InfoClick();
  EXPECT_EQ(app_->InfoDialog->Report.Location, SampleMedia("clip.wmv"));
  EXPECT_NE(app_->InfoDialog->Report.TotalStreams, "0");
  Form().MediaWindow.Caption = "http://127.0.0.1/list.asx";
  Form().InfoClick();
  EXPECT_EQ(app_->InfoDialog->Report.TotalStreams, "0");
  EXPECT_TRUE(app_->InfoDialog->Report.Location.empty());
  EXPECT_TRUE(desktop_.Messages().empty());

  // As in a batch: MediaWindow names the play list, URL the entry being downloaded.
  const std::string saved = folder_.Path("clip.asf");
  desktop_.FileAnswers.push_back(saved);
  Location(HttpUrl("clip.wmv"), kProtoHttp);
  Form().MediaWindow.Caption = "http://127.0.0.1/list.asx";
  Form().ConnectClick();
  ASSERT_TRUE(RunToCompletion());
  Form().InfoClick();
  EXPECT_EQ(app_->InfoDialog->Report.Location, HttpUrl("clip.wmv"));
  EXPECT_FALSE(app_->InfoDialog->Report.StreamProp.empty());
}

TEST_F(MainFormDownload, StaleSessionMessagesAreLoggedButDoNotAct) {
  const std::string saved = folder_.Path("clip.asf");
  desktop_.FileAnswers.push_back(saved);
  Location(HttpUrl("clip.wmv?stall=4&stall-after=25"), kProtoHttp);
  Form().ConnectClick();
  ASSERT_TRUE(RunUntil([this] { return Form().Session->Status().PacketNumber >= 10; }));
  const MessageSource stale = Form().Session->Source + 1000;
  Form().Messages.Post("an old session failed", mcFatal, stale);
  Form().Messages.Post("an old session completed", mcCompleted, stale);
  // Not the recording that goes on: its disconnection says whose it is.
  Form().Messages.Post("Disconnected", mcNotice, stale);
  Advance(300);
  EXPECT_TRUE(Logged("an old session failed"));
  EXPECT_EQ(CountLog(kPreviousConnectionClosed), 1);
  EXPECT_TRUE(Form().saveFile);
  ASSERT_TRUE(RunToCompletion());
  EXPECT_EQ(CountLog("- ** DOWNLOAD COMPLETED ** -"), 1);
}

TEST_F(MainFormDownload, NewTrackFinishesTheFirstFileAndRecordsIntoAnAutomaticName) {
  server_ =
      StartServer({"--live", "show=" + SampleMedia("clip.wmv") + "," + SampleMedia("audio.wma"),
                   "--rate", "8"});
  ASSERT_TRUE(server_->Running());
  const std::string first = folder_.Path("first.asf");
  desktop_.FileAnswers.push_back(first);
  Form().AutoSaveDir = folder_.Path() + "/";
  Location(HttpUrl("show"), kProtoHttp);
  Form().ConnectClick();
  ASSERT_TRUE(RunUntil([this] { return Logged("Media changing.. new track detected"); }));
  const std::string second = folder_.Path("_1_show_live.asf");
  ASSERT_TRUE(RunUntil([&] { return Form().Session->Status().PacketNumber >= 5; }));
  EXPECT_EQ(Form().SaveWindow.Caption, second);
  EXPECT_TRUE(Form().unattended);
  // The first file was finished before the restart and plays.
  EXPECT_GT(ProbeDuration(first), 0.5);
  Form().AbortClick();
  Advance(300);
  EXPECT_GT(ProbeDuration(second), 0.1);
  EXPECT_EQ(desktop_.CallsOf(ScriptedDesktop::CallKind::SaveFile).size(), 1u);
}

// The first packet of a file (its key frame, send time 0), read through the header's layout.
std::vector<uint8_t> FirstPacket(const std::string& path) {
  TASF model;
  if (!model.ReadHeaderFromFile(path) || model.PacketSize == 0) return {};
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(model.FirstPacketOffset()));
  std::vector<uint8_t> packet(model.PacketSize);
  in.read(reinterpret_cast<char*>(packet.data()), static_cast<std::streamsize>(packet.size()));
  return in ? packet : std::vector<uint8_t>{};
}

// A live play list changes entry: the next file starts with the next entry's first packet (sent
// on the old connection while the new one was being made), and no file of the ended entry's tail
// appears, over the transports that reconnect for the change.
TEST_F(MainFormDownload, NewTrackFileStartsWithTheEntrysFirstPacket) {
  const std::vector<uint8_t> source = FirstPacket(SampleMedia("clip.wmv"));
  ASSERT_FALSE(source.empty());
  AsfPacketTimes times;
  ASSERT_TRUE(ReadAsfPacketTimes(source.data(), source.size(), times));
  ASSERT_EQ(times.sendTime, 0u);  // so the shifted copy equals it byte for byte
  for (const int32_t protocol : {kProtoHttp, kProtoTcp, kProtoRtspTcp, kProtoRtspUdp}) {
    SCOPED_TRACE(protocol);
    const std::string dir = folder_.Path("protocol-" + std::to_string(protocol));
    std::filesystem::create_directories(dir);
    server_ =
        StartServer({"--live", "show=" + SampleMedia("audio.wma") + "," + SampleMedia("clip.wmv"),
                     "--rate", "4", "--rtsp-port", "0"});
    ASSERT_TRUE(server_->Running());
    Form().AutoSaveDir = dir + "/";
    Form().unattended = true;
    const std::string url = protocol == kProtoHttp      ? HttpUrl("show")
                            : protocol == kProtoTcp     ? MmsUrl("show")
                            : protocol == kProtoRtspTcp ? RtspUrl("rtspt", "show")
                                                        : RtspUrl("rtspu", "show");
    Location(url, protocol);
    Form().ConnectClick();
    const std::string first = dir + "/_1_show_live.asf";
    const std::string next = dir + "/_2_show_live.asf";
    ASSERT_TRUE(RunUntil([&] {
      return Form().SaveWindow.Caption == next && Form().Session->Status().PacketNumber >= 8;
    }));
    Form().AbortClick();
    Advance(300);
    EXPECT_GT(ProbeDuration(first), 0.5);
    EXPECT_EQ(FirstPacket(next), source) << [&] {
      std::string all;
      for (const std::string& line : LogTexts()) all += line + "\n";
      return all;
    }();
    EXPECT_EQ(FileSize(dir + "/_3_show_live.asf"), -1);
    Form().unattended = false;
  }
}

// A live recording cut by the server goes on into the next file by itself, and the log keeps
// the cut: the reconnect is the same recording, not a new start.
TEST_F(MainFormDownload, ACutLiveRecordingReconnectsIntoTheNextFileAndKeepsItsLog) {
  server_ =
      StartServer({"--live", "show=" + SampleMedia("clip.wmv"), "--rate", "1", "--drop-live", "2"});
  ASSERT_TRUE(server_->Running());
  Form().AutoSaveDir = folder_.Path() + "/";
  Form().unattended = true;
  Location(HttpUrl("show"), kProtoHttp);
  Form().ConnectClick();
  const std::string cut =
      "- The live stream was cut (1 so far): reconnecting in 1 s (attempt 1 of 3)";
  ASSERT_TRUE(RunUntil([&] {
    return Logged(cut) && Form().Session->Status().PacketNumber >= 3 &&
           Form().SaveWindow.Caption == folder_.Path("_2_show_live.asf");
  }));
  Form().AbortClick();
  Advance(300);
  EXPECT_EQ(CountLog(cut), 1);
  const auto lines = LogTexts();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
    return line.rfind("- Reconnected: ", 0) == 0;
  }));
  EXPECT_GT(ProbeDuration(folder_.Path("_1_show_live.asf")), 1.0);
  EXPECT_GT(ProbeDuration(folder_.Path("_2_show_live.asf")), 0.1);
}

// Under the default TCP choice, as the command line: an http:// entry keeps to HTTP and a plain
// mms:// one follows the stored choice.
TEST_F(MainFormDownload, BatchGoesOnPastAFailingEntry) {
  Form().AutoSaveDir = folder_.Path() + "/";
  Options().ProtoGroup.ItemIndex = kProtoTcp;
  const std::vector<std::string> entries{HttpUrl("missing.wmv"), HttpUrl("clip.wmv"),
                                         MmsUrl("audio.wma")};
  for (size_t i = 0; i < entries.size(); ++i) Form().urlList[i] = entries[i];
  Form().urlCount = 3;
  Form().URL.Text = entries[0];
  std::vector<std::string> receiving;
  Form().OnDrained = [&receiving](const MessagePair& pair, bool) {
    if (pair.text.rfind("- Receiving ", 0) == 0) receiving.push_back(pair.text);
  };
  Form().ConnectBatchClick();
  ASSERT_TRUE(RunUntil([this] { return !Form().batchActive; }));
  Advance(300);
  EXPECT_FALSE(Form().unattended);
  EXPECT_EQ(CountLog("Media changing.. new playlist track"), 3);  // the log keeps every entry
  EXPECT_EQ(desktop_.CallsOf(ScriptedDesktop::CallKind::SaveFile).size(), 0u);
  // The entry that failed leaves no empty file behind.
  EXPECT_EQ(FileSize(folder_.Path("_1_missing.wmv")), -1);
  EXPECT_EQ(receiving, (std::vector<std::string>{"- Receiving HTTP protocol streams -",
                                                 "- Receiving MMS via TCP protocol streams -"}));
  EXPECT_NEAR(ProbeDuration(folder_.Path("_1_clip.wmv")), ProbeDuration(SampleMedia("clip.wmv")),
              0.5);
  EXPECT_NEAR(ProbeDuration(folder_.Path("_1_audio.wma")), ProbeDuration(SampleMedia("audio.wma")),
              0.5);
  EXPECT_EQ(Form().batchIndex, 3);
}

TEST_F(MainFormDownload, ResumeQuestionAnswers) {
  const std::string saved = folder_.Path("clip.asf");
  {
    std::ofstream out(saved);
    out << "precious";
  }
  // Cancel: the file is not touched and nothing starts. The question says what a resume would do.
  std::string said;
  desktop_.FileAnswers.push_back(saved);
  desktop_.ModalScripts.push_back([&said](TForm& form) {
    auto& dialog = static_cast<TResumeDlg&>(form);
    said = dialog.Message.Lines[dialog.Message.Lines.Count() - 1];
    dialog.CancelBtn.Click();
  });
  Location(HttpUrl("clip.wmv"), kProtoHttp);
  Form().ConnectClick();
  Advance(300);
  EXPECT_EQ(ReadText(saved), "precious");
  EXPECT_FALSE(Form().Session->Started());
  EXPECT_EQ(said, "Resume asks for the rest of a plain file from byte 8.");
  // Overwrite: replaced by the download.
  desktop_.FileAnswers.push_back(saved);
  desktop_.ModalScripts.push_back(
      [](TForm& form) { static_cast<TResumeDlg&>(form).OverwriteBtn.Click(); });
  Form().ConnectClick();
  ASSERT_TRUE(RunToCompletion());
  EXPECT_NEAR(ProbeDuration(saved), ProbeDuration(SampleMedia("clip.wmv")), 0.5);
  const auto modal = desktop_.CallsOf(ScriptedDesktop::CallKind::Modal);
  ASSERT_EQ(modal.size(), 2u);
  EXPECT_EQ(modal[0].Text, "Resume / Overwrite file");
  // An ASF file ending inside a packet is resumed from its last whole one; one that holds no
  // whole packet cannot be.
  const std::string text = ReadText(saved);
  const std::vector<uint8_t> whole(text.begin(), text.end());
  AsfResumePoint point;
  std::string why;
  const auto readAt = [&whole](uint64_t at, void* buffer, size_t count) -> int64_t {
    if (at >= whole.size()) return 0;
    const size_t n = std::min<size_t>(count, whole.size() - at);
    std::memcpy(buffer, whole.data() + at, n);
    return static_cast<int64_t>(n);
  };
  ASSERT_TRUE(FindAsfResumePoint(readAt, whole.size(), point, why)) << why;
  ASSERT_GT(point.packets, 10u);
  const uint64_t held = point.packets / 2;
  const size_t cut = point.headerLength + held * point.packetSize + point.packetSize / 2;
  AsfPacketTimes times;
  ASSERT_TRUE(ReadAsfPacketTimes(whole.data() + point.headerLength + (held - 1) * point.packetSize,
                                 point.packetSize, times));
  std::ofstream(saved, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(whole.data()), static_cast<std::streamsize>(cut));
  char expected[64];
  std::snprintf(expected, sizeof expected, "Resuming at 00:00:%02u (packet %u of the file).",
                times.sendTime / 1000, static_cast<unsigned>(held));
  EXPECT_EQ(TResumeDlg::ResumeSummary(saved), expected);
  std::ofstream(saved, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(whole.data()),
             static_cast<std::streamsize>(point.headerLength + point.packetSize / 2));
  EXPECT_EQ(TResumeDlg::ResumeSummary(saved),
            "It cannot be resumed: the file holds no whole packet.");
}

TEST_F(MainFormDownload, MmsPasswordDialogRoundTrip) {
  server_ = StartServer({"--password", "ann:s3cret"});
  ASSERT_TRUE(server_->Running());
  const std::string saved = folder_.Path("clip.asf");
  desktop_.FileAnswers.push_back(saved);
  std::string site;
  desktop_.ModalScripts.push_back([&site](TForm& form) {
    auto& dialog = static_cast<TMmsPasswordDlg&>(form);
    site = dialog.Site.Caption;
    dialog.Id.Text = "ann";
    dialog.Password.Text = "s3cret";
    dialog.SavePassTick.Checked = false;
    dialog.Button1.Click();
  });
  Location(MmsUrl("clip.wmv"), kProtoTcp);
  Form().ConnectClick();
  ASSERT_TRUE(RunToCompletion());
  EXPECT_EQ(site, "127.0.0.1");
  EXPECT_TRUE(Logged("- ** DOWNLOAD COMPLETED ** -"));
  EXPECT_EQ(Stored("Authm"), "");
}

TEST_F(MainFormDownload, MmsPasswordCancelledEndsTheSession) {
  server_ = StartServer({"--password", "ann:s3cret"});
  ASSERT_TRUE(server_->Running());
  desktop_.FileAnswers.push_back(folder_.Path("clip.asf"));
  desktop_.ModalScripts.push_back(
      [](TForm& form) { static_cast<TMmsPasswordDlg&>(form).Button2.Click(); });
  Location(MmsUrl("clip.wmv"), kProtoTcp);
  Form().ConnectClick();
  ASSERT_TRUE(RunUntil([this] { return Logged("Session aborted, connection now closing"); }));
  Advance(300);
  EXPECT_FALSE(Form().saveFile);
}

TEST_F(MainFormDownload, StopClosesAnOpenPasswordDialog) {
  server_ = StartServer({"--password", "ann:s3cret"});
  ASSERT_TRUE(server_->Running());
  desktop_.FileAnswers.push_back(folder_.Path("clip.asf"));
  bool shown = false;
  bool closedByStop = false;
  desktop_.ModalScripts.push_back([&](TForm& form) {
    shown = true;
    Form().StopSession();
    closedByStop = form.ModalDone();
  });
  Location(MmsUrl("clip.wmv"), kProtoTcp);
  Form().ConnectClick();
  ASSERT_TRUE(RunUntil([&] { return shown; }));
  EXPECT_TRUE(closedByStop);
  ASSERT_TRUE(RunUntil([this] { return Form().Session->Finished(); }));
  Advance(300);
  // A stopped session gives up quietly: the user did not refuse anything.
  EXPECT_FALSE(Logged("Session aborted, connection now closing"));
  EXPECT_FALSE(Form().Session->IsConnected());
}

TEST_F(MainFormDownload, ConversionErrorReachesTheExceptionHandler) {
  desktop_.FileAnswers.push_back(folder_.Path("clip.asf"));
  Options().HTTPPort.Text = "eighty";
  Location(HttpUrl("clip.wmv"), kProtoHttp);
  // As a window event: whatever escapes the handler goes to the window's exception handler.
  app_->Window.Queue([this] { Form().ConnectClick(); });
  Advance(300);
  EXPECT_TRUE(Logged("Qor Main App: An exception occured and reads :-"));
  // The text says which setting of which file is wrong.
  EXPECT_TRUE(Logged("'eighty' is not a valid integer value (setting HTTPPort in " +
                     store_->FilePath() + ")"));
  EXPECT_FALSE(Form().saveFile);
  EXPECT_FALSE(Form().Session->Started());
}

}  // namespace
}  // namespace qor
