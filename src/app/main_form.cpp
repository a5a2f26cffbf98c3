#include "app/main_form.h"

#include <cctype>

#include "app/app_constants.h"
#include "app/convert_error.h"
#include "app/date_time_text.h"
#include "app/http_password_dlg.h"
#include "app/main_info_dialog.h"
#include "app/mms_password_dlg.h"
#include "app/options_dialog.h"
#include "platform/settings_store.h"
#include "session/http_protocol.h"
#include "session/mms_protocol.h"

namespace qor {

namespace {

constexpr int32_t kDesignHeight = 560;
constexpr int32_t kDesignWidth = 640;

// The host of a location that names the root of its host ("http://host:8080", "http://host/"):
// encoders publish broadcasts there. Empty when the location has a path or no host.
std::string RootHostOf(const std::string& url) {
  const std::string text = THelper::Trim(url);
  const size_t scheme = text.find("://");
  if (scheme == std::string::npos) return std::string();
  const size_t start = scheme + 3;
  const size_t slash = text.find('/', start);
  if (slash != std::string::npos && slash + 1 != text.size()) return std::string();
  return text.substr(start, (slash == std::string::npos ? text.size() : slash) - start);
}

// The ":port" a location's host may carry, taken off before the name is looked up.
bool SplitHostPort(const std::string& hostText, std::string& host, int32_t& port) {
  const size_t colon = hostText.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 >= hostText.size()) return false;
  const std::string digits = hostText.substr(colon + 1);
  for (char c : digits) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  if (digits.size() > 5) return false;
  const int32_t value = std::stoi(digits);
  if (value < 1 || value > 65535) return false;
  host = hostText.substr(0, colon);
  port = value;
  return true;
}

// Why a location cannot be started, in words a user can act on; empty when nothing is wrong
// here. The transport comes from the options, so a scheme we do not speak would otherwise be
// sent to an MMS or HTTP server as if it were one, and a bad port would be looked up as part of
// the host name ("DNS resolve failed").
std::string LocationRefusal(const std::string& url, const std::string& hostText) {
  const size_t schemeEnd = url.find("://");
  if (schemeEnd != std::string::npos) {
    std::string scheme = THelper::LowerCase(THelper::Trim(url.substr(0, schemeEnd)));
    static const char* const kSchemes[] = {"mms", "mmst", "mmsu", "mmsh", "http"};
    bool known = false;
    for (const char* s : kSchemes) known = known || scheme == s;
    if (!known) {
      return "Unsupported location type '" + scheme +
             "://': Qor records mms://, mmst://, mmsu://, mmsh:// and http:// locations";
    }
  }
  const size_t colon = hostText.rfind(':');
  std::string host;
  int32_t port = 0;
  if (colon != std::string::npos && !SplitHostPort(hostText, host, port)) {
    return "Bad port '" + hostText.substr(colon + 1) + "' in the location: a port is a number " +
           "from 1 to 65535";
  }
  return std::string();
}

// How long a transport that is not the last one Auto tries may stay silent at each step before
// the next one is tried: a blocked port or dropped datagrams must not cost the full time-outs.
constexpr int32_t kRolloverWaitSeconds = 10;

std::string AttemptName(uint32_t flags, int32_t httpPort) {
  if (flags & pfMmsUdp) return "MMS via UDP";
  if (flags & pfMmsTcp) return "MMS via TCP";
  return httpPort > 0 ? "HTTP streaming on port " + THelper::IntText(httpPort)
                      : std::string("HTTP streaming");
}

// A number of the options: they come from the settings (the dialog's edits take digits only and
// the command line checks its flags), so one that does not convert names its setting and file.
int32_t SettingNumber(const std::string& text, const char* name) {
  try {
    return StrToInt(text);
  } catch (const EConvertError& error) {
    throw EConvertError(std::string(error.what()) + " (setting " + name + " in " +
                        THelper::SettingsFile() + ")");
  }
}

void SetLabel(TLabel& label, const std::string& name, const std::string& caption) {
  label.Name = name;
  label.Caption = caption;
}

void SetButton(TButton& button, const std::string& name, const std::string& caption,
               std::function<void()> handler) {
  button.Name = name;
  button.Caption = caption;
  button.OnClick = std::move(handler);
}

void SetMenu(TMenuItem& item, const std::string& name, const std::string& caption,
             std::function<void()> handler) {
  item.Name = name;
  item.Caption = caption;
  item.OnClick = std::move(handler);
}

}  // namespace

TMainForm::TMainForm(DesktopServices& desktop, WindowThread& window)
    : Timer1(&window),
      Timer2(&window),
      Timer3(&window),
      Timer4(&window),
      ReconnectTimer(&window),
      desktop_(desktop),
      window_(window) {
  Name = "MainForm";
  Caption = kProductName;
  Height = kDesignHeight;
  Width = kDesignWidth;

  // The objects kept for the window's whole life; the session is never started.
  Session = std::make_unique<TMMS>();
  // What the settings store has to say goes to the log, where the user reads everything else.
  SetSettingsWarningSink([this](const std::string& text) { Messages.Post(text, mcWarning); });

  URL.Name = "URL";
  URL.OnKeyDown = [this](uint16_t key) { URLKeyDown(key); };
  SetLabel(MediaWindow, "MediaWindow", "");
  SetLabel(SaveWindow, "SaveWindow", "");
  ProgBar.Name = "ProgBar";
  SetLabel(Standby, "Standby", "Standby");
  SetLabel(PreRec, "PreRec", "Pre-Recorded Media Session");
  SetLabel(Live, "Live", "Live Recording Session");
  SetLabel(VCR, "VCR", "VCR timer is active and waiting...");
  SetLabel(Progressive, "Progressive", "Progressive Downloading Session ");
  for (TEdit* edit : {&TimeTotal, &SendTime, &ProtoDisp, &Lost, &Recovered}) edit->ReadOnly = true;
  TimeTotal.Name = "TimeTotal";
  SendTime.Name = "SendTime";
  ProtoDisp.Name = "ProtoDisp";
  Lost.Name = "Lost";
  Recovered.Name = "Recovered";
  LogWindow.Name = "LogWindow";
  LogWindow.OnChange = [this] { LogWindowChange(); };
  StatusBar.Name = "StatusBar";

  PerformanceGraph1.SetGridSize(10);
  PerformanceGraph1.SetStepSize(10);
  PerformanceGraph1.SetGradient(5000);
  PerformanceGraph1.SetScale(10000);
  PerformanceGraph1.SetPenWidth(100);
  PerformanceGraph1.SetForeColor(clTeal);
  GridGroup.Name = "GridGroup";
  GridGroup.Items.Add("Grid On");
  GridGroup.Items.Add("Grid Off");
  GridGroup.ItemIndex = 0;
  GridGroup.OnClick = [this] { GridGroupClick(); };
  StyleGroup.Name = "StyleGroup";
  StyleGroup.Items.Add("Lines");
  StyleGroup.Items.Add("Bars");
  StyleGroup.ItemIndex = 0;
  StyleGroup.OnClick = [this] { StyleGroupClick(); };

  SetButton(Open, "Open", "&Open", [this] { OpenClick(); });
  SetButton(Connect, "Connect", "&Go", [this] { ConnectClick(); });
  SetButton(ConnectBatch, "ConnectBatch", "&Batch", [this] { ConnectBatchClick(); });
  SetButton(Abort, "Abort", "&Abort", [this] { AbortClick(); });
  Abort.Enabled = false;
  SetButton(Info, "Info", "&Info", [this] { InfoClick(); });
  SetButton(Preview, "Preview", "&Preview", [this] { PreviewClick(); });
  SetButton(VcrSet, "VcrSet", "&Vcr Time", [this] { VcrSetClick(); });
  SetButton(VcrPower, "VcrPower", "Vc&r On", [this] { VcrPowerClick(); });
  SetButton(Exit, "Exit", "&Exit", [this] { ExitClick(); });
  SetMenu(Open1, "Open1", "&Open...", [this] { Open1Click(); });
  SetMenu(ConnectionSingle, "ConnectionSingle", "Go &Single Download",
          [this] { ConnectionSingleClick(); });
  SetMenu(ConnectionBatch, "ConnectionBatch", "Go &Batch Download",
          [this] { ConnectionBatchClick(); });
  SetMenu(Disconnection, "Disconnection", "&Abort Download", [this] { DisconnectionClick(); });
  SetMenu(VCROn1, "VCROn1", "V&CR On", [this] { VCROn1Click(); });
  VcrCountdown.Name = "VcrCountdown";
  VcrCountdown.Visible = false;

  Timer1.SetInterval(200);
  Timer1.OnTimer = [this] { Timer1Timer(); };
  Timer2.SetInterval(1000);
  Timer2.OnTimer = [this] { Timer2Timer(); };
  Timer3.SetInterval(150);
  Timer3.OnTimer = [this] { Timer3Timer(); };
  // The drain keeps its rhythm only while pairs wait: at rest nothing wakes the window for it.
  Timer3.Wanted = [this] { return Messages.Pending() > 0; };
  Messages.SetOnFirstPending([w = &window] { w->Notify(); });
  Timer4.SetInterval(1000);
  Timer4.SetEnabled(false);
  Timer4.OnTimer = [this] { Timer4Timer(); };
  ReconnectTimer.SetEnabled(false);
  ReconnectTimer.OnTimer = [this] { ReconnectTimerTimer(); };

  ResetSessionDisplay();
  Asf.Messages = &Messages;
  Session->Messages = &Messages;
  Helper.Messages = &Messages;
  unattended = false;
  vcrRecording = false;
}

TMainForm::~TMainForm() {
  // Nothing of ours may run while the session is taken down: its wait serves the loop.
  for (TTimer* timer : {&Timer1, &Timer2, &Timer3, &Timer4, &ReconnectTimer})
    timer->SetEnabled(false);
  window_.SetExceptionHandler(nullptr);
  SetSettingsWarningSink(nullptr);
  if (password_dlg_) password_dlg_->Close();
  // A window torn down without closing (an error in a front end) still leaves a playable file.
  Session->Stop();
  Session->WaitFor();
  if (saveFile) FinishSaveFile();
  Session.reset();
}

// ---- Window creation and closing ----

void TMainForm::FormCreate() {
  MinHeight = kDesignHeight;
  MinWidth = kDesignWidth;
  StatusBar.Caption = std::string(" For help visit: ") + WebSiteAddress();
  window_.SetExceptionHandler(
      [this](std::exception_ptr error) { QorHandleException("Application", error); });
  // Stored geometry that does not read as a number keeps the designed value.
  auto restore = [this](const char* name, int32_t& target) {
    const std::string text = Helper.ReadSetting(kSettingsKeyPath, name);
    if (text.empty()) return;
    if (auto value = TryStrToInt(text)) target = *value;
  };
  restore("Height", Height);
  restore("Width", Width);
  restore("FormLeft", Left);
  restore("FormTop", Top);
  if (Height < MinHeight) Height = MinHeight;
  if (Width < MinWidth) Width = MinWidth;
  URL.Text = Helper.ReadSetting(kSettingsKeyPath, "URLSelected");
  URL.Items.SetText(Helper.ReadSetting(kSettingsKeyPath, "URLList"));
}

void TMainForm::FormClose() {
  closed_ = true;
  CancelReconnect();
  FinishSaveFile();
  StopSession();
  Helper.WriteSetting(kSettingsKeyPath, "URLList", URL.Items.Text());
  Helper.WriteSetting(kSettingsKeyPath, "URLSelected", URL.Text);
  Helper.WriteSetting(kSettingsKeyPath, "Height", THelper::IntText(Height));
  Helper.WriteSetting(kSettingsKeyPath, "Width", THelper::IntText(Width));
  Helper.WriteSetting(kSettingsKeyPath, "FormLeft", THelper::IntText(Left));
  Helper.WriteSetting(kSettingsKeyPath, "FormTop", THelper::IntText(Top));
  // Rather than a fixed pause: let the stopped session's thread end, serving its handovers.
  Session->WaitFor();
  Timer3Timer();
}

// ---- Starting a download ----

void TMainForm::FinishOpenSaveFile() {
  if (!saveFile) return;
  StopSession();
  Session->WaitFor();
  FinishSaveFile();
}

void TMainForm::ConnectionSingleClick() {
  desktop_.Repaint();
  // A file still open (a new track, a server that dropped, another Go) is finished first.
  FinishOpenSaveFile();
  ResetSessionDisplay();
  // The log keeps every download's lines (a failed one's too); a new download starts under a
  // separator, a reconnect goes on with the same recording.
  if (!reconnect_attempt_) SeparateLog();
  log_separated_ = false;
  if (URL.Text.empty()) {
    Messages.Post("No URL given\nUse File -> Open then enter a media location", mcFatal);
    return;
  }
  // Over HTTP an empty path asks for "/", where many servers publish their broadcast; an MMS
  // server needs the name of what to open.
  const int32_t choice = peers_.OptionsDialog ? peers_.OptionsDialog->ProtoGroup.ItemIndex : -1;
  const std::string lowerUrl = THelper::LowerCase(THelper::Trim(URL.Text));
  const bool overHttp = choice == kProtoHttp ||
                        (choice == kProtoAuto &&
                         (lowerUrl.rfind("http://", 0) == 0 || lowerUrl.rfind("mmsh://", 0) == 0));
  hostText = THelper::HostOf(URL.Text);
  if (hostText.empty() && overHttp) hostText = RootHostOf(URL.Text);
  if (hostText.empty()) {
    Messages.Post("Please check URL entry, invalid IP/Host", mcFatal);
    return;
  }
  if (const std::string refusal = LocationRefusal(URL.Text, hostText); !refusal.empty()) {
    Messages.Post(refusal, mcFatal);
    return;
  }
  pathText = THelper::PathOf(URL.Text);
  if (pathText.empty() && !overHttp) {
    Messages.Post("Please check URL entry, invalid file name or path", mcFatal);
    return;
  }
  const bool created = reconnect_attempt_ && !resume_again_path_.empty() ? ReopenForResume()
                       : unattended                                      ? CreateAutoSaveFile()
                                                                         : CreateOrResumeSaveFile();
  if (!created) {
    Messages.Post("", mcFatal);
    return;
  }
  PostNormal("OPEN :\t" + MediaWindow.Caption);
  PostNormal("SAVE :\t" + SaveWindow.Caption);
  PostNormal("URL  :\t" + URL.Text);
  downloading_location_ = URL.Text;

  if (!reconnect_attempt_ && !continuing_) {
    // A download of its own: the cuts of an earlier one are not this one's.
    started_unattended_ = unattended;
    cuts_ = {};
    reconnect_tries_ = 0;
    cut_at_ms_ = -1;
    resume_again_path_.clear();
  }
  attempts_.clear();
  attempt_ = 0;
  if (peers_.OptionsDialog && peers_.OptionsDialog->ProtoGroup.ItemIndex == kProtoAuto) {
    // A scheme that names its transport keeps to it; mms:// (or none) leaves the choice to us.
    const std::string lower = THelper::LowerCase(THelper::Trim(URL.Text));
    const auto scheme = [&lower](const char* s) { return lower.rfind(s, 0) == 0; };
    if (scheme("mmsu://")) {
      attempts_ = {{pfMmsUdp, 0}};
    } else if (scheme("mmst://")) {
      attempts_ = {{pfMmsTcp, 0}};
    } else if (scheme("http://") || scheme("mmsh://")) {
      attempts_ = {{pfHttp, 0}};
    } else {
      attempts_ = {{pfMmsUdp, 0}, {pfMmsTcp, 0}};
      std::string host;
      int32_t port = 0;
      const std::optional<int32_t> configured = TryStrToInt(peers_.OptionsDialog->HTTPPort.Text);
      // A location that names its port is tried there by every transport.
      if (!SplitHostPort(hostText, host, port) && configured != 80)
        attempts_.push_back({pfHttp, 80});
      attempts_.push_back({pfHttp, 0});
    }
  }
  StartSession();
}

void TMainForm::StartSession() {
  // The old session goes first (its wait serves the loop); a fresh one is in place meanwhile so
  // the timers always have one to read.
  std::unique_ptr<TMMS> old = std::move(Session);
  Session = std::make_unique<TMMS>();
  Session->Messages = &Messages;
  old.reset();
  auto fresh = std::make_unique<TMMS>();
  ConfigureSession(*fresh);
  Session = std::move(fresh);
  if (attempts_.size() > 1) {
    Messages.Post("- Trying " + AttemptName(Session->ProtocolFlags, Session->HttpPort) + " (" +
                      THelper::IntText(static_cast<int32_t>(attempt_ + 1)) + " of " +
                      THelper::IntText(static_cast<int32_t>(attempts_.size())) + ")",
                  mcNormal);
  }
  Session->Start();
}

bool TMainForm::CanRollOver() const {
  // Once media has arrived the stream is this transport's: a later failure is a cut, not a
  // refusal, and the file already holds its packets.
  return attempt_ + 1 < attempts_.size() && saveFile && !closed_ && !Session->MediaArrived() &&
         credentials_asked_by_ != Session->Source && !Session->StreamCut.load() &&
         Session->Progressive.load() == 0 && !saveFile->AnyPacketWritten();
}

void TMainForm::RollOver() {
  const std::string tried = AttemptName(Session->ProtocolFlags, Session->HttpPort);
  ++attempt_;
  Messages.Post("- " + tried + " failed: trying the next transport", mcWarning);
  StopSession();
  // The file stays open: nothing of the failed attempt is in it, and a resume or an offset
  // applies to the next transport as it did to this one. The shared model starts again empty as
  // it does for any new download.
  std::unique_ptr<TMMS> old = std::move(Session);
  Session = std::make_unique<TMMS>();
  Session->Messages = &Messages;
  old.reset();
  Asf.Reset();
  StartSession();
  if (OnTransportRollover) OnTransportRollover();
}

void TMainForm::ConfigureSession(TMMS& session) {
  TOptionsDialog& options = *peers_.OptionsDialog;
  const int32_t choice = options.ProtoGroup.ItemIndex;
  switch (choice) {
    case kProtoHttp:
      session.ProtocolFlags = pfHttp;
      break;
    case kProtoTcp:
      session.ProtocolFlags = pfMmsTcp;
      break;
    case kProtoUdp:
      session.ProtocolFlags = pfMmsUdp;
      break;
    default:
      session.ProtocolFlags = 0;
      break;
  }
  if (attempt_ < attempts_.size()) session.ProtocolFlags = attempts_[attempt_].flags;
  const bool http = session.ProtocolFlags == pfHttp;
  const bool mms = session.ProtocolFlags == pfMmsTcp || session.ProtocolFlags == pfMmsUdp;
  if (http && options.HProxyTick.Checked) {
    session.UseProxy = 1;
    session.ProxyPort = SettingNumber(options.HProxyPort.Text, "HttpProxyPort");
    session.ProxyHost = options.HProxyURL.Text;
  } else if (mms && options.MProxyTick.Checked) {
    session.UseProxy = 1;
    session.ProxyPort = SettingNumber(options.MProxyPort.Text, "MmsProxyPort");
    session.ProxyHost = options.MProxyURL.Text;
  } else {
    session.UseProxy = 0;
  }
  session.Asf = &Asf;
  session.Messages = &Messages;
  session.Source = next_source_++;
  if (next_source_ == kWindowSource) next_source_ = 1;
  session.Path = pathText;
  session.Host = hostText;
  session.HttpPort = SettingNumber(options.HTTPPort.Text, "HTTPPort");
  if (attempt_ < attempts_.size() && attempts_[attempt_].httpPort > 0)
    session.HttpPort = attempts_[attempt_].httpPort;
  session.ConnectPort = SettingNumber(options.TCPPort.Text, "TCPPort");
  session.UdpPort = SettingNumber(options.UDPPort.Text, "UDPPort");
  session.MaxUdpSize = SettingNumber(options.MaxUDP.Text, "MaxUDPSize");
  session.BypassDns = options.BypassDNS.Checked ? 1 : 0;
  session.SaveFile = saveFile;
  session.ResumeSession = resumeSave ? 1 : 0;
  const double dayMs = TimeOf(options.OffsetTime) * 86400000.0 + 0.5;
  session.OffsetMs = dayMs <= 0 ? 0 : static_cast<uint32_t>(dayMs) % 86400000u;
  session.Streams = StreamChoice;
  session.Streams.maxRate = static_cast<uint32_t>(std::max(options.SelectedMaxRate(), 0));
  // A location naming its port ("host:8080") connects there, whatever the options say.
  std::string host;
  int32_t port = 0;
  if (SplitHostPort(hostText, host, port)) {
    session.Host = host;
    session.HttpPort = port;
    session.ConnectPort = port;
  }
  session.PreviousEntry = std::move(next_entry_);
  session.Timeouts = StoredTimeouts();
  if (AdjustTimeouts) AdjustTimeouts(session.Timeouts);
  if (attempt_ + 1 < attempts_.size()) {
    for (int32_t* seconds : {&session.Timeouts.ConnectSeconds, &session.Timeouts.AnswerSeconds,
                             &session.Timeouts.FirstDataSeconds}) {
      if (*seconds == 0 || *seconds > kRolloverWaitSeconds) *seconds = kRolloverWaitSeconds;
    }
  }
  session.ShowMessageBox = [this](const std::string& text) { desktop_.ShowMessage(text); };
  const MessageSource source = session.Source;
  session.Mms().AskCredentials = [this, source](const std::string& h, const std::string& c) {
    return AskMmsCredentials(source, h, c);
  };
  session.Http().AskCredentials = [this, source](const std::string& site, const std::string&) {
    return AskHttpCredentials(source, site);
  };
  session.Http().CredentialsAnswered = [this, source](bool accepted) {
    // Saved (when asked) only once the server took them; wrong ones are never kept.
    if (peers_.HttpPasswordDlg && Session && Session->Source == source)
      peers_.HttpPasswordDlg->CredentialsAnswered(accepted);
  };
  pending_mms_credentials_.reset();
  session.Mms().CredentialsAccepted = [this, source] {
    if (!pending_mms_credentials_ || pending_mms_credentials_->source != source) return;
    SaveCredentials(Helper, "Authm", pending_mms_credentials_->encoded,
                    pending_mms_credentials_->site);
    pending_mms_credentials_.reset();
  };
}

std::optional<std::string> TMainForm::AskMmsCredentials(MessageSource source,
                                                        const std::string& host,
                                                        const std::string& challenge) {
  // A request of a session that has since been stopped or replaced is declined unseen.
  if (closed_ || !Session || Session->Source != source || Session->Terminated() ||
      password_dlg_ != nullptr)
    return std::nullopt;
  credentials_asked_by_ = source;
  MmsCredentialsExchange exchange{host, challenge, "", CredentialsSite(host, Session->ConnectPort)};
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

void TMainForm::StopSession() {
  Session->Stop();
  if (password_dlg_) password_dlg_->Close();
}

void TMainForm::ConnectionBatchClick() {
  desktop_.Repaint();
  if (urlCount != 0 && !URL.Text.empty()) {
    batchIndex = 0;
    unattended = true;
    batchActive = true;
    NextPlaylistTrack();
  } else {
    Messages.Post("Qor Main App: first use 'OPEN' to load a .asx playlist", mcFatal);
  }
}

}  // namespace qor
