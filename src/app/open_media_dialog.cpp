#include "app/open_media_dialog.h"

#include <unistd.h>

namespace qor {

bool IsLocationText(const std::string& text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  }
  const size_t scheme = text.find("://");
  if (scheme == std::string::npos) return true;  // a path, which opening it will check
  const std::string name = THelper::LowerCase(text.substr(0, scheme));
  bool known = false;
  for (const char* s : {"mms", "mmst", "mmsu", "mmsh", "http", "file"}) known = known || name == s;
  const size_t hostEnd = text.find('/', scheme + 3);
  const std::string host = text.substr(scheme + 3, hostEnd - (scheme + 3));
  return known && (name == "file" || !host.empty()) &&
         text.find_first_of(" \t") == std::string::npos;
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

TOpenMediaDialog::TOpenMediaDialog(DesktopServices& desktop, TLabel& mediaWindow,
                                   TLabel& saveWindow, TComboBox& url)
    : desktop_(desktop), mediaWindow_(mediaWindow), saveWindow_(saveWindow), url_(url) {
  Name = "OpenMediaDialog";
  Caption = "Open";
  StayOnTop = true;
  Combo1.Name = "Combo1";
  Combo1.Placeholder = "Enter your media location here";
  Combo1.OnKeyDown = [this](uint16_t key) { Combo1KeyDown(key); };
  Button1.Name = "Button1";
  Button1.Caption = "&Browse...";
  Button1.OnClick = [this] { Button1Click(); };
  Button2.Name = "Button2";
  Button2.Caption = "&Cancel";
  Button2.ModalResult = mrCancel;
  Button2.Cancel = true;
  Button3.Name = "Button3";
  Button3.Caption = "&Ok";
  Button3.ModalResult = mrOk;
  Button3.OnClick = [this] { Button3Click(); };
  Adopt(Button1);
  Adopt(Button2);
  Adopt(Button3);
}

void TOpenMediaDialog::FormShow() {
  Combo1.Items.SetText(Helper.ReadSetting(kSettingsKeyPath, "MediaList"));
  // What an older version let in (its prompt typed into) is no location to offer again.
  for (int32_t i = Combo1.Items.Count() - 1; i >= 0; --i) {
    if (!IsLocationText(Combo1.Items[i])) Combo1.Items.Delete(i);
  }
  if (Combo1.Items.Count() > 0) Combo1.Text = Combo1.Items[0];
}

void TOpenMediaDialog::Combo1KeyDown(uint16_t key) {
  // Enter confirms the dialog as "&Ok" does; running only the handler would leave the dialog open
  // and a later "&Ok" would enter the location a second time.
  if (key == kKeyReturn) Button3.Click();
}

void TOpenMediaDialog::Button3Click() {
  if (Combo1.Text.empty()) return;
  const std::string location = THelper::Trim(Combo1.Text);
  if (!IsLocationText(location)) {
    // Said at once, with the dialog still open to mend the typing.
    ModalResult = mrNone;
    desktop_.MessageBox("\"" + location +
                            "\" is not a location Qor can open.\n\nType a stream's address "
                            "(mms://, mmsh://, mmst://, mmsu:// or http://), or the path of a play "
                            "list or a saved file.",
                        "Open", TMsgDlgType::Warning, mbOK);
    return;
  }
  mediaWindow_.Caption = location;
  // The history keeps what can be opened again: addresses, and files that exist.
  if (location.find("://") != std::string::npos || ::access(location.c_str(), F_OK) == 0) {
    Combo1.Items.Insert(0, location);
    // A list grown past its size elsewhere is cut back too, not only by the one just added.
    while (Combo1.Items.Count() > kMediaHistorySize) Combo1.Items.Delete(kMediaHistorySize);
    Helper.WriteSetting(kSettingsKeyPath, "MediaList", Combo1.Items.Text());
  }
  saveWindow_.Caption.clear();
  url_.Items.Clear();
  url_.Text.clear();
  url_.ItemIndex = -1;
}

void TOpenMediaDialog::Button1Click() {
  TFileDialogRequest request;
  request.Title = "Open a local file";
  request.InitialDir = Helper.ReadSetting(kSettingsKeyPath, "OpenDir");
  request.Filter = kOpenMediaFilter;
  std::optional<std::string> chosen = desktop_.OpenFileDialog(request);
  if (!chosen) return;
  Combo1.Text = *chosen;
  Helper.WriteSetting(kSettingsKeyPath, "OpenDir", DirectoryOf(*chosen));
}

}  // namespace qor
