#pragma once
// What a command-line download shows while it runs and when it ends: the progress line on a
// terminal or, with --progress json, one progress object a second; then a one-line summary and,
// with --progress json, a summary object once the run's status is known. get and record report
// one download, batch one per entry.

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "app/application.h"
#include "cli/cli_options.h"
#include "cli/terminal_output.h"

namespace qor::cli {

class RunReport {
 public:
  RunReport(const CliOptions& options, TerminalOutput& out, TApplication& app);

  // Whether anything is shown while the download runs (the window's display tick feeds it).
  bool ShowsProgress() const { return out_.Terminal() || options_.progressJson; }
  // A download starts: its elapsed time and its rate count from here.
  void StartDownload();
  // The progress of the form's current download, once a second at most for the JSON object.
  void Progress(bool started);

  struct Figures {
    std::string file;
    uint32_t recovered = 0;
    uint32_t lost = 0;
    TMainForm::CutCounts cuts;
  };
  // The figures of the form's current download.
  Figures Current() const;
  // The summary line of a download that has ended with these figures; its object is kept for
  // WriteSummary.
  void Summary(const Figures& figures);
  // With --progress json: the kept summary object, with the status and the extra fields.
  void WriteSummary(int status, const nlohmann::ordered_json& extra = nlohmann::ordered_json());

 private:
  int64_t Now() const;

  const CliOptions& options_;
  TerminalOutput& out_;
  TApplication& app_;
  int64_t start_ms_ = -1;
  int64_t rate_mark_ms_ = -1;
  uint64_t rate_mark_bytes_ = 0;
  uint64_t bytes_per_second_ = 0;
  int64_t json_mark_ms_ = -1;  // when the last progress object was written
  nlohmann::ordered_json summary_;
};

}  // namespace qor::cli
