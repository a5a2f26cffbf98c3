// Timed recording: one unattended download between a start and an end moment.

#include <cmath>
#include <cstdio>

#include "app/date_time_dlg.h"
#include "app/date_time_text.h"
#include "app/main_form.h"

namespace qor {

bool TMainForm::VcrArmed() const {
  return !(VcrPower.FontColor == clBlack);
}

void TMainForm::VcrTimeSet1Click() {
  desktop_.Repaint();
  TDateTimeDlg local;
  TDateTimeDlg& dialog = peers_.DateTimeDlg ? *peers_.DateTimeDlg : local;
  dialog.EditMoments(desktop_, LocalNow(window_.GetClock()));
  vcrStart = dialog.Start;
  vcrStop = dialog.End;
  ShowVcrCountdown();
}

void TMainForm::VCROn1Click() {
  desktop_.Repaint();
  if (URL.Text.empty()) {
    desktop_.ShowMessage("No media location specified for VCR");
    return;
  }
  if (VcrArmed()) {
    VcrPower.FontColor = clBlack;
    Timer4.SetEnabled(false);
    Messages.Post("VCR timer stopped", mcNormal);
    SetStatusLabel(0);
    VCROn1.Checked = false;
  } else {
    VcrPower.FontColor = clRed;
    Timer4.SetEnabled(true);
    Messages.Post("VCR timer activated and waiting...", mcNormal);
    vcrRecording = false;
    SetStatusLabel(3);
    VCROn1.Checked = true;
  }
  ShowVcrCountdown();
}

void TMainForm::Timer4Timer() {
  const TDateTime now = LocalNow(window_.GetClock());
  if (now >= vcrStart && now < vcrStop && !vcrRecording) {
    vcrRecording = true;
    StartVcrRecording();
  }
  if (now >= vcrStop && vcrRecording) {
    Timer4.SetEnabled(false);
    StopVcrRecording();
    vcrRecording = false;
  }
  ShowVcrCountdown();
}

namespace {

// "1:02:03", or "2 d 1:02:03" past a day; a part of a second counts as a whole one.
std::string Span(TDateTime days) {
  const int64_t total = static_cast<int64_t>(std::ceil(days * 86400.0 - 1e-6));
  const int64_t seconds = total < 0 ? 0 : total;
  char text[48];
  const int64_t d = seconds / 86400, h = seconds / 3600 % 24, m = seconds / 60 % 60,
                s = seconds % 60;
  if (d > 0) {
    std::snprintf(text, sizeof text, "%lld d %lld:%02lld:%02lld", static_cast<long long>(d),
                  static_cast<long long>(h), static_cast<long long>(m), static_cast<long long>(s));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(h),
                  static_cast<long long>(m), static_cast<long long>(s));
  }
  return text;
}

}  // namespace

void TMainForm::ShowVcrCountdown() {
  VcrCountdown.Visible = VcrArmed();
  if (!VcrCountdown.Visible) {
    VcrCountdown.Caption.clear();
    return;
  }
  const TDateTime now = LocalNow(window_.GetClock());
  if (vcrStart == 0 || vcrStop <= vcrStart) {
    VcrCountdown.Caption = "VCR armed: set a start before the end (Download -> VCR Time Set)";
  } else if (vcrRecording) {
    VcrCountdown.Caption = "Recording, " + Span(vcrStop - now) + " left";
  } else if (now < vcrStart) {
    VcrCountdown.Caption = "Recording starts in " + Span(vcrStart - now);
  } else {
    VcrCountdown.Caption = "VCR: the recording time has passed";
  }
}

void TMainForm::StartVcrRecording() {
  Messages.Post("VCR ON, now recording....", mcNormal);
  unattended = true;
  ConnectClick();
}

void TMainForm::StopVcrRecording() {
  Messages.Post("VCR OFF, end time reached", mcNotice);
  // A stream cut and not yet joined again ends the recording short of its window.
  vcr_ended_in_cut_ = Reconnecting();
  CancelReconnect();
  if (saveFile) NotifyUnattended("Recording ended at the VCR's end time", SaveWindow.Caption);
  FinishSaveFile();
  StopSession();
  unattended = false;
  SetStatusLabel(0);
}

}  // namespace qor
