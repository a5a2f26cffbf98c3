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
  // The server's "host:port": saved credentials are offered to it only.
  std::string Site;
  // Set on OK when "Save password" was ticked; the window saves the credentials once the server
  // has accepted them.
  bool SaveRequested = false;
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

// Makes the dialog, shows it modally and gives the exchange when it was confirmed; saving is left
// to the caller, which hears whether the server accepted the credentials.
std::optional<MmsCredentialsExchange> AskMmsCredentials(DesktopServices& desktop,
                                                        const std::string& host,
                                                        const std::string& challenge,
                                                        const std::string& site);

}  // namespace qor
