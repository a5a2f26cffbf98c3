// Timed recording on the manual clock: arming, the start within a second, the stop at the end.

#include "app/date_time_dlg.h"
#include "app/date_time_text.h"
#include "main_form_fixture.h"

namespace qor {
namespace {

constexpr double kSecond = 1.0 / 86400.0;

class Vcr : public MainFormTest {
 protected:
  // Sets the two moments through the VCR time dialog, as a user would.
  void SetMoments(TDateTime start, TDateTime end) {
    desktop_.ModalScripts.push_back([start, end](TForm& form) {
      auto& dialog = static_cast<TDateTimeDlg&>(form);
      dialog.DateTimePicker1.DateTime = DateOf(start);
      dialog.DateTimePicker2.DateTime = TimeOf(start);
      dialog.DateTimePicker3.DateTime = DateOf(end);
      dialog.DateTimePicker4.DateTime = TimeOf(end);
      dialog.Button1.Click();
    });
    Form().VcrSetClick();
  }
  TDateTime Now() const { return LocalNow(clock_); }
  void StartServerAndLocation(const std::string& query) {
    server_ = StartServer();
    ASSERT_TRUE(server_->Running());
    Form().URL.Text =
        "http://127.0.0.1:" + std::to_string(server_->HttpPort()) + "/clip.wmv" + query;
    Options().ProtoGroup.ItemIndex = kProtoHttp;
    Form().AutoSaveDir = folder_.Path() + "/";
  }
};

TEST_F(Vcr, ArmingNeedsALocation) {
  Form().URL.Text.clear();
  Form().VcrPowerClick();
  EXPECT_EQ(desktop_.Messages(), std::vector<std::string>{"No media location specified for VCR"});
  EXPECT_FALSE(Form().VcrArmed());
  EXPECT_FALSE(Form().Timer4.Enabled());
}

TEST_F(Vcr, UnsetOrPastMomentsNeverRecord) {
  Form().URL.Text = "mms://127.0.0.1/live";
  Form().VcrPowerClick();
  EXPECT_TRUE(Form().VcrArmed());
  EXPECT_TRUE(Form().VCR.Visible);
  Advance(5000);
  EXPECT_FALSE(Form().vcrRecording);
  EXPECT_TRUE(Logged("VCR timer activated and waiting..."));

  SetMoments(Now() - 120 * kSecond, Now() - 60 * kSecond);
  Advance(5000);
  EXPECT_FALSE(Form().vcrRecording);
  EXPECT_TRUE(Form().Timer4.Enabled());
  Form().VcrPowerClick();
  Advance(200);
  EXPECT_TRUE(Logged("VCR timer stopped"));
  EXPECT_FALSE(Form().Timer4.Enabled());
  EXPECT_TRUE(Form().Standby.Visible);
  EXPECT_FALSE(Form().Session->Started());
}

TEST_F(Vcr, RecordsFromTheStartToTheEndMoment) {
  StartServerAndLocation("?stall=120&stall-after=25");
  const TDateTime start = Now() - 10 * kSecond;
  const TDateTime end = Now() + 30 * kSecond;
  SetMoments(start, end);
  EXPECT_EQ(Stored("VcrOn"), FormatStoredDateTime(start));
  EXPECT_EQ(Stored("VcrOff"), FormatStoredDateTime(end));
  Form().VcrPowerClick();
  // Within one second of arming the recording starts, unattended, into an automatic name.
  Advance(1000);
  EXPECT_TRUE(Form().vcrRecording);
  EXPECT_TRUE(Form().unattended);
  const std::string saved = folder_.Path("_1_clip.wmv");
  EXPECT_EQ(Form().SaveWindow.Caption, saved);
  ASSERT_TRUE(RunUntil([this] { return Form().Session->Status().PacketNumber >= 20; }));
  Advance(200);
  EXPECT_TRUE(Logged("VCR ON, now recording...."));

  Advance(30000);
  EXPECT_TRUE(Logged("VCR OFF, end time reached"));
  EXPECT_FALSE(Form().vcrRecording);
  EXPECT_FALSE(Form().unattended);
  EXPECT_FALSE(Form().Timer4.Enabled());
  EXPECT_FALSE(Form().saveFile);
  EXPECT_EQ(CountLog("- ASF index seeking object written"), 1);
  EXPECT_GT(ProbeDuration(saved), 0.5);
  // The button still shows armed; the next press disarms.
  EXPECT_TRUE(Form().VcrArmed());
  Form().VcrPowerClick();
  Advance(200);
  EXPECT_FALSE(Form().VcrArmed());
  EXPECT_TRUE(Logged("VCR timer stopped"));
}

TEST_F(Vcr, CompletionOfARecordingSkipsLogAndPlayer) {
  StartServerAndLocation("");
  Options().AutoLogTick.Checked = true;
  Options().AutoPlayTick.Checked = true;
  SetMoments(Now() - kSecond, Now() + 600 * kSecond);
  Form().VcrPowerClick();
  Advance(1000);
  ASSERT_TRUE(RunToCompletion());
  Advance(300);
  EXPECT_TRUE(Logged("- ** DOWNLOAD COMPLETED ** -"));
  EXPECT_TRUE(desktop_.CallsOf(ScriptedDesktop::CallKind::Shell).empty());
  EXPECT_TRUE(desktop_.CallsOf(ScriptedDesktop::CallKind::SaveFile).empty());
  EXPECT_GT(ProbeDuration(folder_.Path("_1_clip.wmv")), 5.0);
}

}  // namespace
}  // namespace qor
