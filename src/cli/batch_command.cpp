#include "cli/batch_command.h"

#include <iostream>

#include "cli/cli_options.h"
#include "cli/download_run.h"
#include "cli/exit_status.h"
#include "cli/open_command.h"
#include "cli/run_report.h"
#include "cli/run_setup.h"
#include "support/location.h"

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

class BatchRun {
 public:
  BatchRun(const CliOptions& options, TerminalOutput& out)
      : options_(options), out_(out), settings_(options) {}
  ~BatchRun() {
    report_.reset();
    app_.reset();
  }

  int Run();

 private:
  void Setup();
  int32_t CurrentEntry() const { return app_->MainForm->batchIndex - 1; }
  void OnDrained(const MessagePair& pair, bool acts);
  // Notes that entry index has ended with result, with the figures its download has now.
  void EndEntry(int32_t index, EntryResult result);
  // Writes the summaries of the entries that have ended since the last pass.
  void ReportEndedEntries();
  void EndStalledEntry();
  int Finish(bool interrupted);

  const CliOptions& options_;
  TerminalOutput& out_;
  RunSettings settings_;
  LocationDesktop desktop_;
  std::unique_ptr<TApplication> app_;
  std::unique_ptr<RunReport> report_;
  std::vector<Entry> entries_;
  struct Ended {
    int32_t index = 0;
    RunReport::Figures figures;
  };
  std::vector<Ended> ended_;
  bool batch_started_ = false;
  bool started_ = false;  // the current entry's stream has begun
  bool refused_ = false;
  bool cut_ = false;
};

void BatchRun::Setup() {
  app_ = MakeRunForms(options_, desktop_);
  report_ = std::make_unique<RunReport>(options_, out_, *app_);
  TMainForm& form = *app_->MainForm;
  form.OnDrained = [this](const MessagePair& pair, bool acts) { OnDrained(pair, acts); };
  form.OnTransportRollover = [this] { started_ = false; };
  form.OnReconnect = [this] { started_ = false; };
  if (!report_->ShowsProgress()) form.Timer1.SetEnabled(false);
}

// A completed entry with holes, like get, says so; any failure is a failure.
int EntryStatus(EntryResult result, uint32_t lost) {
  if (result != EntryResult::Completed) return kExitFailed;
  return lost > 0 ? kExitMissing : kExitCompleted;
}

void BatchRun::EndEntry(int32_t index, EntryResult result) {
  Entry& entry = entries_[static_cast<size_t>(index)];
  if (entry.result != EntryResult::NotRun) return;
  entry.result = result;
  if (result == EntryResult::Completed) entry.file = app_->MainForm->SaveWindow.Caption;
  // The file is finished by the drain that follows; its figures are read once it is.
  ended_.push_back({index, report_->Current()});
  started_ = false;
}

void BatchRun::ReportEndedEntries() {
  for (const Ended& ended : ended_) {
    const Entry& entry = entries_[static_cast<size_t>(ended.index)];
    out_.EndProgress();
    report_->Summary(ended.figures);
    report_->WriteSummary(EntryStatus(entry.result, ended.figures.lost),
                          {{"entry", ended.index + 1}, {"url", entry.url}});
    report_->StartDownload();
  }
  ended_.clear();
}

void BatchRun::OnDrained(const MessagePair& pair, bool acts) {
  LogDrained(out_, pair);
  if (!acts || !batch_started_) return;
  const uint32_t action = ActionOf(pair.code);
  if (action == mcStarted) started_ = true;
  if (action != mcCompleted && action != mcFatal) return;
  const int32_t index = CurrentEntry();
  if (index < 0 || index >= static_cast<int32_t>(entries_.size())) {
    // Nothing of the list started: the batch itself was refused.
    if (action == mcFatal) refused_ = true;
    return;
  }
  EndEntry(index, action == mcCompleted ? EntryResult::Completed : EntryResult::Failed);
}

void BatchRun::EndStalledEntry() {
  TMainForm& form = *app_->MainForm;
  const int32_t index = CurrentEntry();
  if (index >= 0 && index < static_cast<int32_t>(entries_.size()))
    EndEntry(index, EntryResult::Failed);
  out_.Note("the connection of " + HidePasswords(form.URL.Text) +
            " ended before the download did; going on with the next entry");
  form.FinishOpenSaveFile();
  form.Timer3Timer();
  if (form.batchActive) form.NextPlaylistTrack();
}

int BatchRun::Run() {
  if (!PrepareFolder(options_, out_)) return kExitFailed;
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
    out_.Note(HidePasswords(options_.url) + " gave no play list entries to download");
    return kExitFailed;
  }
  cut_ = app_->LocationLoader->ListCut();
  for (int32_t i = 0; i < form.urlCount; ++i) {
    Entry entry;
    entry.url = form.urlList[static_cast<size_t>(i)];
    entries_.push_back(entry);
  }
  app_->Window.Queue([this, &form] {
    batch_started_ = true;
    form.ConnectionBatchClick();
  });
  int64_t idle_since = -1;
  int32_t idle_entry = -1;
  for (;;) {
    app_->Window.ProcessUntil([] { return Interrupted(); }, kPassMs);
    ReportEndedEntries();
    if (Interrupted()) return Finish(true);
    report_->Progress(started_);
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
  const int32_t running = CurrentEntry();
  const bool wasRunning = batch_started_ && running >= 0 &&
                          running < static_cast<int32_t>(entries_.size()) &&
                          entries_[static_cast<size_t>(running)].result == EntryResult::NotRun;
  const RunReport::Figures figures = report_->Current();
  form.StopSession();
  form.Session->WaitFor();
  form.FinishSaveFile();
  form.Timer3Timer();
  ReportEndedEntries();
  out_.EndProgress();
  if (interrupted && wasRunning) {
    report_->Summary(figures);
    report_->WriteSummary(kExitInterrupted, {{"entry", running + 1},
                                             {"url", entries_[static_cast<size_t>(running)].url}});
  }
  if (options_.logFile && !form.SaveLogFile()) {
    out_.Note("the log could not be saved to " + *options_.logFile);
  }
  int completed = 0;
  int failed = 0;
  for (const Entry& entry : entries_) {
    const std::string url = HidePasswords(entry.url);
    switch (entry.result) {
      case EntryResult::Completed:
        ++completed;
        std::cout << "completed\t" << url << "\t" << entry.file << "\n";
        break;
      case EntryResult::Failed:
        ++failed;
        std::cout << "failed\t" << url << "\n";
        break;
      case EntryResult::NotRun:
        std::cout << "not run\t" << url << "\n";
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
  const int status = interrupted ? kExitInterrupted
                     : !entries_.empty() && completed == static_cast<int>(entries_.size())
                         ? kExitCompleted
                         : kExitFailed;
  if (options_.progressJson) {
    const nlohmann::ordered_json end{{"event", "batch"},
                                     {"entries", entries_.size()},
                                     {"completed", completed},
                                     {"failed", failed},
                                     {"status", status}};
    out_.RecordLine(end.dump());
  }
  return status;
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
             "Each entry is read as 'qor-cli get' reads its URL, with the flags below; with\n"
             "--progress json each entry ends with its summary object (with its entry number and\n"
             "url) and the batch with one object {event: batch, entries, completed, failed,\n"
             "status}.\n"
             "\n"
             "  -d DIR                    folder of the downloads (default the current folder;\n"
             "                            made when missing)\n") +
         TransferFlagsUsage() + "\n" +
         "Exit status: 0 when every entry completed; 1 when any failed or the location gave\n"
         "no entries; 2 on a usage error; 130 when interrupted.\n";
}

}  // namespace qor::cli
