#pragma once
// THttpPasswordDlg: asks for the user id and password a web server wants, hands them to the HTTP
// location client and remembers one set, encoded, in the settings store.

#include <functional>
#include <string>

#include "app/form_controls.h"
#include "support/helper.h"

namespace qor {

// Splits decoded saved credentials at the first ":"; without one it is all user id.
void SplitSavedCredentials(const std::string& decoded, std::string& id, std::string& password);

class THttpPasswordDlg : public TForm {
 public:
  // Receives the trimmed id and password on OK; the window connects it to its HTTP client's
  // SetCredentials.
  using CredentialsSink = std::function<void(const std::string& id, const std::string& password)>;

  explicit THttpPasswordDlg(CredentialsSink sink = {});

  TLabel Explanation;
  TEdit UserIDWindow;
  TEdit PasswordWindow;
  TCheckBox SavePassTick;
  TButton Button1;  // "&Ok"
  TButton Button2;  // "&Cancel"

  void FormShow() override;
  void Button1Click();

  CredentialsSink GiveCredentials;
  THelper Helper;
};

}  // namespace qor
