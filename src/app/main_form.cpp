#include "app/main_form.h"

#include "app/app_constants.h"
#include "app/convert_error.h"
#include "app/date_time_text.h"
#include "app/download_location.h"
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

// How long a transport that is not the last one Auto tries may stay silent at each step before
// the next one is tried: a blocked port or dropped datagrams must not cost the full time-outs.
constexpr int32_t kRolloverWaitSeconds = 10;
constexpr int32_t kStandardRtspPort = 554;

std::string AttemptName(uint32_t flags, int32_t httpPort) {
  if (flags & pfRtspUdp) return "RTSP via UDP";
  if (flags & pfRtspTcp) return "RTSP via TCP";
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
  // A password written in a location is never stored; the user name stays with it.
  TStringList history;
  for (const std::string& line : URL.Items.Lines()) history.Add(WithoutPassword(line));
  Helper.WriteSetting(kSettingsKeyPath, "URLList", history.Text());
  Helper.WriteSetting(kSettingsKeyPath, "URLSelected", WithoutPassword(URL.Text));
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
  const int32_t choice = peers_.OptionsDialog ? peers_.OptionsDialog->ProtoGroup.ItemIndex : -1;
  transport_ = TransportFor(URL.Text, choice, ForcedTransport);
  std::string refusal;
  switch (ReadDownloadLocation(URL.Text, transport_ == kProtoHttp, target_, refusal)) {
    case LocationCheck::NoHost:
      Messages.Post("Please check URL entry, invalid IP/Host", mcFatal);
      return;
    case LocationCheck::Refused:
      Messages.Post(refusal, mcFatal);
      return;
    case LocationCheck::Ready:
      break;
  }
  hostText = target_.hostText;
  pathText = target_.pathText;
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
    index_at_cut_ = -1;
    cut_at_ms_ = -1;
    resume_again_path_.clear();
  }
  attempts_.clear();
  attempt_ = 0;
  if (transport_ == kProtoRtsp) attempts_ = {{pfRtspUdp, 0}, {pfRtspTcp, 0}};
  if (transport_ == kProtoAuto) {
    // RTSP (the only protocol of the servers that came later), MMS with UDP and TCP data at the
    // location's port (an MMS one), then HTTP at port 80 and at the configured HTTP port.
    attempts_ = {{pfRtspUdp, 0}, {pfRtspTcp, 0}, {pfMmsUdp, 0}, {pfMmsTcp, 0}};
    const int32_t configured = SettingNumber(peers_.OptionsDialog->HTTPPort.Text, "HTTPPort");
    if (configured != 80) attempts_.push_back({pfHttp, 80});
    attempts_.push_back({pfHttp, configured});
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
  const SessionStatus status = Session->Status();
  return attempt_ + 1 < attempts_.size() && saveFile && !closed_ && !status.MediaArrived &&
         credentials_asked_by_ != Session->Source && !status.StreamCut && status.Progressive == 0 &&
         !saveFile->AnyPacketWritten();
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
  switch (transport_) {
    case kProtoHttp:
      session.ProtocolFlags = pfHttp;
      break;
    case kProtoTcp:
      session.ProtocolFlags = pfMmsTcp;
      break;
    case kProtoUdp:
      session.ProtocolFlags = pfMmsUdp;
      break;
    case kProtoRtspUdp:
      session.ProtocolFlags = pfRtspUdp;
      break;
    case kProtoRtspTcp:
      session.ProtocolFlags = pfRtspTcp;
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
  // RTSP has its own standard port; the MMS port option is not RTSP's.
  if (session.ProtocolFlags & (pfRtspUdp | pfRtspTcp)) session.ConnectPort = kStandardRtspPort;
  session.UdpPort = SettingNumber(options.UDPPort.Text, "UDPPort");
  session.MaxUdpSize = SettingNumber(options.MaxUDP.Text, "MaxUDPSize");
  session.BypassDns = options.BypassDNS.Checked ? 1 : 0;
  session.SaveFile = saveFile;
  session.ResumeSession = resumeSave ? 1 : 0;
  const double dayMs = TimeOf(options.OffsetTime) * 86400000.0 + 0.5;
  session.OffsetMs = dayMs <= 0 ? 0 : static_cast<uint32_t>(dayMs) % 86400000u;
  session.Streams = StreamChoice;
  session.Streams.maxRate = static_cast<uint32_t>(std::max(options.SelectedMaxRate(), 0));
  session.FastDelivery = options.FastDeliveryTick.Checked;
  // A location naming its port ("host:8080") connects there, whatever the options say, except
  // where Auto tries HTTP streaming on a port of its own after the MMS port the location named.
  if (target_.parts.port > 0) {
    session.Host = target_.parts.host;
    session.ConnectPort = target_.parts.port;
    if (attempt_ >= attempts_.size() || attempts_[attempt_].httpPort == 0)
      session.HttpPort = target_.parts.port;
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
  session.Prompts.AskMmsCredentials = [this, source](const std::string& h, const std::string& c) {
    return AskMmsCredentials(source, h, c);
  };
  session.Prompts.AskHttpCredentials = [this, source](const std::string& site, const std::string&) {
    return AskHttpCredentials(source, site);
  };
  session.Prompts.HttpCredentialsAnswered = [this, source](bool accepted) {
    HttpCredentialsAnswered(source, accepted);
  };
  pending_mms_credentials_.reset();
  session.Prompts.MmsCredentialsAccepted = [this, source] {
    if (!pending_mms_credentials_ || pending_mms_credentials_->source != source) return;
    SaveCredentials(Helper, "Authm", pending_mms_credentials_->encoded,
                    pending_mms_credentials_->site);
    pending_mms_credentials_.reset();
  };
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
