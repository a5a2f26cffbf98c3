#include "cli/batch_command.h"

#include <iostream>

#include "app/date_time_text.h"
#include "app/options_dialog.h"
#include "cli/cli_options.h"
#include "cli/download_run.h"
#include "cli/exit_status.h"
#include "cli/open_command.h"
#include "platform/settings_store.h"

namespace qor::cli {

namespace {

// How long an entry's connection may stay down after streaming began before the entry counts as
// ended by the server (the HTTP streaming exchange reconnects in between, so not at once).
constexpr int64_t kIdleGraceMs = 5000;
constexpr int64_t kPassMs = 100;

enum class EntryResult { NotRun, Completed, Failed };

struct Entry {
  std::string url;
  EntryResult result = EntryResult::NotRun;
  std::string file;
};

std::string WithSlash(const std::string& dir) {
  if (dir.empty() || dir.back() == '/') return dir;
  return dir + "/";
}

class BatchRun {
 public:
  BatchRun(const CliOptions& options, TerminalOutput& out) : options_(options), out_(out) {}
  ~BatchRun() {
    app_.reset();
    THelper::UseStore(nullptr);
    THelper::AllowWritesOnly(nullptr);
  }

  int Run();

 private:
  void Setup();
  void ApplyOptions();
  // The transport of an entry follows its scheme unless --protocol chose one.
  void SelectProtocolFor(int32_t index);
  int32_t CurrentEntry() const { return app_->MainForm->batchIndex - 1; }
  void OnDrained(const MessagePair& pair, bool acts);
  void EndStalledEntry();
  int Finish(bool interrupted);

  const CliOptions& options_;
  TerminalOutput& out_;
  std::unique_ptr<SettingsStore> store_;
  LocationDesktop desktop_;
  std::unique_ptr<TApplication> app_;
  std::vector<Entry> entries_;
  bool batch_started_ = false;
  bool refused_ = false;
  bool cut_ = false;
};

void BatchRun::Setup() {
  if (options_.configDir) {
    store_ = std::make_unique<SettingsStore>(*options_.configDir);
    THelper::UseStore(store_.get());
  }
  THelper::AllowWritesOnly(WritableSettings(options_.savePassword));
  desktop_.User = options_.user;
  desktop_.Password = options_.password;
  desktop_.SavePassword = options_.savePassword;
  desktop_.LogFile = options_.logFile;
  app_ = std::make_unique<TApplication>(desktop_);
  app_->CreateForms();
  ApplyOptions();
  TMainForm& form = *app_->MainForm;
  form.OnDrained = [this](const MessagePair& pair, bool acts) { OnDrained(pair, acts); };
  if (options_.reconnect) form.ReconnectOverride = *options_.reconnect;
  form.SaveWindow.Caption.clear();
  form.AutoSaveDir = WithSlash(options_.directory);
}

void BatchRun::ApplyOptions() {
  TOptionsDialog& o = *app_->OptionsDialog;
  if (options_.httpPort) o.HTTPPort.Text = *options_.httpPort;
  if (options_.tcpPort) o.TCPPort.Text = *options_.tcpPort;
  if (options_.udpPort) o.UDPPort.Text = *options_.udpPort;
  if (options_.maxUdp) o.MaxUDP.Text = *options_.maxUdp;
  if (options_.proxyHost) {
    o.HProxyTick.Checked = o.MProxyTick.Checked = true;
    o.HProxyURL.Text = o.MProxyURL.Text = *options_.proxyHost;
    o.HProxyPort.Text = o.MProxyPort.Text = *options_.proxyPort;
  }
  if (options_.offset) {
    const TDateTime offset = ParseStoredTime(*options_.offset).value_or(0);
    o.OffsetTimePicker.DateTime = offset;
    o.OffsetTime = offset;
  }
  if (options_.bypassDns) o.BypassDNS.Checked = true;
  o.AutoLogTick.Checked = false;
  o.AutoPlayTick.Checked = false;
}

void BatchRun::SelectProtocolFor(int32_t index) {
  TMainForm& form = *app_->MainForm;
  if (index < 0 || index >= form.urlCount) return;
  const std::string& url = form.urlList[static_cast<size_t>(index)];
  std::string protocol = options_.protocol.value_or(ProtocolOfScheme(url));
  // A plain mms:// entry speaks MMS over whichever transport answers; HTTP streaming alone would
  // wait on the MMS port for ever.
  if (protocol.empty() && THelper::LowerCase(url).rfind("mms://", 0) == 0) protocol = "AUTO";
  TOptionsDialog& o = *app_->OptionsDialog;
  if (protocol == "HTTP") o.ProtoGroup.ItemIndex = kProtoHttp;
  if (protocol == "TCP") o.ProtoGroup.ItemIndex = kProtoTcp;
  if (protocol == "UDP") o.ProtoGroup.ItemIndex = kProtoUdp;
  if (protocol == "AUTO") o.ProtoGroup.ItemIndex = kProtoAuto;
}

void BatchRun::OnDrained(const MessagePair& pair, bool acts) {
  LogDrained(out_, pair);
  if (!acts || !batch_started_) return;
  const uint32_t action = ActionOf(pair.code);
  if (action != mcCompleted && action != mcFatal) return;
  const int32_t index = CurrentEntry();
  if (index < 0 || index >= static_cast<int32_t>(entries_.size())) {
    // Nothing of the list started: the batch itself was refused.
    if (action == mcFatal) refused_ = true;
    return;
  }
  Entry& entry = entries_[static_cast<size_t>(index)];
  if (entry.result == EntryResult::NotRun) {
    entry.result = action == mcCompleted ? EntryResult::Completed : EntryResult::Failed;
    if (action == mcCompleted) entry.file = app_->MainForm->SaveWindow.Caption;
  }
  // The drain starts the next entry right after this pair.
  SelectProtocolFor(index + 1);
}

void BatchRun::EndStalledEntry() {
  TMainForm& form = *app_->MainForm;
  const int32_t index = CurrentEntry();
  if (index >= 0 && index < static_cast<int32_t>(entries_.size())) {
    Entry& entry = entries_[static_cast<size_t>(index)];
    if (entry.result == EntryResult::NotRun) entry.result = EntryResult::Failed;
  }
  out_.Note("the connection of " + app_->MainForm->URL.Text +
            " ended before the download did; going on with the next entry");
  form.FinishOpenSaveFile();
  form.Timer3Timer();
  SelectProtocolFor(index + 1);
  if (form.batchActive) form.NextPlaylistTrack();
}

int BatchRun::Run() {
  Setup();
  TMainForm& form = *app_->MainForm;
  TLocationLoader::Outcome outcome;
  {
    // Ctrl-C during the fetch of the play list cancels it.
    THttpClient& client = app_->LocationLoader->HTTPSocket;
    InterruptWatch watch([&client] { client.Disconnect(); });
    outcome = OpenInForms(*app_, *app_->LocationLoader, desktop_, options_.url);
  }
  if (Interrupted()) {
    out_.Note("interrupted while the play list was fetched");
    return kExitInterrupted;
  }
  if (outcome != TLocationLoader::Outcome::ListLoaded) {
    out_.Note(options_.url + " gave no play list entries to download");
    return kExitFailed;
  }
  cut_ = app_->LocationLoader->ListCut();
  for (int32_t i = 0; i < form.urlCount; ++i) {
    Entry entry;
    entry.url = form.urlList[static_cast<size_t>(i)];
    entries_.push_back(entry);
  }
  SelectProtocolFor(0);
  app_->Window.Queue([this, &form] {
    batch_started_ = true;
    form.ConnectionBatchClick();
  });
  int64_t idle_since = -1;
  int32_t idle_entry = -1;
  for (;;) {
    app_->Window.ProcessUntil([] { return Interrupted(); }, kPassMs);
    if (Interrupted()) return Finish(true);
    if (refused_) return Finish(false);
    if (batch_started_ && !form.batchActive && !form.Session->IsConnected()) return Finish(false);
    // An entry whose connection is down for a while without a result has ended without one:
    // the server closed it early, or it never answered as the transport expects.
    const int32_t index = CurrentEntry();
    const bool pending = batch_started_ && index >= 0 &&
                         index < static_cast<int32_t>(entries_.size()) &&
                         entries_[static_cast<size_t>(index)].result == EntryResult::NotRun;
    const int64_t now = app_->Window.GetClock().MonotonicMs();
    // An entry whose cut stream is being joined again is waiting on purpose.
    if (pending && !form.Session->IsConnected() && !form.Reconnecting()) {
      // The time down belongs to one entry: short entries, each seen between its connections,
      // must not add up to a stall of the one that happens to be starting.
      if (idle_since < 0 || idle_entry != index) {
        idle_since = now;
        idle_entry = index;
      }
      if (now - idle_since >= kIdleGraceMs) {
        idle_since = -1;
        EndStalledEntry();
      }
    } else {
      idle_since = -1;
    }
  }
}

int BatchRun::Finish(bool interrupted) {
  TMainForm& form = *app_->MainForm;
  if (interrupted) {
    form.DisconnectionClick();
    out_.Note("interrupted; the download was stopped and its file finished");
  }
  form.StopSession();
  form.Session->WaitFor();
  form.FinishSaveFile();
  form.Timer3Timer();
  out_.EndProgress();
  if (options_.logFile && !form.SaveLogFile()) {
    out_.Note("the log could not be saved to " + *options_.logFile);
  }
  int completed = 0;
  int failed = 0;
  for (const Entry& entry : entries_) {
    switch (entry.result) {
      case EntryResult::Completed:
        ++completed;
        std::cout << "completed\t" << entry.url << "\t" << entry.file << "\n";
        break;
      case EntryResult::Failed:
        ++failed;
        std::cout << "failed\t" << entry.url << "\n";
        break;
      case EntryResult::NotRun:
        std::cout << "not run\t" << entry.url << "\n";
        break;
    }
  }
  if (cut_) {
    std::cout << "cut\tthe play list holds more than " << kScanListSize
              << " entries; only the first " << kScanListSize << " were taken\n";
  }
  std::cout << "batch: " << entries_.size() << " entries" << (cut_ ? " (play list cut)" : "")
            << ", " << completed << " completed, " << failed << " failed\n";
  std::cout.flush();
  if (interrupted) return kExitInterrupted;
  return !entries_.empty() && completed == static_cast<int>(entries_.size()) ? kExitCompleted
                                                                             : kExitFailed;
}

}  // namespace

int RunBatch(const std::vector<std::string>& args) {
  // The transfer flags are those of get; what names one save file has no meaning here.
  std::vector<std::string> asGet{"get"};
  for (const std::string& a : args) {
    if (a == "-h" || a == "--help") {
      std::cout << BatchUsage();
      return kExitCompleted;
    }
    if (a == "-o" || a == "--resume" || a == "--overwrite") {
      std::cerr << "qor-cli: " << a << " is not a flag of this command\n"
                << "Try 'qor-cli batch --help'.\n";
      return kExitUsage;
    }
    asGet.push_back(a);
  }
  const ParseResult parsed = ParseCommandLine(asGet);
  if (!parsed.error.empty()) {
    std::cerr << "qor-cli: " << parsed.error << "\nTry 'qor-cli batch --help'.\n";
    return kExitUsage;
  }
  InstallInterruptHandler();
  TerminalOutput out(stderr);
  try {
    BatchRun run(parsed.options, out);
    return run.Run();
  } catch (const std::exception& e) {
    out.Note(e.what());
    return kExitFailed;
  }
}

std::string BatchUsage() {
  return std::string(
             "Usage: qor-cli batch LOCATION [-d DIR] [flags]\n"
             "\n"
             "Opens the play list at LOCATION (a local file or a web address, as 'qor-cli open'\n"
             "does) and downloads every entry one after another into automatically named\n"
             "files _N_NAME in DIR. A failing entry does not stop the batch. At the end one line\n"
             "per entry (completed, failed or not run) and a summary go to stdout. A batch takes\n"
             "the first 50 entries of a longer list; a 'cut' line and the summary say so.\n"
             "\n"
             "  -d DIR                    folder of the downloads (default the current folder)\n"
             "  --protocol http|tcp|udp|auto  transport of every entry (default: from each\n"
             "                            entry's scheme: mmsu:// UDP, mmst:// TCP, http:// and\n"
             "                            mmsh:// HTTP, mms:// auto: UDP, then TCP, then HTTP;\n"
             "                            otherwise the stored choice)\n"
             "  --http-port N, --tcp-port N, --udp-port N, --max-udp N, --proxy HOST:PORT,\n"
             "  --offset HH:MM:SS, --bypass-dns, --user ID --password PW, --config-dir DIR,\n"
             "  --log FILE, --reconnect N (default 3)  as for 'qor-cli get'\n"
             "\n") +
         "Exit status: 0 when every entry completed; 1 when any failed or the location gave\n"
         "no entries; 2 on a usage error; 130 when interrupted.\n";
}

}  // namespace qor::cli
