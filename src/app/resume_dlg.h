#pragma once
// TResumeDlg: the question asked when the chosen save file already holds data.

#include "app/form_controls.h"

namespace qor {

class TResumeDlg : public TForm {
 public:
  TResumeDlg();

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
