// Opening a location. The location loading work plugs its own OpenLocation in through
// OnOpenLocation; until then a typed stream or media location is made ready to download.

#include "app/main_form.h"
#include "app/open_media_dialog.h"

namespace qor {

void TMainForm::Open1Click() {
  desktop_.Repaint();
  if (OnOpen1Click) {
    OnOpen1Click();
    return;
  }
  if (!peers_.OpenMediaDialog) return;
  if (desktop_.ShowModal(*peers_.OpenMediaDialog) == mrOk) OpenLocation();
}

void TMainForm::OpenLocation() {
  // Whatever is opened next, the download that is still writing is finished first.
  FinishOpenSaveFile();
  if (OnOpenLocation) {
    OnOpenLocation();
    return;
  }
  ResetSessionDisplay();
  LogWindow.Clear();
  Messages.Post("Media changing ...", mcNormal);
  const std::string location = MediaWindow.Caption;
  const uint32_t flags = THelper::ClassifyLocation(location);
  if ((flags & (lcHttp | lcMms)) && (flags & (lcMediaFile | lcNoExtension))) {
    URL.Text = location;
    Messages.Post("URL ready to connect -> hit GO to start", mcNotice);
    return;
  }
  Messages.Post("The media type or its location was invalid\nPlease re-check your entry", mcFatal);
}

}  // namespace qor
