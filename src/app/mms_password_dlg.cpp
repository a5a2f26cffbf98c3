#include "app/mms_password_dlg.h"

#include "app/http_password_dlg.h"
#include "support/base64.h"

namespace qor {

TMmsPasswordDlg::TMmsPasswordDlg(MmsCredentialsExchange& session) : session_(session) {
  Name = "MmsPasswordDlg";
  Caption = "Enter Network Password";
  Site.Name = "Site";
  Realm.Name = "Realm";
  Id.Name = "Id";
  Id.Label = "User name";
  Password.Name = "Password";
  Password.Label = "Password";
  Password.PasswordChar = '*';
  SavePassTick.Name = "SavePassTick";
  SavePassTick.Caption = "Save password";
  SavePassTick.Checked = true;
  Button1.Name = "Button1";
  Button1.Caption = "&OK";
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

void TMmsPasswordDlg::FormShow() {
  Site.Caption = session_.Host;
  if (session_.ChallengeText.compare(0, 6, "realm=") == 0)
    Realm.Caption = session_.ChallengeText.substr(6);
  const std::string saved = SavedCredentialsFor(Helper, "Authm", session_.Site);
  if (!saved.empty())
    SplitSavedCredentials(Base64Coder::DecodeString(saved), Id.Text, Password.Text);
}

void TMmsPasswordDlg::Button1Click() {
  const std::string encoded = Base64Coder::EncodeString(Id.Text + ":" + Password.Text);
  session_.Credentials = encoded;
  session_.SaveRequested = SavePassTick.Checked;
  if (!SavePassTick.Checked) SaveCredentials(Helper, "Authm", "", "");
}

std::optional<MmsCredentialsExchange> AskMmsCredentials(DesktopServices& desktop,
                                                        const std::string& host,
                                                        const std::string& challenge,
                                                        const std::string& site) {
  MmsCredentialsExchange exchange{host, challenge, "", site};
  TMmsPasswordDlg dialog(exchange);
  if (desktop.ShowModal(dialog) != mrOk) return std::nullopt;
  return exchange;
}

}  // namespace qor
