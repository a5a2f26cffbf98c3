#pragma once
// TInfoDialog: the media information of the open stream or file, shown without blocking the main
// window. Its live fields (SendTime, TotalTime, Packets, Acks, ClientID, SingleMaxStreamRate) are
// written by the main window's counter timer whether or not it is visible.

#include "app/form_controls.h"
#include "asf/asf.h"
#include "asf/media_info.h"

namespace qor {

class TMMS;

class TInfoDialog : public TForm {
 public:
  TInfoDialog();

  MediaInfoReport Report;
  TButton OkButton;

  // Builds the report from the ASF model and the session (which may be null).
  void Load(const TASF& asf, const TMMS* session, const std::string& location);
};

// The report's values of a session object.
MediaInfoSession SessionInfoOf(const TMMS* session, const std::string& location);

}  // namespace qor
