// Opening a location. The location loader (made with the forms) plugs its own Open and
// OpenLocation in through OnOpen1Click and OnOpenLocation.

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
  if (OnOpenLocation) OnOpenLocation();
}

}  // namespace qor
