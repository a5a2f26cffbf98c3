// Naming, creating and reopening the save file of a download.

#include <cerrno>
#include <cstring>

#include "app/file_names.h"
#include "app/main_form.h"
#include "app/open_media_dialog.h"
#include "app/resume_dlg.h"
#include "support/location.h"

namespace qor {

namespace {

// Plenty for any folder a person keeps; the bound only stops a folder that refuses every name.
constexpr int64_t kMaxAutoNames = 1000000;
// Room for the "_n_" in front of an automatic name, n up to kMaxAutoNames.
constexpr size_t kAutoPrefixBytes = 9;

// The save file's name from the location: one element inside the folder, "_live.asf" added when
// it has no extension; empty when the location names nothing.
std::string NameFromLocation(const std::string& url, size_t maxBytes) {
  // A password written in the location must not end up in a file name, nor does the query
  // ("clip.wmv?name=a/b" is clip.wmv, not a stream called "b").
  std::string named = WithoutUserInfo(url);
  Location parts;
  if (ParseLocation(named, parts) == LocationProblem::None) {
    const size_t query = named.find('?', named.find("://") + 3);
    if (query != std::string::npos) named.resize(query);
  }
  std::string name = CleanFileName(THelper::StripQuery(THelper::FileNameOf(named)));
  if (name.empty()) return name;
  if (THelper::ClassifyLocation(name) & lcNoExtension) name += "_live.asf";
  return ShortenFileName(name, maxBytes);
}

// "path (reason)" for a file that could not be opened or created.
std::string FileProblem(const std::string& path, int error) {
  return path + " (" + (error != 0 ? std::strerror(error) : "unknown reason") + ")";
}

std::string ProposedName(const std::string& url) {
  return NameFromLocation(url, kMaxFileNameBytes);
}

}  // namespace

bool TMainForm::CreateAutoSaveFile() {
  created_save_path_.clear();
  const std::string dir =
      AutoSaveDir ? *AutoSaveDir : Helper.ReadSetting(kSettingsKeyPath, "AsfDir");
  const std::string name = NameFromLocation(URL.Text, kMaxFileNameBytes - kAutoPrefixBytes);
  if (name.empty()) {
    Messages.Post("Error: Auto save file URL data is missing or invalid", mcFatal);
    return false;
  }
  // Exclusive creation: a name taken meanwhile, even by another program, moves on to the next n
  // instead of replacing that file.
  for (int64_t n = 1; n <= kMaxAutoNames; ++n) {
    const std::string path = dir + "_" + THelper::IntText(n) + "_" + name;
    int error = 0;
    std::shared_ptr<TSaveFile> file =
        TSaveFile::Open(path, FileHandle::Mode::CreateExclusive, &error);
    if (file) {
      SaveWindow.Caption = path;
      resumeSave = false;
      saveFile = std::move(file);
      created_save_path_ = path;
      return true;
    }
    if (error != EEXIST) {
      Messages.Post("There was a problem creating an auto save file: " + FileProblem(path, error),
                    mcFatal);
      return false;
    }
  }
  Messages.Post("There was a problem creating an auto save file", mcFatal);
  return false;
}

bool TMainForm::ReopenForResume() {
  // The file a cut pre-recorded download was writing: the rest of the clip goes on after its
  // last whole packet, as --resume or the resume question would continue it.
  created_save_path_.clear();
  SaveWindow.Caption = resume_again_path_;
  resumeSave = true;
  int error = 0;
  saveFile = TSaveFile::Open(resume_again_path_, FileHandle::Mode::OpenReadWrite, &error);
  if (!saveFile) {
    Messages.Post("There was a problem opening the save file on resume: " +
                      FileProblem(resume_again_path_, error),
                  mcFatal);
    return false;
  }
  return true;
}

bool TMainForm::CreateOrResumeSaveFile() {
  TFileDialogRequest request;
  request.InitialDir = Helper.ReadSetting(kSettingsKeyPath, "AsfDir");
  request.DefaultExt = "asf";
  request.Title = "Create / Resume save file";
  request.Filter = kSaveFilter;
  request.FilterIndex = 1;
  request.OverwritePrompt = false;
  request.FileName = ProposedName(URL.Text);

  std::string chosen;
  for (;;) {
    std::optional<std::string> answer = desktop_.SaveFileDialog(request);
    if (!answer) return false;
    chosen = *answer;
    if (THelper::ClassifyLocation(chosen) & lcMediaFile) break;
    Messages.Post("Invalid save file type\nRe-check entry or try .asf as the extention", mcFatal);
  }
  SaveWindow.Caption = chosen;
  Helper.WriteSetting(kSettingsKeyPath, "AsfDir", DirectoryOf(chosen));

  // Sizes in 64 bits: a file of exactly 4 GiB still holds data.
  int64_t size = 0;
  {
    FileHandle probe;
    if (probe.Open(chosen, FileHandle::Mode::OpenRead)) {
      size = probe.Seek(0, FileHandle::Whence::End);
      if (size < 0) size = 0;
    }
  }
  created_save_path_.clear();
  if (size != 0) {
    TResumeDlg local;
    TResumeDlg& dialog = peers_.ResumeDlg ? *peers_.ResumeDlg : local;
    dialog.DescribeFile(chosen);
    const int32_t result = desktop_.ShowModal(dialog);
    if (result == mrOk) {
      resumeSave = true;
      int error = 0;
      saveFile = TSaveFile::Open(chosen, FileHandle::Mode::OpenReadWrite, &error);
      if (!saveFile) {
        Messages.Post(
            "There was a problem opening the save file on resume: " + FileProblem(chosen, error),
            mcFatal);
        return false;
      }
      return true;
    }
    if (result == mrCancel || result == mrNone) return false;
  }
  resumeSave = false;
  // Created exclusively first, so the window knows the file is its own; one that is there (empty,
  // or to be replaced) is emptied and kept whatever the download brings.
  saveFile = TSaveFile::Open(chosen, FileHandle::Mode::CreateExclusive);
  if (saveFile) {
    created_save_path_ = chosen;
    return true;
  }
  int error = 0;
  saveFile = TSaveFile::Open(chosen, FileHandle::Mode::CreateTruncate, &error);
  if (!saveFile) {
    Messages.Post("There was a problem creating a new save file: " + FileProblem(chosen, error),
                  mcFatal);
    return false;
  }
  return true;
}

}  // namespace qor
