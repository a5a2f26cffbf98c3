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

// Saved credentials belong to the site they were entered for: "host:port" in lower case, kept
// beside the encoded text under the key's name plus "Site". They are offered to that site only;
// a set saved before sites were kept has none and is offered nowhere (it stays in the store
// until new credentials replace it).
std::string CredentialsSite(const std::string& host, int32_t port);
std::string SavedCredentialsFor(THelper& helper, const std::string& key, const std::string& site);
void SaveCredentials(THelper& helper, const std::string& key, const std::string& encoded,
                     const std::string& site);

class THttpPasswordDlg : public TForm {
 public:
  // What the dialog says: opening a web location stops at the question, a stream's download asks
  // again by itself once the dialog is answered.
  static constexpr const char* kLocationExplanation =
      "This web location needs a user id and password. Enter them, then open the location "
      "again.";
  static constexpr const char* kStreamExplanation =
      "This stream needs a user id and password. The download goes on with them as soon as you "
      "press Ok.";

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
  // The answer of the site to the credentials given on OK: only accepted ones are saved, so a
  // mistyped password is never kept. Nothing happens without credentials waiting to be saved.
  void CredentialsAnswered(bool accepted);
  bool SaveWaiting() const { return !pending_site_.empty(); }
  const std::string& WaitingSite() const { return pending_site_; }

  CredentialsSink GiveCredentials;
  THelper Helper;
  // The site that asks ("host:port"); set before the dialog is shown.
  std::string Site;

 private:
  std::string pending_;
  std::string pending_site_;
};

}  // namespace qor
