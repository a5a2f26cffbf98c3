// Timed recording: one unattended download between a start and an end moment.

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
  } else {
    VcrPower.FontColor = clRed;
    Timer4.SetEnabled(true);
    Messages.Post("VCR timer activated and waiting...", mcNormal);
    vcrRecording = false;
    SetStatusLabel(3);
  }
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
}

void TMainForm::StartVcrRecording() {
  Messages.Post("VCR ON, now recording....", mcNormal);
  unattended = true;
  ConnectClick();
}

void TMainForm::StopVcrRecording() {
  Messages.Post("VCR OFF, end time reached", mcNotice);
  CancelReconnect();
  FinishSaveFile();
  StopSession();
  unattended = false;
  SetStatusLabel(0);
}

}  // namespace qor
