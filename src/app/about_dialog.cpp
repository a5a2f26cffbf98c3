#include "app/about_dialog.h"

#include "app/app_constants.h"

namespace qor {

TAboutDialog::TAboutDialog() {
  Name = "AboutDialog";
  Caption = "About";
  Memo1.Name = "Memo1";
  Memo1.ReadOnly = true;
  Memo1.Lines.Add("Qor version information and web site:-");
  Memo1.Lines.Add("");
  Memo1.Lines.Add(std::string("Qor  Program Version\t") + kProgramVersion);
  Memo1.Lines.Add(std::string("MMS  Protocol Version\t") + kMmsProtocolVersion);
  Memo1.Lines.Add(std::string("HTTP Protocol Version\t") + kHttpProtocolVersion);
  Memo1.Lines.Add(std::string("Release Date\t\t") + kReleaseDate);
  Memo1.Lines.Add(std::string("Author\t\t\t") + kAuthorText);
  Memo1.Lines.Add("Web Site\t\t" + WebSiteAddress());
  Memo1.Lines.Add(std::string("Copyright\t\t") + kCopyrightText);
  Memo1.Lines.Add(std::string("Licence\t\t\t") + kLicenceName);
  OKButton.Name = "OKButton";
  OKButton.Caption = "&OK";
  OKButton.ModalResult = mrOk;
  OKButton.Default = true;
  OKButton.OnClick = [this] { Close(); };
  Adopt(OKButton);
}

}  // namespace qor
