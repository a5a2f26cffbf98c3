// The toolbar's buttons, the location box's keys and the handler of exceptions no handler caught.

#include "app/main_form.h"
#include "support/location.h"

namespace qor {

namespace {

std::string ExceptionText(const std::exception_ptr& error) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown exception";
  }
  return std::string();
}

}  // namespace

// ---- Toolbar ----

void TMainForm::OpenClick() {
  desktop_.Repaint();
  Open1Click();
}
void TMainForm::ConnectClick() {
  desktop_.Repaint();
  CancelReconnect();  // the user's start replaces a reconnect still waiting for its moment
  // Never with a password a location may carry.
  const std::string location = WithoutPassword(THelper::Trim(URL.Text));
  ConnectionSingleClick();
  // A location that started a download is offered again in the box's list, newest first.
  if (saveFile && !location.empty() && URL.Items.IndexOf(location) < 0) {
    URL.Items.Insert(0, location);
    while (URL.Items.Count() > kUrlListSize) URL.Items.Delete(kUrlListSize);
  }
}

void TMainForm::URLKeyDown(uint16_t key) {
  // Enter in the location box is Go, when Go is offered.
  if (key == kKeyReturn && Connect.Enabled) ConnectClick();
}
void TMainForm::ConnectBatchClick() {
  desktop_.Repaint();
  CancelReconnect();
  ConnectionBatchClick();
}
void TMainForm::AbortClick() {
  desktop_.Repaint();
  DisconnectionClick();
}
void TMainForm::InfoClick() {
  desktop_.Repaint();
  ShowFileProperties1Click();
}
void TMainForm::PreviewClick() {
  desktop_.Repaint();
  OpenMonitor1Click();
}
void TMainForm::VcrSetClick() {
  desktop_.Repaint();
  VcrTimeSet1Click();
}
void TMainForm::VcrPowerClick() {
  desktop_.Repaint();
  VCROn1Click();
}
void TMainForm::ExitClick() {
  desktop_.Repaint();
  Exit1Click();
}

// ---- Exceptions ----

void TMainForm::QorHandleException(const std::string& /*sender*/, const std::exception_ptr& error) {
  Messages.Post("Qor Main App: An exception occured and reads :-", mcWarning);
  Messages.Post(ExceptionText(error), mcFatal);
  StopSession();
  FinishSaveFile();
}

}  // namespace qor
