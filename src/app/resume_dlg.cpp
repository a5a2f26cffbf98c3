#include "app/resume_dlg.h"

#include <cstdio>

#include "asf/asf.h"
#include "platform/file_handle.h"

namespace qor {

namespace {

constexpr const char* kQuestionLines[] = {"The save file you have selected already contains data.",
                                          "To protect this file, press CANCEL now.", "",
                                          "Please note, you cannot resume LIVE sessions",
                                          "you must select Overwrite for live downloads"};

// 1234567 -> "1 234 567".
std::string Grouped(uint64_t value) {
  std::string digits = std::to_string(value);
  for (int64_t at = static_cast<int64_t>(digits.size()) - 3; at > 0; at -= 3)
    digits.insert(static_cast<size_t>(at), " ");
  return digits;
}

}  // namespace

std::string TResumeDlg::ResumeSummary(const std::string& path) {
  FileHandle file;
  const int64_t size = file.Open(path, FileHandle::Mode::OpenRead) ? file.Size() : -1;
  if (size < 0) return "The file cannot be read: it cannot be resumed.";
  const auto readAt = [&file](uint64_t offset, void* buffer, size_t count) {
    return file.ReadAt(static_cast<int64_t>(offset), buffer, count);
  };
  AsfResumePoint point;
  std::string why;
  if (FindAsfResumePoint(readAt, static_cast<uint64_t>(size), point, why)) {
    const uint32_t seconds = point.lastSendTime / 1000;
    char clock[32];
    std::snprintf(clock, sizeof clock, "%02u:%02u:%02u", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    return std::string("Resuming at ") + clock + " (packet " + Grouped(point.packets) +
           " of the file).";
  }
  if (why == "the file holds no ASF header")
    return "Resume asks for the rest of a plain file from byte " +
           Grouped(static_cast<uint64_t>(size)) + ".";
  return "It cannot be resumed: " + why + ".";
}

void TResumeDlg::DescribeFile(const std::string& path) {
  Message.Lines.Clear();
  for (const char* line : kQuestionLines) Message.Lines.Add(line);
  Message.Lines.Add("");
  Message.Lines.Add(ResumeSummary(path));
}

TResumeDlg::TResumeDlg() {
  Name = "ResumeDlg";
  Caption = "Resume / Overwrite file";
  Heading.Name = "Heading";
  Heading.Caption = "WARNING !";
  Message.Name = "Message";
  Message.ReadOnly = true;
  for (const char* line : kQuestionLines) Message.Lines.Add(line);
  ResumeBtn.Name = "ResumeBtn";
  ResumeBtn.Caption = "&Resume session";
  ResumeBtn.ModalResult = mrOk;
  OverwriteBtn.Name = "OverwriteBtn";
  OverwriteBtn.Caption = "&Overwrite and LIVE";
  OverwriteBtn.ModalResult = mrIgnore;
  CancelBtn.Name = "CancelBtn";
  CancelBtn.Caption = "&Cancel";
  CancelBtn.ModalResult = mrCancel;
  CancelBtn.Default = true;
  CancelBtn.Cancel = true;
  Adopt(ResumeBtn);
  Adopt(OverwriteBtn);
  Adopt(CancelBtn);
}

}  // namespace qor
