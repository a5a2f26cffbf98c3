#include "app/location_loader.h"

#include "app/convert_error.h"
#include "app/file_names.h"
#include "app/http_password_dlg.h"
#include "app/location_file.h"
#include "app/open_media_dialog.h"
#include "app/options_dialog.h"
#include "support/location.h"

namespace qor {

namespace {

bool IsLocal(const std::string& location, uint32_t flags) {
  // A Windows drive path, or anything that names no network scheme at all (a path on this
  // desktop).
  return (flags & lcLocalFile) != 0 ||
         ((flags & lcNetwork) == 0 && location.find("://") == std::string::npos);
}

// "http://host:8080/" or "http://radio.example.com": the root of a host, where encoders publish
// their broadcast. Its "file name" is the host, which may hold dots like a file name.
bool NamesHostRoot(const std::string& location) {
  Location parts;
  if (ParseLocation(location, parts) == LocationProblem::NoScheme || parts.host.empty())
    return false;
  const std::string& path = parts.path;
  // A query names no file of its own.
  return path.empty() || path == "/" || path.starts_with('?') || path.starts_with("/?");
}

std::string FirstLine(const std::string& text) {
  return text.substr(0, text.find_first_of("\r\n"));
}

// The status test of a fetched play list: its status line holds "200".
bool Succeeded(const std::string& header) {
  return FirstLine(header).find("200") != std::string::npos;
}

std::string LastExtension(const std::string& location) {
  const std::string name = THelper::FileNameOf(location);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : THelper::LowerCase(name.substr(dot));
}

}  // namespace

// Keeps Open, Go and Batch disabled while at least one fetch runs.
class TLocationLoader::FetchScope {
 public:
  explicit FetchScope(TLocationLoader& loader) : loader_(loader) {
    if (loader_.fetching_++ == 0) loader_.DisableOpenGoBatch();
  }
  ~FetchScope() {
    if (--loader_.fetching_ == 0) loader_.RestoreControls();
  }
  FetchScope(const FetchScope&) = delete;
  FetchScope& operator=(const FetchScope&) = delete;

 private:
  TLocationLoader& loader_;
};

TLocationLoader::TLocationLoader(TMainForm& form, const Dialogs& dialogs)
    : HTTPSocket(form.HTTPSocket), form_(form), dialogs_(dialogs) {
  form_.OnOpen1Click = [this] { Open1Click(); };
  form_.OnOpenLocation = [this] { OpenLocationNow(); };
  HTTPSocket.OnConnect = [this](TSocketClient*) { HTTPSocketConnect(); };
  HTTPSocket.OnConnectionFailed = [this](TSocketClient*) { HTTPSocketConnectionFailed(); };
  HTTPSocket.OnAboutToSend = [this](TSocketClient*) { HTTPSocketAboutToSend(); };
  HTTPSocket.OnFailure = [this](int32_t command) { HTTPSocketFailure(command); };
  HTTPSocket.OnSuccess = [this](int32_t command) { HTTPSocketSuccess(command); };
  HTTPSocket.OnInvalidHost = [this](bool& handled) { HTTPSocketInvalidHost(handled); };
  HTTPSocket.OnRedirect = [this](bool& handled) { HTTPSocketRedirect(handled); };
  HTTPSocket.OnAuthenticationNeeded = [this](TSocketClient*) { HTTPSocketAuthenticationNeeded(); };
  WrapControls();
}

TLocationLoader::~TLocationLoader() {
  form_.OnOpen1Click = nullptr;
  form_.OnOpenLocation = nullptr;
  HTTPSocket.OnConnect = nullptr;
  HTTPSocket.OnConnectionFailed = nullptr;
  HTTPSocket.OnAboutToSend = nullptr;
  HTTPSocket.OnFailure = nullptr;
  HTTPSocket.OnSuccess = nullptr;
  HTTPSocket.OnInvalidHost = nullptr;
  HTTPSocket.OnRedirect = nullptr;
  HTTPSocket.OnAuthenticationNeeded = nullptr;
  UnwrapControls();
}

// ---- Controls while a fetch runs ----

void TLocationLoader::WrapControls() {
  // The window's own handlers do not know about fetches; a click that reaches a disabled control
  // is turned away here, and the drain, which re-enables idle controls, is followed by disabling
  // them again while a fetch runs.
  auto guard = [this](std::function<void()>& saved, std::function<void()>& slot) {
    saved = slot;
    slot = [this, &saved] {
      if (Fetching()) return;
      if (saved) saved();
    };
  };
  guard(connect_click_, form_.Connect.OnClick);
  guard(single_click_, form_.ConnectionSingle.OnClick);
  guard(batch_button_click_, form_.ConnectBatch.OnClick);
  guard(batch_menu_click_, form_.ConnectionBatch.OnClick);
  // Every way of closing the window asks here; a close during a fetch waits for its end.
  form_.OnCloseQuery = [this] {
    if (!Fetching()) return true;
    close_pending_ = true;
    return false;
  };
  drain_tick_ = form_.Timer3.OnTimer;
  form_.Timer3.OnTimer = [this] {
    if (drain_tick_) drain_tick_();
    if (Fetching()) DisableOpenGoBatch();
  };
}

void TLocationLoader::UnwrapControls() {
  form_.Connect.OnClick = connect_click_;
  form_.ConnectionSingle.OnClick = single_click_;
  form_.ConnectBatch.OnClick = batch_button_click_;
  form_.ConnectionBatch.OnClick = batch_menu_click_;
  form_.OnCloseQuery = nullptr;
  form_.Timer3.OnTimer = drain_tick_;
}

void TLocationLoader::DisableOpenGoBatch() {
  for (TButton* button : {&form_.Open, &form_.Connect, &form_.ConnectBatch}) {
    button->Enabled = false;
  }
  for (TMenuItem* item : {&form_.Open1, &form_.ConnectionSingle, &form_.ConnectionBatch}) {
    item->Enabled = false;
  }
}

void TLocationLoader::RestoreControls() {
  if (form_.Session && form_.Session->IsConnected()) {
    form_.SetRunningControls();
  } else {
    form_.SetIdleControls();
  }
  if (!close_pending_) return;
  close_pending_ = false;
  // The close asked for during the fetch happens now, from the loop rather than from inside the
  // handler that fetched.
  if (WindowThread* window = WindowThread::Current()) {
    std::weak_ptr<int> alive = alive_;
    window->Queue([this, alive] {
      if (!alive.expired()) form_.RequestClose();
    });
  }
}

// ---- Opening ----

void TLocationLoader::Post(const std::string& text, uint32_t code) {
  form_.Messages.Post(text, code);
}

void TLocationLoader::Open1Click() {
  if (Fetching()) return;
  if (!dialogs_.OpenMediaDialog) return;
  if (form_.Desktop().ShowModal(*dialogs_.OpenMediaDialog) == mrOk) OpenLocation();
}

void TLocationLoader::OpenLocation() {
  form_.OpenLocation();
}

void TLocationLoader::OpenLocationNow() {
  outcome_ = Outcome::Refused;
  form_.ResetSessionDisplay();
  form_.LogWindow.Clear();
  Post("Media changing ...", mcNormal);
  form_.Desktop().Repaint();

  const std::string location = form_.MediaWindow.Caption;
  const uint32_t flags = THelper::ClassifyLocation(location);
  const bool local = IsLocal(location, flags);
  const bool web = (flags & lcHttp) != 0;
  const bool mms = (flags & lcMms) != 0;
  const bool playList = (flags & (lcRedirector | lcScriptPage)) != 0;
  const bool media = (flags & lcMediaFile) != 0;

  if (flags == 0) {
    Post("The media type or location is of an unknown type", mcFatal);
  } else if (mms && playList) {
    Post(
        "You are trying to access a redirector location file\n"
        "using a MMS:// server URL. Only HTTP:// web servers\n"
        "hold redirector location files, please check your URL\n"
        "then try again",
        mcFatal);
  } else if (flags & (lcRealMedia | lcPnm)) {
    Post(
        "You are trying to access a Real Networks file type\n"
        "Qor does not support connection to Real Networks locations\n",
        mcFatal);
  } else if (flags & lcWmd) {
    Post(
        "This location is a Windows Media downloadable file\n"
        "Use media player or your web browser to download this file\n"
        "Qor is not required\n",
        mcFatal);
  } else if (flags & lcWmsWmz) {
    Post(
        "This file type is a skin and is only used by media player\n"
        "Qor does not support player skins\n",
        mcFatal);
  } else if (local && (flags & lcRedirector)) {
    if (!CanOpenForReading(THelper::Trim(location))) {
      Post("Could not open local redirector file", mcFatal);
    } else if (ParseLocationFile(1)) {
      Post("URL list now has data, please select an entry", mcNotice);
      outcome_ = Outcome::ListLoaded;
    } else {
      Post("Local parse file error", mcFatal);
    }
  } else if (local && media) {
    if (!form_.Asf.ReadHeaderFromFile(location)) {
      Post("Cancelled, file not loaded", mcFatal);
    } else {
      outcome_ = Outcome::MediaLoaded;
      if (dialogs_.OptionsDialog && dialogs_.OptionsDialog->AutoPlayTick.Checked) {
        Post("Media Loaded -> Player activated", mcNotice);
        form_.OpenMonitor1Click();
      } else {
        Post("Media Loaded -> Click Information tab", mcNotice);
        Post("Media Loaded -> Click Preview monitor", mcNotice);
      }
    }
  } else if (web && playList) {
    outcome_ = Outcome::None;  // stays so when the client raises an error
    if (ParseLocationFile(2)) {
      Post("URL list now has data, please select an entry", mcNotice);
      outcome_ = Outcome::ListLoaded;
    } else {
      Post("HTTP location parse failed", mcFatal);
      outcome_ = Outcome::Refused;
    }
  } else if ((web || mms) &&
             ((flags & (lcMediaFile | lcNoExtension)) || (web && NamesHostRoot(location)))) {
    form_.URL.Text = location;
    Post("URL ready to connect -> hit GO to start", mcNotice);
    outcome_ = Outcome::UrlReady;
  } else if ((flags & lcText) && local) {
    const std::string file = THelper::Trim(location);
    // Only a name that really ends in .txt goes to the desktop ("log.txt.sh" does not).
    if (LastExtension(file) == ".txt") {
      Post("Displaying archived Qor log file", mcNotice);
      form_.OpenWithShell(file);
      outcome_ = Outcome::LogShown;
    } else {
      Post("No valid media type to open player", mcFatal);
    }
  } else {
    Post("The media type or its location was invalid\nPlease re-check your entry", mcFatal);
  }
}

// ---- Parsing ----

void TLocationLoader::SetupClient() {
  HTTPSocket.TimeOut = FetchTimeOut;
  TOptionsDialog* options = dialogs_.OptionsDialog;
  if (options && options->HProxyTick.Checked) {
    HTTPSocket.Proxy = options->HProxyURL.Text;
    HTTPSocket.ProxyPort = StrToInt(options->HProxyPort.Text);
  } else {
    HTTPSocket.Proxy.clear();
    HTTPSocket.ProxyPort = 0;
  }
}

bool TLocationLoader::ParseLocationFile(int32_t mode) {
  SetupClient();
  list_cut_ = false;
  form_.urlCount = 0;
  for (std::string& entry : form_.urlList) entry.clear();
  const std::string location = THelper::Trim(form_.MediaWindow.Caption);

  if (mode == 2) {
    std::string body;
    std::string header;
    {
      FetchScope scope(*this);
      HTTPSocket.Body.clear();
      HTTPSocket.Get(location);
      HTTPSocket.Disconnect();
      SettleCredentials();
      body = std::move(HTTPSocket.Body);
      HTTPSocket.Body.clear();
      header = HTTPSocket.Header;
    }
    if (body.empty()) {
      Post("Location contains no data, body text empty", mcFatal);
      return false;
    }
    const std::string status = FirstLine(header);
    if (!Succeeded(header)) {
      Post("---- HTTP file request was not successful ----", mcFatal);
      if (THelper::LowerCase(status).find("<html>") != std::string::npos) {
        Post("Qor Main APP: displaying server response using your browser", mcWarning);
        form_.OpenWithShell(location);
      } else {
        Post(status, mcFatal);
      }
      return false;
    }
    if (form_.Desktop().Confirm(kSaveLocationQuestion) && !SaveRedirectorFile(body)) {
      Post("Redirector file saved cancelled", mcFatal);
    }
    // Relative references resolve against where the list came from, after any redirection.
    const std::string base = HTTPSocket.CurrentUrl().empty() ? location : HTTPSocket.CurrentUrl();
    return ScanIntoList(body, base);
  }

  std::string content;
  std::string reason;
  switch (ReadLocalLocationFile(location, content, &reason)) {
    case LocalFileRead::CannotOpen:
      Post("Could not open local location file: " + location + " (" + reason + ")", mcFatal);
      return false;
    case LocalFileRead::CannotAccess:
      Post("Cannot access local location file: " + location + " (" + reason + ")", mcFatal);
      return false;
    case LocalFileRead::Empty:
      Post("Local location file contains no data", mcFatal);
      return false;
    case LocalFileRead::Ok:
      break;
  }
  return ScanIntoList(content);
}

std::optional<std::string> TLocationLoader::FetchNested(const std::string& url, std::string& base) {
  // What earlier fetches reported is acted on first: a failure's drain closes the client, which
  // must not land on this fetch and cancel it.
  form_.Timer3Timer();
  FetchScope scope(*this);
  HTTPSocket.Body.clear();
  try {
    HTTPSocket.Get(url);
  } catch (const ESocketError& error) {
    HTTPSocket.Disconnect();
    Post(std::string("HTTP Parse: ") + error.what() + ", bypassing", mcWarning);
    return std::nullopt;
  }
  std::string body = std::move(HTTPSocket.Body);
  HTTPSocket.Body.clear();
  if (!HTTPSocket.CurrentUrl().empty()) base = HTTPSocket.CurrentUrl();
  HTTPSocket.Disconnect();
  SettleCredentials();
  // An error page is not a play list: its links must not become entries.
  if (!Succeeded(HTTPSocket.Header)) return std::nullopt;
  return body;
}

bool TLocationLoader::ScanIntoList(const std::string& content, const std::string& base) {
  ScanList list;
  ScanHooks hooks;
  hooks.Post = [this](const std::string& text, uint32_t code) { Post(text, code); };
  hooks.FetchNested = [this](const std::string& url, std::string& nestedBase) {
    return FetchNested(url, nestedBase);
  };
  LocationScanner scanner(list, std::move(hooks));
  scanner.Scan(content, base);
  list_cut_ = scanner.Full();

  form_.urlCount = list.count;
  for (int32_t i = 0; i < list.count; ++i) {
    form_.urlList[static_cast<size_t>(i)] = list.entries[static_cast<size_t>(i)];
  }
  if (form_.urlCount == 0) {
    Post("Http Parse: no usable entries were found", mcWarning);
    return false;
  }
  form_.URL.Items.Clear();
  for (int32_t i = 0; i < form_.urlCount; ++i) {
    form_.URL.Items.Add(THelper::Trim(form_.urlList[static_cast<size_t>(i)]));
  }
  form_.URL.Text = form_.urlList[0];
  return true;
}

bool TLocationLoader::SaveRedirectorFile(const std::string& content) {
  TFileDialogRequest request;
  request.InitialDir = form_.Helper.ReadSetting(kSettingsKeyPath, "AsxDir");
  request.DefaultExt = "asx";
  request.Title = "Save Redirector File";
  request.Filter = kSaveFilter;
  request.FilterIndex = 2;
  request.OverwritePrompt = true;
  request.FileName = ShortenFileName(CleanFileName(THelper::StripQuery(THelper::FileNameOf(
                                         WithoutUserInfo(form_.MediaWindow.Caption)))),
                                     kMaxFileNameBytes);
  const std::optional<std::string> chosen = form_.Desktop().SaveFileDialog(request);
  if (!chosen) return false;
  form_.Helper.WriteSetting(kSettingsKeyPath, "AsxDir", DirectoryOf(*chosen));
  switch (WriteWholeFile(*chosen, content)) {
    case LocalFileWrite::CannotCreate:
      Post("There was an error creating the redirector file", mcFatal);
      return false;
    case LocalFileWrite::CannotWrite:
      Post("There was an error saving the redirector file", mcFatal);
      return false;
    case LocalFileWrite::Ok:
      break;
  }
  return true;
}

// ---- Events of the HTTP location client ----

void TLocationLoader::HTTPSocketConnect() {
  Post("---- Connected and waiting ----", mcNotice);
}

void TLocationLoader::HTTPSocketConnectionFailed() {
  Post("---- A HTTP location failed to connect ----", mcFatal);
}

void TLocationLoader::HTTPSocketAboutToSend() {
  Post("---- ** Accessing Location ** ----", mcNormal);
}

void TLocationLoader::HTTPSocketFailure(int32_t command) {
  if (command != THttpClient::kCommandGet) return;
  Post("---- A HTTP location was not found ----", mcFatal);
}

void TLocationLoader::HTTPSocketSuccess(int32_t command) {
  if (command != THttpClient::kCommandGet) return;
  Post("---- HTTP location loaded, please wait ----", mcNormal);
}

void TLocationLoader::HTTPSocketInvalidHost(bool& handled) {
  handled = false;
  Post("---- A HTTP location address was invalid ----", mcFatal);
}

void TLocationLoader::HTTPSocketRedirect(bool& handled) {
  handled = false;
  Post("---- HTTP socket is being redirected by host ----", mcNormal);
}

void TLocationLoader::SettleCredentials() {
  // Credentials the user asked to save are saved once a server took them; a refusal (401)
  // means they were wrong, and wrong ones are never kept. A fetch that ended on a 401 was
  // settled when it asked, before the dialog took new credentials.
  if (!dialogs_.HttpPasswordDlg || HTTPSocket.CredentialsAnswer() == 0) return;
  if (HTTPSocket.StatusCode() == 401 && HTTPSocket.CredentialsAnswer() == 401) return;
  dialogs_.HttpPasswordDlg->CredentialsAnswered(HTTPSocket.CredentialsAnswer() != 401);
}

void TLocationLoader::HTTPSocketAuthenticationNeeded() {
  if (!dialogs_.HttpPasswordDlg) return;
  if (HTTPSocket.CredentialsAnswer() == 401) dialogs_.HttpPasswordDlg->CredentialsAnswered(false);
  dialogs_.HttpPasswordDlg->Site = HTTPSocket.AskedOrigin();
  if (form_.Desktop().ShowModal(*dialogs_.HttpPasswordDlg) == mrOk) {
    Post("You now need to re-access the site, try again", mcNormal);
  }
}

}  // namespace qor
