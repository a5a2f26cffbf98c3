#include "app/resume_dlg.h"

namespace qor {

TResumeDlg::TResumeDlg() {
  Name = "ResumeDlg";
  Caption = "Resume / Overwrite file";
  Heading.Name = "Heading";
  Heading.Caption = "WARNING !";
  Message.Name = "Message";
  Message.ReadOnly = true;
  for (const char* line : {"The save file you have selected already contains data.",
                           "To protect this file, press CANCEL now.", "",
                           "Please note, you cannot resume LIVE sessions",
                           "you must select Overwrite for live downloads"}) {
    Message.Lines.Add(line);
  }
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
