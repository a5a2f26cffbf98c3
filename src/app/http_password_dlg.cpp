#include "app/http_password_dlg.h"

#include "support/base64.h"

namespace qor {

void SplitSavedCredentials(const std::string& decoded, std::string& id, std::string& password) {
  const size_t colon = decoded.find(':');
  if (colon == std::string::npos) {
    id = decoded;
    password.clear();
    return;
  }
  id = decoded.substr(0, colon);
  password = decoded.substr(colon + 1);
}

std::string CredentialsSite(const std::string& host, int32_t port) {
  return THelper::LowerCase(host) + ":" + std::to_string(port);
}

std::string SavedCredentialsFor(THelper& helper, const std::string& key, const std::string& site) {
  if (site.empty()) return {};
  const std::string saved = helper.ReadSetting(kSettingsKeyPath, key);
  if (saved.empty() || helper.ReadSetting(kSettingsKeyPath, key + "Site") != site) return {};
  return saved;
}

void SaveCredentials(THelper& helper, const std::string& key, const std::string& encoded,
                     const std::string& site) {
  // The site first: a reader between the two writes sees old credentials bound to a new site or
  // none, never new credentials bound to the old one.
  helper.WriteSetting(kSettingsKeyPath, key + "Site", encoded.empty() ? "" : site);
  helper.WriteSetting(kSettingsKeyPath, key, encoded);
}

THttpPasswordDlg::THttpPasswordDlg(CredentialsSink sink) : GiveCredentials(std::move(sink)) {
  Name = "HttpPasswordDlg";
  Caption = "HTTP Network Authentication";
  Explanation.Name = "Explanation";
  Explanation.Caption = kLocationExplanation;
  UserIDWindow.Name = "UserIDWindow";
  UserIDWindow.Label = "User ID";
  PasswordWindow.Name = "PasswordWindow";
  PasswordWindow.Label = "Password";
  PasswordWindow.PasswordChar = '*';
  SavePassTick.Name = "SavePassTick";
  SavePassTick.Caption = "Save password";
  SavePassTick.Checked = true;
  Button1.Name = "Button1";
  Button1.Caption = "&Ok";
  Button1.ModalResult = mrOk;
  Button1.Default = true;
  Button1.OnClick = [this] { Button1Click(); };
  Button2.Name = "Button2";
  Button2.Caption = "&Cancel";
  Button2.ModalResult = mrCancel;
  Button2.Cancel = true;
  Adopt(Button1);
  Adopt(Button2);
}

void THttpPasswordDlg::FormShow() {
  const std::string saved = SavedCredentialsFor(Helper, "Authh", Site);
  if (saved.empty()) {
    UserIDWindow.Text.clear();
    PasswordWindow.Text.clear();
    return;
  }
  SplitSavedCredentials(Base64Coder::DecodeString(saved), UserIDWindow.Text, PasswordWindow.Text);
}

void THttpPasswordDlg::Button1Click() {
  if (GiveCredentials)
    GiveCredentials(THelper::Trim(UserIDWindow.Text), THelper::Trim(PasswordWindow.Text));
  const std::string encoded =
      Base64Coder::EncodeString(UserIDWindow.Text + ":" + PasswordWindow.Text);
  pending_.clear();
  pending_site_.clear();
  if (SavePassTick.Checked) {
    pending_ = encoded;
    pending_site_ = Site;
  } else {
    SaveCredentials(Helper, "Authh", "", "");
  }
}

void THttpPasswordDlg::CredentialsAnswered(bool accepted) {
  if (pending_site_.empty()) return;
  if (accepted) SaveCredentials(Helper, "Authh", pending_, pending_site_);
  pending_.clear();
  pending_site_.clear();
}

}  // namespace qor
