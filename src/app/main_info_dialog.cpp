#include "app/main_info_dialog.h"

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

void TInfoDialog::Load(const TASF& asf, const TMMS* session, const std::string& location) {
  // A session thread may be parsing a header into the model meanwhile: show a copy taken whole.
  const TASF model = asf.Snapshot();
  // The live statistics belong to the counter timer: keep what it wrote last.
  MediaInfoReport fresh = BuildMediaInfo(model, SessionInfoOf(session, location));
  fresh.SendTime = Report.SendTime;
  fresh.TotalTime = Report.TotalTime;
  fresh.Packets = Report.Packets;
  fresh.Acks = Report.Acks;
  fresh.ClientID = Report.ClientID;
  fresh.SingleMaxStreamRate = Report.SingleMaxStreamRate;
  Report = std::move(fresh);
}

}  // namespace qor
