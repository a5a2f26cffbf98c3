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

THttpPasswordDlg::THttpPasswordDlg(CredentialsSink sink) : GiveCredentials(std::move(sink)) {
  Name = "HttpPasswordDlg";
  Caption = "HTTP Network Authentication";
  Explanation.Name = "Explanation";
  Explanation.Caption =
      "This web location needs a user id and password. Enter them, then open the location "
      "again.";
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
  const std::string saved = Helper.ReadSetting(kSettingsKeyPath, "Authh");
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
  Helper.WriteSetting(kSettingsKeyPath, "Authh", SavePassTick.Checked ? encoded : "");
}

}  // namespace qor
