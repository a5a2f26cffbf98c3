#pragma once
// TResumeDlg: the question asked when the chosen save file already holds data.

#include <string>

#include "app/form_controls.h"

namespace qor {

class TResumeDlg : public TForm {
 public:
  TResumeDlg();

  // The question's text with a last line that says what resuming the file at path would do, or
  // why it cannot be done.
  void DescribeFile(const std::string& path);
  // That line: read from the file's header and its last whole packet.
  static std::string ResumeSummary(const std::string& path);

  TLabel Heading;
  TMemo Message;
  TButton ResumeBtn;     // "&Resume session": OK
  TButton OverwriteBtn;  // "&Overwrite and LIVE": Ignore
  TButton CancelBtn;     // "&Cancel": Cancel, default and Escape

 protected:
  // The close box answers nothing, so the caller neither resumes nor overwrites.
  int32_t CloseResult() const override { return mrNone; }
};

}  // namespace qor
