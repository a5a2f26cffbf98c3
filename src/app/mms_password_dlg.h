#pragma once
// TMmsPasswordDlg: asks for the credentials an MMS server wants. It reads the server's host and
// challenge from the session's side of the exchange and fills in the encoded credentials the
// session sends; one set can be remembered, encoded, in the settings store.

#include <optional>
#include <string>

#include "app/desktop_services.h"
#include "app/form_controls.h"
#include "support/helper.h"

namespace qor {

// The session's side of one password exchange: what the dialog shows and what it answers.
struct MmsCredentialsExchange {
  std::string Host;
  std::string ChallengeText;
  // Base64 of "id:password", filled on OK.
  std::string Credentials;
};

class TMmsPasswordDlg : public TForm {
 public:
  explicit TMmsPasswordDlg(MmsCredentialsExchange& session);

  TLabel Site;
  TLabel Realm;
  TEdit Id;
  TEdit Password;
  TCheckBox SavePassTick;
  TButton Button1;  // "&OK"
  TButton Button2;  // "&Cancel"

  void FormShow() override;
  void Button1Click();

  THelper Helper;

 private:
  MmsCredentialsExchange& session_;
};

// Makes the dialog, shows it modally and gives the encoded credentials when it was confirmed;
// shaped to answer the session's credentials prompt.
std::optional<std::string> AskMmsCredentials(DesktopServices& desktop, const std::string& host,
                                             const std::string& challenge);

}  // namespace qor
