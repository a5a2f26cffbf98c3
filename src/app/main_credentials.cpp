// Credentials a server asks for: those written in the location are given first, once per
// session and without a dialog; then the password dialogs ask.

#include "app/http_password_dlg.h"
#include "app/main_form.h"
#include "app/mms_password_dlg.h"
#include "support/base64.h"

namespace qor {

std::optional<std::pair<std::string, std::string>> TMainForm::LocationCredentials(
    MessageSource source) {
  // Given to each session once: when the server refuses them the user is asked, as without.
  if (target_.parts.user.empty() || location_credentials_given_to_ == source) return std::nullopt;
  location_credentials_given_to_ = source;
  return std::make_pair(target_.parts.user, target_.parts.password);
}

void TMainForm::HttpCredentialsAnswered(MessageSource source, bool accepted) {
  // Saved (when asked) only once the server took them; wrong ones are never kept.
  if (!Session || Session->Source != source) return;
  if (pending_http_credentials_ && pending_http_credentials_->source == source) {
    if (accepted)
      SaveCredentials(Helper, "Authh", pending_http_credentials_->encoded,
                      pending_http_credentials_->site);
    pending_http_credentials_.reset();
    return;
  }
  if (peers_.HttpPasswordDlg) peers_.HttpPasswordDlg->CredentialsAnswered(accepted);
}

std::optional<std::string> TMainForm::AskMmsCredentials(MessageSource source,
                                                        const std::string& host,
                                                        const std::string& challenge) {
  // A request of a session that has since been stopped or replaced is declined unseen.
  if (closed_ || !Session || Session->Source != source || Session->Terminated() ||
      password_dlg_ != nullptr)
    return std::nullopt;
  credentials_asked_by_ = source;
  const std::string site = CredentialsSite(host, Session->ConnectPort);
  if (const auto given = LocationCredentials(source)) {
    const std::string encoded = Base64Coder::EncodeString(given->first + ":" + given->second);
    pending_mms_credentials_.reset();
    if (SaveLocationCredentials)
      pending_mms_credentials_ = PendingCredentials{source, encoded, site};
    return encoded;
  }
  MmsCredentialsExchange exchange{host, challenge, "", site};
  TMmsPasswordDlg dialog(exchange);
  password_dlg_ = &dialog;
  int32_t result = mrCancel;
  try {
    result = desktop_.ShowModal(dialog);
  } catch (...) {
    password_dlg_ = nullptr;
    throw;
  }
  password_dlg_ = nullptr;
  pending_mms_credentials_.reset();
  if (result != mrOk) return std::nullopt;
  if (exchange.SaveRequested)
    pending_mms_credentials_ = PendingCredentials{source, exchange.Credentials, exchange.Site};
  return exchange.Credentials;
}

std::optional<std::pair<std::string, std::string>> TMainForm::AskHttpCredentials(
    MessageSource source, const std::string& site) {
  if (closed_ || !Session || Session->Source != source || Session->Terminated() ||
      !peers_.HttpPasswordDlg || password_dlg_ != nullptr)
    return std::nullopt;
  credentials_asked_by_ = source;
  pending_http_credentials_.reset();
  if (const auto given = LocationCredentials(source)) {
    if (SaveLocationCredentials) {
      pending_http_credentials_ = PendingCredentials{
          source, Base64Coder::EncodeString(given->first + ":" + given->second), site};
    }
    return given;
  }
  THttpPasswordDlg& dialog = *peers_.HttpPasswordDlg;
  // The dialog hands its answer to whoever asked: here the session, not the location client.
  std::optional<std::pair<std::string, std::string>> given;
  const THttpPasswordDlg::CredentialsSink client = dialog.GiveCredentials;
  struct Restore {
    THttpPasswordDlg& dialog;
    THttpPasswordDlg::CredentialsSink sink;
    ~Restore() {
      dialog.GiveCredentials = sink;
      dialog.Explanation.Caption = THttpPasswordDlg::kLocationExplanation;
    }
  } restore{dialog, client};
  dialog.Explanation.Caption = THttpPasswordDlg::kStreamExplanation;
  dialog.GiveCredentials = [&given](const std::string& id, const std::string& password) {
    given = std::make_pair(id, password);
  };
  dialog.Site = site;
  if (desktop_.ShowModal(dialog) != mrOk) return std::nullopt;
  return given;
}

}  // namespace qor
