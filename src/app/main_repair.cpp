// Repairing a saved recording from the window, and telling in the media information that a file
// needs it.

#include <filesystem>
#include <optional>
#include <vector>

#include "app/main_form.h"
#include "app/main_info_dialog.h"
#include "asf/asf_header_totals.h"
#include "asf/asf_repair.h"
#include "platform/file_handle.h"

namespace qor {

namespace {

constexpr const char* kRepairFilter = "Windows Media Files|*.asf;*.wmv;*.wma;*.wm|All Files|*.*";

// Finishing writes the file's exact length into its header as its last step: a file whose header
// gives it, and no broadcast, was finished.
bool HeaderSaysFinished(FileHandle& file, int64_t length) {
  uint8_t start[30];
  if (file.ReadAt(0, start, sizeof start) != static_cast<int64_t>(sizeof start)) return false;
  uint64_t objectSize = 0;
  for (int i = 0; i < 8; ++i) objectSize |= static_cast<uint64_t>(start[16 + i]) << (8 * i);
  if (objectSize < sizeof start || objectSize > kMaxHeaderLength) return false;
  std::vector<uint8_t> block(static_cast<size_t>(objectSize + kDataObjectHeaderLength));
  AsfHeaderLayout layout;
  if (file.ReadAt(0, block.data(), block.size()) != static_cast<int64_t>(block.size()) ||
      !LocateAsfHeader(block.data(), block.size(), layout))
    return false;
  const uint8_t* f = block.data() + layout.filePropertiesAt;
  uint64_t declared = 0;
  for (int i = 0; i < 8; ++i) declared |= static_cast<uint64_t>(f[40 + i]) << (8 * i);
  return (f[88] & ffBroadcast) == 0 && declared == static_cast<uint64_t>(length);
}

}  // namespace

std::string UnfinishedRecordingNote(const std::string& path) {
  FileHandle file;
  if (!file.Open(path, FileHandle::Mode::OpenRead)) return std::string();
  const int64_t length = file.Size();
  if (length <= 0 || HeaderSaysFinished(file, length)) return std::string();
  const AsfReadAt readAt = [&file](uint64_t at, void* buffer, size_t count) {
    return file.ReadAt(static_cast<int64_t>(at), buffer, count);
  };
  AsfFileScan scan;
  std::string why;
  if (!ScanAsfFile(readAt, static_cast<uint64_t>(length), scan, why)) return std::string();
  return AsfUnfinishedNote(scan);
}

void TMainForm::Repair1Click() {
  desktop_.Repaint();
  TFileDialogRequest request;
  request.Title = "Repair a recording";
  request.Filter = kRepairFilter;
  request.InitialDir = Helper.ReadSetting(kSettingsKeyPath, "AsfDir");
  request.FileName = LocalMediaFile();
  const std::optional<std::string> chosen = desktop_.OpenFileDialog(request);
  if (!chosen) return;
  // The file a download is writing is finished when the download ends; a repair now would race
  // the writer (and repair refuses a file that changes under it anyway).
  std::error_code error;
  if (saveFile && std::filesystem::equivalent(*chosen, SaveWindow.Caption, error)) {
    desktop_.MessageBox(
        *chosen + "\n\nis still being recorded: it is finished when its download ends.", "Repair",
        TMsgDlgType::Warning, mbOK);
    return;
  }
  AsfRepairReport report;
  std::string why;
  if (!RepairAsfFile(*chosen, false, report, why)) {
    desktop_.MessageBox(*chosen + "\n\nwas not repaired: " + why, "Repair", TMsgDlgType::Error,
                        mbOK);
    return;
  }
  Messages.Post("Repair: " + *chosen + ": " + AsfRepairSummary(report), mcNotice);
  if (InfoShown()) LoadInfoDialog();
}

}  // namespace qor
