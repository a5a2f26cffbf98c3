#include "cli/run_report.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "asf/asf.h"
#include "platform/file_handle.h"

namespace qor::cli {

RunReport::RunReport(const CliOptions& options, TerminalOutput& out, TApplication& app)
    : options_(options), out_(out), app_(app) {
  StartDownload();
}

int64_t RunReport::Now() const {
  return app_.Window.GetClock().MonotonicMs();
}

void RunReport::StartDownload() {
  start_ms_ = Now();
  rate_mark_ms_ = -1;
  rate_mark_bytes_ = 0;
  bytes_per_second_ = 0;
}

void RunReport::Progress(bool started) {
  TMainForm& form = *app_.MainForm;
  const int64_t now = Now();
  const SessionStatus status = form.Session->Status();
  const uint32_t packets = static_cast<uint32_t>(status.PacketNumber);
  const uint64_t bytes = static_cast<uint64_t>(packets) * status.PacketSize;
  if (rate_mark_ms_ < 0) {
    rate_mark_ms_ = now;
    rate_mark_bytes_ = bytes;
  } else if (now - rate_mark_ms_ >= 1000) {
    const uint64_t gained = bytes >= rate_mark_bytes_ ? bytes - rate_mark_bytes_ : 0;
    bytes_per_second_ = gained * 1000 / static_cast<uint64_t>(now - rate_mark_ms_);
    rate_mark_ms_ = now;
    rate_mark_bytes_ = bytes;
  }
  if (options_.progressJson && (json_mark_ms_ < 0 || now - json_mark_ms_ >= 1000)) {
    json_mark_ms_ = now;
    const TMMS& session = *form.Session;
    const char* state = "connecting";
    if (started) {
      state = session.IsConnected() ? "receiving" : "ending";
    } else if (form.VcrArmed() && !form.vcrRecording) {
      state = "waiting";
    }
    const int32_t percent = form.ProgBar.Gauge.ShowText() ? form.ProgBar.Gauge.Progress() : -1;
    nlohmann::ordered_json line{
        {"event", "progress"},
        {"state", state},
        {"stream_time", started ? status.SendTime / 1000.0 : 0.0},
        {"packets", started ? packets : 0},
        {"bytes", started ? bytes : 0},
        {"rate", bytes_per_second_},
        {"lost", status.LostPackets},
        {"recovered", status.RecoveredPackets},
        {"percent", percent >= 0 ? nlohmann::ordered_json(percent) : nlohmann::ordered_json()}};
    out_.RecordLine(line.dump());
  }
  if (!started || options_.progressJson) return;
  ProgressValues values;
  values.percent = form.ProgBar.Gauge.ShowText() ? form.ProgBar.Gauge.Progress() : -1;
  values.time = form.SendTime.Text;
  values.packets = packets;
  values.bytesPerSecond = bytes_per_second_;
  out_.Progress(values);
}

RunReport::Figures RunReport::Current() const {
  const TMainForm& form = *app_.MainForm;
  Figures figures;
  figures.file = form.SaveWindow.Caption;
  // A reconnect that never got to write names a file it then removed: the recording is in the
  // last file kept.
  struct stat info {};
  if (::stat(figures.file.c_str(), &info) != 0 && !form.LastKeptFile().empty())
    figures.file = form.LastKeptFile();
  const SessionStatus status = form.Session->Status();
  figures.recovered = status.RecoveredPackets;
  figures.lost = status.LostPackets;
  figures.cuts = form.Cuts();
  return figures;
}

namespace {

// The whole packets a file holds and the last one's send time.
void OnDisk(const std::string& file, uint64_t size, uint64_t& packets, double& durationMs) {
  FileHandle handle;
  AsfResumePoint point;
  std::string why;
  packets = 0;
  durationMs = 0;
  if (!handle.Open(file, FileHandle::Mode::OpenRead)) return;
  const AsfReadAt read = [&handle](uint64_t at, void* into, size_t count) {
    return handle.ReadAt(static_cast<int64_t>(at), into, count);
  };
  if (!FindAsfResumePoint(read, size, point, why)) return;
  packets = point.packets;
  durationMs = point.lastSendTime;
}

}  // namespace

void RunReport::Summary(const Figures& figures) {
  const std::string& file = figures.file;
  struct stat info {};
  const bool kept = !file.empty() && ::stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode);
  const auto size = kept ? static_cast<uint64_t>(info.st_size) : 0;
  uint64_t packets = 0;
  double durationMs = 0;
  if (kept && size > 0) {
    TASF model;
    if (model.ReadHeaderFromFile(file)) {
      // Packets given up are holes inside the count the header declares.
      packets = model.DataPacketsCount > figures.lost ? model.DataPacketsCount - figures.lost : 0;
      durationMs = model.SendDuration;
      // A header that was never brought up to date (a refused resume, a killed run) still
      // describes the server's clip: what the file holds is its whole packets.
      const uint64_t end = model.FirstPacketOffset() + model.DataPacketsCount * model.PacketSize;
      if (model.PacketSize > 0 && end > size) OnDisk(file, size, packets, durationMs);
    }
  }
  const int64_t elapsed = std::max<int64_t>(1, Now() - start_ms_);
  char rate[32];
  std::snprintf(rate, sizeof rate, "%.1f kB/s", static_cast<double>(size) / elapsed);
  std::string name = file.empty() ? std::string("no file") : file;
  if (!file.empty() && !kept) name += " (not on disk)";
  summary_ = {{"event", "summary"},
              {"status", 0},
              {"file", file.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(file)},
              {"on_disk", kept},
              {"packets", packets},
              {"recovered", figures.recovered},
              {"lost", figures.lost},
              {"duration", durationMs / 1000.0},
              {"size", size},
              {"rate", size * 1000 / static_cast<uint64_t>(elapsed)},
              {"elapsed", static_cast<double>(elapsed) / 1000.0}};
  std::string line = "summary: " + name + ", " + std::to_string(packets) + " packets saved, " +
                     std::to_string(figures.recovered) + " recovered, " +
                     std::to_string(figures.lost) + " lost, " + THelper::FormatTime(durationMs) +
                     ", " + std::to_string(size) + " bytes, " + rate + " on average";
  // A recording that was cut and joined again: the figures above are of its last file.
  const TMainForm::CutCounts& cuts = figures.cuts;
  if (cuts.cuts > 0) {
    line += "; " + std::to_string(cuts.cuts) + (cuts.cuts == 1 ? " cut, " : " cuts, ") +
            THelper::FormatTime(static_cast<double>(cuts.lostMs)) + " lost to them";
    summary_["cuts"] = cuts.cuts;
    summary_["lost_to_cuts"] = static_cast<double>(cuts.lostMs) / 1000.0;
  }
  out_.Note(line);
}

void RunReport::WriteSummary(int status, const nlohmann::ordered_json& extra) {
  if (!options_.progressJson) return;
  summary_["status"] = status;
  if (extra.is_object()) {
    for (const auto& [key, value] : extra.items()) summary_[key] = value;
  }
  out_.RecordLine(summary_.dump());
}

}  // namespace qor::cli
