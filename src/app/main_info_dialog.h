#pragma once
// TInfoDialog: the media information of the open stream or file, shown without blocking the main
// window. Its live fields (SendTime, TotalTime, Packets, Acks, ClientID, SingleMaxStreamRate) are
// written by the main window's counter timer whether or not it is visible.

#include <string>

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

  // Builds the report from the ASF model and the session (which may be null). growingFile names
  // the file a running download is still writing, when that is the file described: its size is
  // followed (FollowGrowingFile) instead of being called truncated. unfinished: what the first
  // page says of a saved file that repair would mend (UnfinishedRecordingNote).
  void Load(const TASF& asf, const TMMS* session, const std::string& location,
            const std::string& growingFile = std::string(),
            const std::string& unfinished = std::string());
  // Empty pages: nothing is loaded, or a new download has not brought its header yet.
  void Clear();
  // Reads the growing file's size (and its header, if it had none yet) again.
  void FollowGrowingFile();
  bool Growing() const { return !growing_.empty(); }

 private:
  void Rebuild();

  TASF shown_;
  MediaInfoSession session_;
  std::string growing_;
  std::string unfinished_;
};

// "unfinished (the recording was cut at 00:00:08): File → Repair" for a saved file whose header,
// tail or index repair would mend; empty for a finished file or one that cannot be read. A file
// whose header gives its length exactly was finished and is not read further.
std::string UnfinishedRecordingNote(const std::string& path);

// The report's values of a session object.
MediaInfoSession SessionInfoOf(const TMMS* session, const std::string& location);

}  // namespace qor
