#pragma once
// TOpenMediaDialog: where the user types or browses for a location to open. Keeps a history of
// the last 20 locations, newest first, in the settings store.

#include <string>

#include "app/desktop_services.h"
#include "app/form_controls.h"
#include "support/helper.h"

namespace qor {

inline constexpr int32_t kMediaHistorySize = 20;
inline constexpr const char* kOpenMediaFilter =
    "All WM and Qor log files|*.asf; *.wmv; *.wma; *.wa; *.asx; *.wmx; *.wax; *.wvx; *.txt|WM "
    "Media "
    "files|*.asf; *.wmv; *.wma; *.wa|WM Redirector files|*.asx; *.wmx; *.wax; *.wvx|Qor log "
    "files|*.txt|All files|*.*";

// The directory part of a path, with its trailing separator; empty when there is none.
std::string DirectoryOf(const std::string& path);
// Whether a typed text can be a location: a path, or an address with a scheme Qor opens, a host
// and no blanks or control characters.
bool IsLocationText(const std::string& text);

class TOpenMediaDialog : public TForm {
 public:
  // The main window's controls the dialog fills on OK.
  TOpenMediaDialog(DesktopServices& desktop, TLabel& mediaWindow, TLabel& saveWindow,
                   TComboBox& url);

  TComboBox Combo1;
  TButton Button1;  // "&Browse..."
  TButton Button2;  // "&Cancel"
  TButton Button3;  // "&Ok"

  void FormShow() override;
  void Combo1KeyDown(uint16_t key);
  void Button3Click();
  void Button1Click();

  THelper Helper;

 private:
  DesktopServices& desktop_;
  TLabel& mediaWindow_;
  TLabel& saveWindow_;
  TComboBox& url_;
};

}  // namespace qor
