#include "app/main_info_dialog.h"

#include <sys/stat.h>

#include "session/session.h"

namespace qor {

TInfoDialog::TInfoDialog() {
  Name = "InfoDialog";
  Caption = MediaInfoCaptions::kCaption;
  OkButton.Caption = MediaInfoCaptions::kOk;
  OkButton.ModalResult = mrOk;
  OkButton.Default = true;
  OkButton.OnClick = [this] { Close(); };
  Adopt(OkButton);
}

MediaInfoSession SessionInfoOf(const TMMS* session, const std::string& location) {
  MediaInfoSession info;
  info.location = location;
  if (session == nullptr) return info;
  const MmsServerTexts texts = session->GetServerTexts();
  info.serverVersion = texts.ServerVersion;
  info.toolVersion = texts.ToolVersion;
  info.updateUrl = texts.UpdateUrl;
  info.encryptionType = texts.EncryptionType;
  info.live = (session->Status().StreamKind & skLive) != 0;
  return info;
}

void TInfoDialog::Load(const TASF& asf, const TMMS* session, const std::string& location,
                       const std::string& growingFile, const std::string& unfinished) {
  // A session thread may be parsing a header into the model meanwhile: keep a copy taken whole.
  shown_ = asf.Snapshot();
  session_ = SessionInfoOf(session, location);
  session_.growing = !growingFile.empty();
  growing_ = growingFile;
  unfinished_ = unfinished;
  Rebuild();
}

void TInfoDialog::Clear() {
  Load(TASF(), nullptr, std::string());
}

void TInfoDialog::FollowGrowingFile() {
  if (growing_.empty()) return;
  struct stat info {};
  if (::stat(growing_.c_str(), &info) != 0) return;
  if (shown_.HeaderLength == 0 || shown_.FileLength == 0) {
    // The download's header had not reached the file when the dialog was filled.
    TASF file;
    if (!file.ReadHeaderFromFile(growing_)) return;
    shown_ = file.Snapshot();
  } else {
    shown_.FileLength = static_cast<uint64_t>(info.st_size);
  }
  Rebuild();
}

void TInfoDialog::Rebuild() {
  // The live statistics belong to the counter timer: keep what it wrote last.
  MediaInfoReport fresh = BuildMediaInfo(shown_, session_);
  fresh.State = unfinished_;
  fresh.SendTime = Report.SendTime;
  fresh.TotalTime = Report.TotalTime;
  fresh.Packets = Report.Packets;
  fresh.Acks = Report.Acks;
  fresh.ClientID = Report.ClientID;
  fresh.SingleMaxStreamRate = Report.SingleMaxStreamRate;
  Report = std::move(fresh);
}

}  // namespace qor
