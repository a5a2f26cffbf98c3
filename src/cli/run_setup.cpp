#include "cli/run_setup.h"

#include <filesystem>
#include <system_error>

#include "app/date_time_text.h"
#include "app/options_dialog.h"

namespace qor::cli {

namespace {

std::string WithSlash(const std::string& dir) {
  if (dir.empty() || dir.back() == '/') return dir;
  return dir + "/";
}

void ApplyTransport(const CliOptions& options, TApplication& app) {
  TOptionsDialog& o = *app.OptionsDialog;
  TMainForm& form = *app.MainForm;
  // A transport named on the command line holds whatever the scheme says; auto (named, or when
  // no choice is stored) lets a plain mms:// location try each transport in turn.
  const std::string stored = form.Helper.ReadSetting(kSettingsKeyPath, "ProtoSelected");
  const std::string protocol = options.protocol.value_or(stored.empty() ? "AUTO" : "");
  if (protocol == "HTTP") form.ForcedTransport = kProtoHttp;
  if (protocol == "TCP") form.ForcedTransport = kProtoTcp;
  if (protocol == "UDP") form.ForcedTransport = kProtoUdp;
  if (protocol == "RTSPU") form.ForcedTransport = kProtoRtspUdp;
  if (protocol == "RTSPT") form.ForcedTransport = kProtoRtspTcp;
  if (protocol == "AUTO") o.ProtoGroup.ItemIndex = kProtoAuto;
}

void ApplyOptionsDialog(const CliOptions& options, TOptionsDialog& o) {
  if (options.httpPort) o.HTTPPort.Text = *options.httpPort;
  if (options.tcpPort) o.TCPPort.Text = *options.tcpPort;
  if (options.udpPort) o.UDPPort.Text = *options.udpPort;
  if (options.maxUdp) o.MaxUDP.Text = *options.maxUdp;
  if (options.proxyHost) {
    o.HProxyTick.Checked = o.MProxyTick.Checked = true;
    o.HProxyURL.Text = o.MProxyURL.Text = *options.proxyHost;
    o.HProxyPort.Text = o.MProxyPort.Text = *options.proxyPort;
  }
  if (options.offset) {
    const TDateTime offset = ParseStoredTime(*options.offset).value_or(0);
    o.OffsetTimePicker.DateTime = offset;
    o.OffsetTime = offset;
  }
  if (options.bypassDns) o.BypassDNS.Checked = true;
  if (options.fast) o.FastDeliveryTick.Checked = true;
  if (options.noFast) o.FastDeliveryTick.Checked = false;
  if (options.maxRate) {
    o.MaxRateFlag.Checked = true;
    o.MaxRate = std::stoi(*options.maxRate);
  }
  // The command line saves its log through --log and never starts a player.
  o.AutoLogTick.Checked = false;
  o.AutoPlayTick.Checked = false;
}

void ApplyMainForm(const CliOptions& options, TMainForm& form) {
  if (options.reconnect) form.ReconnectOverride = *options.reconnect;
  form.SaveWindow.Caption.clear();
  form.AutoSaveDir = WithSlash(options.directory);
  form.AdjustTimeouts = [&options](SessionTimeouts& t) {
    if (options.connectTimeout) t.ConnectSeconds = *options.connectTimeout;
    if (options.answerTimeout) t.AnswerSeconds = *options.answerTimeout;
    if (options.dataTimeout) t.FirstDataSeconds = *options.dataTimeout;
    if (options.stallTimeout) t.StallSeconds = *options.stallTimeout;
  };
  form.StreamChoice.numbers = options.streams;
  form.StreamChoice.audioOnly = options.audioOnly;
  form.SaveLocationCredentials = options.savePassword;
}

}  // namespace

bool PrepareFolder(const CliOptions& options, TerminalOutput& out) {
  const std::string& dir = options.directory;
  if (dir.empty()) return true;
  std::error_code error;
  if (std::filesystem::is_directory(dir, error)) return true;
  if (std::filesystem::exists(dir, error)) {
    out.Note("-d " + dir + ": not a folder");
    return false;
  }
  std::filesystem::create_directories(dir, error);
  if (error || !std::filesystem::is_directory(dir)) {
    out.Note("-d " + dir + ": the folder cannot be created (" + error.message() + ")");
    return false;
  }
  out.Note("created the folder " + dir);
  return true;
}

RunSettings::RunSettings(const CliOptions& options) {
  if (options.configDir) {
    store_ = std::make_unique<SettingsStore>(*options.configDir);
    THelper::UseStore(store_.get());
  }
  THelper::AllowWritesOnly(WritableSettings(options.savePassword));
}

RunSettings::~RunSettings() {
  THelper::UseStore(nullptr);
  THelper::AllowWritesOnly(nullptr);
}

void AnswerFromFlags(const CliOptions& options, CliDesktop& desktop) {
  desktop.User = options.user;
  desktop.Password = options.password;
  desktop.SavePassword = options.savePassword;
  desktop.LogFile = options.logFile;
}

std::unique_ptr<TApplication> MakeRunForms(const CliOptions& options, CliDesktop& desktop) {
  AnswerFromFlags(options, desktop);
  auto app = std::make_unique<TApplication>(desktop);
  app->CreateForms();
  ApplyOptionsDialog(options, *app->OptionsDialog);
  ApplyTransport(options, *app);
  ApplyMainForm(options, *app->MainForm);
  return app;
}

}  // namespace qor::cli
