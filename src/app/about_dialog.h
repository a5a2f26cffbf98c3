#pragma once
// TAboutDialog: the program's version information and where its documentation lives.

#include "app/form_controls.h"

namespace qor {

class TAboutDialog : public TForm {
 public:
  TAboutDialog();

  TMemo Memo1;
  TButton OKButton;  // "&OK"
};

}  // namespace qor
